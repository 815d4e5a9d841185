"""Command line shared by zephrant_server.py and testserver.py."""

import argparse
import logging
import os
import signal
import sys

from . import rules
from .board import BoardError, ScoreBoard
from .db import describe
from .service import Limits, ScoreService
from .queue import ReplayQueue, Workers
from .verify import Verifier
from .web import WebPages
from .wire import ScoreHTTPServer, ScoreRequestHandler

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_CONSTANTS = os.path.join(SERVER_DIR, os.pardir, "scores", "challenge_constants.h")
DEFAULT_WEB_PLAYER = os.path.join(SERVER_DIR, os.pardir, "build", "web")


def default_verifier() -> str:
    """zephrant-verify installed beside the server, else the one built in
    ../build, else the game itself there (`zephrant --verify` says the same)."""
    candidates = [os.path.join(SERVER_DIR, "zephrant-verify"),
                  os.path.join(SERVER_DIR, os.pardir, "build", "zephrant-verify"),
                  os.path.join(SERVER_DIR, os.pardir, "build", "zephrant")]
    for program in candidates:
        if os.access(program, os.X_OK):
            return os.path.normpath(program)
    return os.path.normpath(candidates[1])


DEFAULT_VERIFIER = default_verifier()


def add_common_options(parser: argparse.ArgumentParser, port_default: int):
    d = Limits()
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)")
    parser.add_argument("--port", type=int, default=port_default,
                        help=f"TCP port, 0 for any free one (default {port_default})")
    parser.add_argument("--print-port", action="store_true",
                        help='print "PORT <n>" as the first line of standard output')
    parser.add_argument("--constants", default=os.path.normpath(DEFAULT_CONSTANTS),
                        help="the game's challenge_constants.h (default: %(default)s)")
    parser.add_argument("--challenge-ttl", type=float, default=d.challenge_ttl,
                        help="seconds a challenge can be answered (default %(default)s)")
    parser.add_argument("--challenges-per-minute", type=int, default=d.challenges_per_minute,
                        help="challenges per client address per minute (default %(default)s)")
    parser.add_argument("--uploads-per-minute", type=int, default=d.uploads_per_minute,
                        help="uploads per client address per minute (default %(default)s)")
    parser.add_argument("--timeout", type=float, default=d.request_timeout,
                        help="seconds a client has to send its whole request (default %(default)s)")
    parser.add_argument("--max-connections", type=int, default=d.connections,
                        help="connections served at once (default %(default)s)")
    parser.add_argument("--per-address-connections", type=int, default=None,
                        help=f"connections from one address at once "
                             f"(default {d.connections_per_address})")
    parser.add_argument("--trusted-proxy", action="append", default=[], metavar="ADDRESS",
                        help="a reverse proxy in front of the server: for connections from "
                             "it the client is the last address in X-Forwarded-For "
                             "(may be given more than once)")
    parser.add_argument("--verifier", default=os.path.normpath(DEFAULT_VERIFIER),
                        help="the verifier, run as `PROGRAM --verify FILE` to check "
                             "each replay (default: %(default)s)")
    parser.add_argument("--verify-workers", type=int, default=2,
                        help="replays verified at once in this process, 0 when "
                             "zephrant_verifyd verifies them (default %(default)s)")
    parser.add_argument("--verify-queue", type=int, default=16,
                        help="replays of one client waiting for a worker before more are "
                             "refused (default %(default)s)")
    parser.add_argument("--verify-memory-mb", type=int, default=1024,
                        help="address space a verifier may take, 0 for no limit (a sanitizer "
                             "build of the game needs 0) (default %(default)s)")
    parser.add_argument("--unverified", action="store_true",
                        help="store uploads without a verified replay (no cheat protection)")
    parser.add_argument("--web-player", default=os.path.normpath(DEFAULT_WEB_PLAYER),
                        help="folder of zephrant-web.js and .wasm, the replay player of the "
                             "watch pages (default: %(default)s)")
    parser.add_argument("--no-pages", action="store_true",
                        help="serve only the game's requests, no web pages")
    parser.add_argument("--quiet", action="store_true", help="no request log")


def limits_from(args) -> Limits:
    return Limits(challenge_ttl=args.challenge_ttl,
                  challenges_per_minute=args.challenges_per_minute,
                  uploads_per_minute=args.uploads_per_minute,
                  request_timeout=args.timeout,
                  connections=args.max_connections,
                  connections_per_address=min(Limits.connections_per_address,
                                              args.max_connections)
                  if args.per_address_connections is None
                  else args.per_address_connections)


def run(args, db_path: str, handler=ScoreRequestHandler, prepare=None,
        banner: str = "") -> int:
    """Opens the board, listens, and serves until SIGINT or SIGTERM.
    `prepare(server)` runs once the socket is bound, before serving."""
    logging.basicConfig(stream=sys.stderr, format="%(asctime)s %(message)s",
                        level=logging.WARNING if args.quiet else logging.INFO)
    try:
        constants = rules.read_challenge_constants(args.constants)
        board = ScoreBoard(db_path)
    except (rules.ConstantsError, BoardError, OSError) as e:
        print(f"zephrant_server: {e}", file=sys.stderr)
        return 2
    except Exception as e:      # sqlite3 refuses a file that is not a database
        print(f"zephrant_server: {describe(db_path)}: {e}", file=sys.stderr)
        return 2
    queue = workers = None
    if not args.unverified:
        if args.verify_workers > 0 and not os.access(args.verifier, os.X_OK):
            print(f"zephrant_server: {args.verifier}: no verifier to run (build the game, "
                  f"give --verifier, or --unverified)", file=sys.stderr)
            board.close()
            return 2
        queue = ReplayQueue(db_path, per_client=args.verify_queue,
                            per_block=4 * args.verify_queue)
        verifier = Verifier(os.path.abspath(args.verifier),
                            memory_mb=args.verify_memory_mb or None)
    limits = limits_from(args)
    service = ScoreService(board, constants, limits, queue=queue)
    if queue is not None:
        # Verdicts join the counts logged once a minute, like refusals.
        workers = Workers(queue, verifier, args.verify_workers, tally=service.served.add)
    pages = None if args.no_pages else WebPages(db_path, queue, args.web_player,
                                                per_minute=limits.pages_per_minute)
    try:
        server = ScoreHTTPServer(args.host, args.port, service, handler,
                                 trusted_proxies=args.trusted_proxy, pages=pages)
    except OSError as e:
        print(f"zephrant_server: cannot listen on {args.host}:{args.port}: {e.strerror}",
              file=sys.stderr)
        if workers is not None:
            workers.stop()
        if pages is not None:
            pages.close()
        board.close()
        return 2
    if prepare is not None:
        prepare(server)
    if args.print_port:
        print(f"PORT {server.port}", flush=True)

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    logging.getLogger("zephrant.server").warning(
        "serving on %s:%d, board %s%s", args.host, server.port, describe(db_path), banner)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        server.log_refusals()
        if workers is not None:
            workers.stop()
            queue.close()
        if pages is not None:
            pages.close()
        board.close()
    return 0
