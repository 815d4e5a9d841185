"""Every score server case again, on PostgreSQL: each case class of the
test_*.py modules here that names its board with `new_database`, less the
cases it names `board_free`.

    /usr/bin/python3 -m unittest discover -s server/tests               # SQLite
    /usr/bin/python3 -m unittest discover -s server/tests -p pg_test.py # PostgreSQL

A throw-away cluster (../pgcluster.py) is started for the run; each case gets
a database of its own. Where PostgreSQL cannot be started these cases fail
with the reason; they are never skipped.
"""

import glob
import importlib
import itertools
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import pgcluster  # noqa: E402

_numbers = itertools.count(1)


class OnPostgres:
    backend = "postgresql"

    def new_database(self):
        return pgcluster.shared().create_database(f"case{next(_numbers)}")


def _mirror():
    here = os.path.dirname(os.path.abspath(__file__))
    for path in sorted(glob.glob(os.path.join(here, "test_*.py"))):
        module = importlib.import_module(os.path.basename(path)[:-3])
        for name, case in vars(module).items():
            if isinstance(case, type) and issubclass(case, unittest.TestCase) \
                    and case.__module__ == module.__name__ and hasattr(case, "new_database"):
                skipped = {test: None for test in getattr(case, "board_free", ())}
                yield f"{name}OnPostgres", type(f"{name}OnPostgres", (OnPostgres, case), skipped)


globals().update(_mirror())


class ReconnectTest(unittest.TestCase):
    def test_the_board_outlives_a_dropped_connection(self):
        import psycopg
        from zscores.board import ScoreBoard
        cluster = pgcluster.shared()
        name = f"case{next(_numbers)}"
        board = ScoreBoard(cluster.create_database(name))
        self.addCleanup(board.close)

        def drop():     # as a restart of the database does
            with psycopg.connect(cluster.url, autocommit=True) as db:
                db.execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                           " WHERE datname = %s", (name,))
        board.submit("Ann", "A1", 5, "10.0.0.1")
        drop()
        self.assertEqual(board.rows(), [("Ann", "A1", "5")])
        drop()
        board.submit("Bob", "A1", 6, "10.0.0.1")
        self.assertEqual(board.rows(), [("Bob", "A1", "6"), ("Ann", "A1", "5")])
