#!/usr/bin/python3
"""Moderating a Zephrant score board, while the server runs or not.

    python3 server/zephrant_admin.py --db scores.db list [--name NAME] [--removed] [-n 50]
    python3 server/zephrant_admin.py --db scores.db remove ID
    python3 server/zephrant_admin.py --db scores.db restore ID
    python3 server/zephrant_admin.py --db scores.db ban name|key|address VALUE
    python3 server/zephrant_admin.py --db scores.db unban name|key|address VALUE
    python3 server/zephrant_admin.py --db scores.db bans
    python3 server/zephrant_admin.py --db scores.db backup FILE

A running server sees every change with its next request. Nothing is ever
deleted: a removed score and a banned name, key or address only stop
counting, and `restore` / `unban` bring them back.
"""

import argparse
import os
import sqlite3
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores.board import BAN_KINDS, BoardError, Moderation  # noqa: E402


def main(argv=None, out=sys.stdout) -> int:
    parser = argparse.ArgumentParser(description="Zephrant score board moderation")
    parser.add_argument("--db", required=True, help="the server's SQLite file")
    sub = parser.add_subparsers(dest="command", required=True)
    listing = sub.add_parser("list", help="stored scores, best first")
    listing.add_argument("--name")
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
    sub.add_parser("backup", help="a consistent copy, safe while the server runs").add_argument(
        "file")
    args = parser.parse_args(argv)

    if not os.path.exists(args.db):
        print(f"zephrant_admin: {args.db}: no such board", file=sys.stderr)
        return 2
    try:
        mod = Moderation(args.db)
    except (BoardError, sqlite3.Error) as e:
        print(f"zephrant_admin: {args.db}: {e}", file=sys.stderr)
        return 2
    try:
        return run(mod, args, out)
    except sqlite3.Error as e:
        print(f"zephrant_admin: {e}", file=sys.stderr)
        return 2
    finally:
        mod.close()


def run(mod: Moderation, args, out) -> int:
    if args.command == "list":
        print(f"{'id':>7} {'name':20} lv {'score':>7}  {'key':16} address  flags", file=out)
        for row_id, name, level, score, key, address, removed, replay in mod.list(
                args.n, args.name, args.removed):
            flags = ("removed " if removed else "") + ("replay" if replay else "")
            print(f"{row_id:>7} {name:20} {level:2} {score:>7}  {key[:16]:16} {address}  {flags}",
                  file=out)
    elif args.command in ("remove", "restore"):
        if not mod.set_removed(args.id, args.command == "remove"):
            print(f"zephrant_admin: no stored score {args.id}", file=sys.stderr)
            return 1
    elif args.command == "ban":
        mod.ban(args.kind, args.value)
    elif args.command == "unban":
        if not mod.unban(args.kind, args.value):
            print(f"zephrant_admin: {args.kind} {args.value!r} was not banned", file=sys.stderr)
            return 1
    elif args.command == "bans":
        for kind, value in mod.bans():
            print(f"{kind} {value}", file=out)
    elif args.command == "backup":
        mod.backup(args.file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
