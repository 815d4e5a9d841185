#!/usr/bin/python3
"""The score server for tests: a free port, a throw-away board, broken modes.

    python3 server/testserver.py [--mode MODE] [--challenge N] [--db FILE]

Prints "PORT <n>" as the first line of standard output as soon as it listens,
then "VERIFIED" or "REFUSED" each time a replay's verdict is written, and
serves until it is killed (SIGTERM or SIGINT). Without --db the board
lives in a temporary directory that is removed on exit. Rate limits are
generous so a test suite can run many exchanges in a minute.

Modes (see zscores/misbehave.py for the exact bytes): normal, hang, close,
nobof, garbage-bytes, garbage-fields, garbage-long, garbage-many, garbage.
"""

import argparse
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores import cli, misbehave  # noqa: E402
from zscores.wire import ScoreRequestHandler  # noqa: E402


class _Fixed:
    def __init__(self, value):
        self.value = value

    def randint(self, low, high):
        return self.value


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Zephrant score server for tests")
    cli.add_common_options(parser, port_default=0)
    parser.set_defaults(print_port=True, challenges_per_minute=1000,
                        uploads_per_minute=1000, per_address_connections=64, unverified=True)
    parser.add_argument("--verified", dest="unverified", action="store_false",
                        help="require a verified replay for every upload, as the real server")
    parser.add_argument("--db", default=None,
                        help="SQLite file (default: a temporary one, removed on exit)")
    parser.add_argument("--mode", choices=misbehave.MODES, default="normal",
                        help="normal serving, or one way of misbehaving")
    parser.add_argument("--challenge", type=int, default=None,
                        help="hand out this challenge number every time")
    parser.add_argument("--seed", type=int, default=1,
                        help="seed for garbage-bytes (default %(default)s)")
    args = parser.parse_args(argv)

    def prepare(server):
        service = server.service
        service.challenges.per_client = service.challenges.per_block = 1000
        service.replay_rate.limit = service.key_rate.limit = 1000
        if args.challenge is not None:
            server.service.challenges.rng = _Fixed(args.challenge)
        misbehave.install(server, args.mode, args.seed)
        if service.queue is not None:
            # Tests wait on these lines instead of asking again and again.
            finish = service.queue.finish

            def finish_and_tell(job, verdict):
                state = finish(job, verdict)
                if state is not None:
                    print("REFUSED" if state == "refused" else "VERIFIED", flush=True)
                return state
            service.queue.finish = finish_and_tell

    handler = ScoreRequestHandler if args.mode == "normal" else misbehave.MisbehavingHandler
    scratch = None
    db = args.db
    if db is None:
        scratch = tempfile.mkdtemp(prefix="zephrant-scores-")
        db = os.path.join(scratch, "scores.db")
    try:
        return cli.run(args, db, handler=handler, prepare=prepare,
                       banner=f", mode {args.mode}")
    finally:
        if scratch is not None:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
