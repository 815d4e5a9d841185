#!/usr/bin/python3
"""Moderating a Zephrant score board, while the server runs or not.

    python3 server/zephrant_admin.py --db scores.db list [--name NAME] [--removed] [-n 50]
    python3 server/zephrant_admin.py --db scores.db remove ID
    python3 server/zephrant_admin.py --db scores.db restore ID
    python3 server/zephrant_admin.py --db scores.db ban name|key|address VALUE
    python3 server/zephrant_admin.py --db scores.db unban name|key|address VALUE
    python3 server/zephrant_admin.py --db scores.db bans
    python3 server/zephrant_admin.py --db scores.db replays [--state refused] [-n 50]
    python3 server/zephrant_admin.py --db scores.db retry ID
    python3 server/zephrant_admin.py --db scores.db move-name NAME KEY
    python3 server/zephrant_admin.py --db scores.db backup FILE
    python3 server/zephrant_admin.py --db scores.db digest-plays [--verifier PROGRAM]

`--db` takes the server's SQLite file or its `postgresql://` URL. Each
command says what it did; `list` flags the scores whose name, key or
address is banned. A backup is readable by its owner alone (it holds keys
and addresses); of a PostgreSQL board it is pg_dump's custom format.

A running server sees every change with its next request. Nothing is ever
deleted: a removed score and a banned name, key or address only stop
counting, and `restore` / `unban` bring them back. `replays` shows what was
sent for verification and what became of it, refusals with their reason,
and the replays held because their verification could not finish (`retry`
puts one back in the queue once whatever cut it short is mended);
`move-name` gives a name (and its look-alikes) to another key, for a player
who lost theirs or a line stored without one. `digest-plays` plays again
every game verified before the verifier printed level digests, so that
copies of those games are refused like copies of newer ones, and names the
stored games that share a level with another key's or name's.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores import db as database  # noqa: E402
from zscores.board import BAN_KINDS, BoardError, Moderation  # noqa: E402
from zscores.cli import default_verifier  # noqa: E402
from zscores.service import KEY  # noqa: E402
from zscores.verify import Verifier  # noqa: E402

REPLAY_STATES = ("queued", "verified", "done", "refused", "held")


def main(argv=None, out=sys.stdout) -> int:
    parser = argparse.ArgumentParser(description="Zephrant score board moderation")
    parser.add_argument("--db", required=True,
                        help="the server's SQLite file or postgresql:// URL")
    sub = parser.add_subparsers(dest="command", required=True)
    listing = sub.add_parser("list", help="stored scores, best first")
    listing.add_argument("--name", help="only this name and its look-alikes")
    listing.add_argument("--removed", action="store_true", help="only removed ones")
    listing.add_argument("-n", type=int, default=50, help="at most this many (default 50)")
    for name in ("remove", "restore"):
        sub.add_parser(name, help=f"{name} one stored score by its id").add_argument(
            "id", type=int)
    for name in ("ban", "unban"):
        p = sub.add_parser(name, help=f"{name} a name, a key or an address")
        p.add_argument("kind", choices=BAN_KINDS)
        p.add_argument("value")
    sub.add_parser("bans", help="what is banned")
    replays = sub.add_parser("replays", help="replays sent for verification, newest first")
    replays.add_argument("--state", choices=REPLAY_STATES)
    replays.add_argument("-n", type=int, default=50, help="at most this many (default 50)")
    sub.add_parser("retry", help="put a held replay back in the queue").add_argument(
        "id", type=int)
    move = sub.add_parser("move-name", help="give a name and its look-alikes to another key")
    move.add_argument("name")
    move.add_argument("key", help="32 hex digits, as `zephrant --online-key` shows them")
    sub.add_parser("backup", help="a consistent copy, safe while the server runs").add_argument(
        "file")
    digest = sub.add_parser("digest-plays",
                            help="level digests for games verified before the verifier had them")
    digest.add_argument("--verifier", default=default_verifier(),
                        help="the verifier, as the server runs it (default: %(default)s)")
    args = parser.parse_args(argv)

    if not database.is_url(args.db) and not os.path.exists(args.db):
        print(f"zephrant_admin: {args.db}: no such board", file=sys.stderr)
        return 2
    try:
        mod = Moderation(args.db)
    except (BoardError, *database.Error) as e:
        print(f"zephrant_admin: {database.describe(args.db)}: {e}", file=sys.stderr)
        return 2
    try:
        return run(mod, args, out)
    except (BoardError, OSError, *database.Error) as e:
        print(f"zephrant_admin: {e}", file=sys.stderr)
        return 2
    finally:
        mod.close()


def run(mod: Moderation, args, out) -> int:
    if args.command == "list":
        print(f"{'id':>7} {'name':20} lv {'score':>7}  {'key':16} address  flags", file=out)
        for row_id, name, level, score, key, address, removed, replay, banned in mod.list(
                args.n, args.name, args.removed):
            flags = " ".join((["removed"] if removed else []) + (["replay"] if replay else [])
                             + [f"banned-{kind}" for kind in banned])
            print(f"{row_id:>7} {name:20} {level:2} {score:>7}  {key[:16]:16} {address}  {flags}",
                  file=out)
    elif args.command in ("remove", "restore"):
        if not mod.set_removed(args.id, args.command == "remove"):
            print(f"zephrant_admin: no stored score {args.id}", file=sys.stderr)
            return 1
        name, level, score = mod.score(args.id)
        print(f"{args.command}d score {args.id}: {name} {level} {score}", file=out)
    elif args.command == "ban":
        if mod.ban(args.kind, args.value):
            print(f"banned {args.kind} {args.value!r}", file=out)
        else:
            print(f"{args.kind} {args.value!r} was banned already", file=out)
    elif args.command == "unban":
        if not mod.unban(args.kind, args.value):
            print(f"zephrant_admin: {args.kind} {args.value!r} was not banned", file=sys.stderr)
            return 1
        print(f"unbanned {args.kind} {args.value!r}", file=out)
    elif args.command == "bans":
        for kind, value in mod.bans():
            print(f"{kind} {value}", file=out)
    elif args.command == "replays":
        print(f"{'id':>7} {'when (UTC)':19} {'state':8} {'name':20} lv {'score':>7}  "
              f"{'key':16} {'address':15} {'cpu s':>6}  reason or status", file=out)
        for (row_id, created, state, name, level, score, key, address, cpu,
             why) in mod.replays(args.n, args.state):
            when = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(created))
            cpu = "" if cpu is None else f"{cpu:.2f}"
            print(f"{row_id:>7} {when:19} {state:8} {name:20} {level:2} {score:>7}  "
                  f"{key[:16]:16} {address:15} {cpu:>6}  {why}", file=out)
    elif args.command == "retry":
        if not mod.retry(args.id):
            print(f"zephrant_admin: no held replay {args.id}", file=sys.stderr)
            return 1
        print(f"replay {args.id} is queued again", file=out)
    elif args.command == "move-name":
        if not KEY.fullmatch(args.key):
            print("zephrant_admin: a key is 32 lower-case hex digits", file=sys.stderr)
            return 1
        before = mod.move_name(args.name, args.key)
        print(f"{args.name!r} belonged to {before or 'no key'}; now to {args.key}", file=out)
    elif args.command == "digest-plays":
        if not os.access(args.verifier, os.X_OK):
            print(f"zephrant_admin: {args.verifier}: no verifier to run", file=sys.stderr)
            return 1
        verifier, games, failed = Verifier(args.verifier), mod.undigested(), 0
        for replay_id, score_id in games:
            what = f"score {score_id}" if score_id is not None else f"replay {replay_id}"
            why, shared = mod.digest(replay_id, score_id, verifier.run)
            if why:
                failed += 1
                print(f"{what}: not digested: {why}", file=out)
            for key, name_key, other_replay, other_score in shared:
                other = f"score {other_score}" if other_score else f"replay {other_replay}"
                print(f"{what}: shares a level with {other} ({name_key!r}, key {key[:16]})",
                      file=out)
        print(f"{len(games) - failed} of {len(games)} games digested", file=out)
        return 1 if failed else 0
    elif args.command == "backup":
        how = mod.backup(args.file)
        print(f"backed up {database.describe(args.db)} to {args.file} ({how});"
              f" readable by its owner only", file=out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
