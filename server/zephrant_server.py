#!/usr/bin/python3
"""Zephrant's online score board.

    python3 server/zephrant_server.py --port 8480 --db scores.db

Serves /netscores/zephrant/getScores.php, challenge.php and updateScores.php
over HTTP/1.0 and keeps the board in an SQLite file or in PostgreSQL. See
README.md here.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores import cli  # noqa: E402


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Zephrant score server")
    cli.add_common_options(parser, port_default=8480)
    parser.add_argument("--db", default="zephrant_scores.db",
                        help="SQLite file holding the board, or a postgresql:// URL "
                             "(default %(default)s)")
    args = parser.parse_args(argv)
    return cli.run(args, args.db)


if __name__ == "__main__":
    sys.exit(main())
