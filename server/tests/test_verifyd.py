"""zephrant_verifyd: verification in processes of their own."""

import os
import signal
import subprocess
import tempfile
import unittest

from test_server import PYTHON, SERVER_DIR, real_verifier, recorded_replay, wait_for
from zscores import db as database, rules
from zscores.board import ScoreBoard
from zscores.queue import Claim, ReplayQueue


class VerifydTest(unittest.TestCase):
    backend = "sqlite"

    def new_database(self):
        return os.path.join(self.tmp.name, "scores.db")

    def setUp(self):
        self.program, self.recorded = real_verifier(), recorded_replay()
        if self.program is None or self.recorded is None or os.environ.get("ZEPHRANT_SANITIZE"):
            self.skipTest("needs the built verifier (not a sanitizer build) and a replay")
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.db = self.new_database()

    def daemon(self, verifier, lease=600):
        proc = subprocess.Popen([PYTHON, os.path.join(SERVER_DIR, "zephrant_verifyd.py"),
                                 "--db", self.db, "--workers", "1", "--verifier", verifier,
                                 "--lease", str(lease), "--poll", "0.1", "--quiet"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdout.close(),
                                 proc.stderr.close()))
        if proc.stdout.readline() != "READY\n":
            self.fail(f"zephrant_verifyd did not start: {proc.stderr.read()}")
        return proc

    @staticmethod
    def end_sessions(pids):
        """Ends what a killed worker's verifier left running (each its own session)."""
        with open(pids) as f:
            for pid in f.read().split():
                try:
                    os.killpg(int(pid), signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def row(self):
        with database.connect(self.db) as db:
            return db.execute("SELECT state, claimed_by, attempts FROM replays").fetchone()

    def test_a_worker_killed_mid_replay_loses_nothing(self):
        replay, score, level = self.recorded
        front = ReplayQueue(self.db)            # what the web front does, with no workers
        self.addCleanup(front.close)
        self.assertEqual(front.enqueue("10.0.0.1", "c" * 32, "Kim", replay,
                                       Claim(score, level))[0], rules.VERIFYING)
        self.assertEqual(front.match_upload("10.0.0.1", "Kim", level, score), rules.VERIFYING)
        # A worker still playing when it is stopped or killed.
        slow = os.path.join(self.tmp.name, "slow-verifier")
        with open(slow, "w") as f:
            f.write(f"#!/bin/sh\necho $$ >> {slow}.pids\nsleep 600\nexec {self.program} \"$@\"\n")
        os.chmod(slow, 0o755)
        self.addCleanup(self.end_sessions, slow + ".pids")
        # Stopped, a worker gives its replay back at once, not as an attempt.
        stopped = self.daemon(slow)
        self.assertTrue(wait_for(lambda: self.row()[1] is not None), self.row())
        stopped.terminate()
        self.assertEqual(stopped.wait(timeout=120), 0)
        self.assertEqual(self.row(), ("queued", None, 0))
        # Killed while it holds the claim: a worker started on the same host
        # gives the claim back at once, and the cut-short try counts.
        killed = self.daemon(slow)
        self.assertTrue(wait_for(lambda: self.row()[1] is not None), self.row())
        killed.send_signal(signal.SIGKILL)
        killed.wait()
        self.daemon(self.program)
        self.assertTrue(wait_for(lambda: self.row()[0] == "done"), self.row())
        self.assertEqual(self.row(), ("done", None, 2))
        board = ScoreBoard(self.db)
        self.addCleanup(board.close)
        self.assertEqual(board.rows(), [("Kim", level, str(score))])
