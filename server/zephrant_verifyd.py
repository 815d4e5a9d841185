#!/usr/bin/python3
"""Verifier workers for a Zephrant score board, in a process of their own.

    python3 server/zephrant_verifyd.py --db postgresql://zs@db.example/scores --workers 4

Claims queued replays from the board's database under a lease, plays each
with the game's verifier (`zephrant-verify`, which needs no display
libraries), and writes the verdict, and the score when its upload has come,
in one transaction. Any number of these may run, on any machines that reach
the database; the web front (`zephrant_server.py --verify-workers 0`) then
verifies nothing itself. A worker killed mid-replay loses nothing: its lease
runs out (or, on the same host, the next start gives it back at once) and
another worker plays the replay again.

On an SQLite board it works the same beside a server on one machine.
Stops cleanly on SIGTERM or Ctrl-C, giving back the replays it was
verifying.
"""

import argparse
import logging
import os
import signal
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores import db as database  # noqa: E402
from zscores.board import BoardError  # noqa: E402
from zscores.cli import default_verifier  # noqa: E402
from zscores.queue import ReplayQueue, Workers  # noqa: E402
from zscores.verify import Verifier  # noqa: E402


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Zephrant replay verifier workers")
    parser.add_argument("--db", required=True,
                        help="the board: a postgresql:// URL, or the server's SQLite file")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="replays verified at once (default: the number of cores, "
                             "%(default)s here)")
    parser.add_argument("--verifier", default=default_verifier(),
                        help="run as `PROGRAM --verify FILE` (default: %(default)s)")
    parser.add_argument("--verify-memory-mb", type=int, default=1024,
                        help="address space a verifier may take, 0 for no limit "
                             "(default %(default)s)")
    parser.add_argument("--lease", type=float, default=60.0,
                        help="seconds a claim holds before another worker may take the "
                             "replay (longer than a verification may last; default %(default)s)")
    parser.add_argument("--poll", type=float, default=1.0,
                        help="seconds between looks at the queue when idle; PostgreSQL "
                             "also wakes the workers when a replay arrives (default %(default)s)")
    parser.add_argument("--quiet", action="store_true", help="only errors")
    args = parser.parse_args(argv)
    logging.basicConfig(stream=sys.stderr, format="%(asctime)s %(message)s",
                        level=logging.WARNING if args.quiet else logging.INFO)
    log = logging.getLogger("zephrant.verifyd")

    if args.workers < 1:
        parser.error("--workers must be 1 or more")
    if not os.access(args.verifier, os.X_OK):
        print(f"zephrant_verifyd: {args.verifier}: no verifier to run (build zephrant-verify "
              f"or give --verifier)", file=sys.stderr)
        return 2
    try:
        queue = ReplayQueue(args.db, lease=args.lease)
    except (BoardError, database.DatabaseError, *database.Error) as e:
        print(f"zephrant_verifyd: {database.describe(args.db)}: {e}", file=sys.stderr)
        return 2

    def wake():
        with queue.arrived:
            queue.arrived.notify_all()

    threading.Thread(target=database.listen, args=(args.db, wake), daemon=True,
                     name="listen").start()
    verifier = Verifier(args.verifier, memory_mb=args.verify_memory_mb or None)
    workers = Workers(queue, verifier, args.workers, idle_poll=args.poll)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    log.warning("verifying for %s with %d worker%s, %s", database.describe(args.db),
                args.workers, "" if args.workers == 1 else "s", args.verifier)
    print("READY", flush=True)
    while not stop.wait(1.0):       # woken by the signal's handler, whichever thread took it
        pass
    workers.stop()
    queue.close()
    log.warning("stopped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
