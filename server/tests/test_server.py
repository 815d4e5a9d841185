"""Score server tests: the game's exact bytes over real sockets.

Run from anywhere:  /usr/bin/python3 -m unittest discover -s server/tests
"""

import os
import re
import select
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import logging
import tempfile
import threading
import time
import unittest
import zlib
from contextlib import closing

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, SERVER_DIR)

from zscores import db as database, rules  # noqa: E402
from zscores.board import Moderation, ScoreBoard, banned  # noqa: E402
from zscores.cli import DEFAULT_CONSTANTS  # noqa: E402
from zscores.queue import Claim, ReplayQueue, Verdict, Workers  # noqa: E402
from zscores.service import Limits, ScoreService  # noqa: E402
from zscores.verify import Verifier  # noqa: E402
from zscores.wire import ScoreHTTPServer  # noqa: E402

logging.getLogger("zephrant.server").setLevel(logging.ERROR)   # no refusal counts here

PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
CONSTANTS = rules.read_challenge_constants(DEFAULT_CONSTANTS)
HOST = "score.example"


# -- what the game sends and how it reads the reply -------------------------

def game_get(script: str) -> bytes:
    # The request line, then a "line" holding one LF: LF CR LF.
    return f"GET http://{HOST}/netscores/zephrant/{script} HTTP/1.0\r\n\n\r\n".encode()


def game_post(body: str) -> bytes:
    return (f"POST http://{HOST}/netscores/zephrant/updateScores.php HTTP/1.0\r\n"
            f"Host: Brimwax\r\n"
            f"Content-Length: {len(body) + 5}\r\n"
            f"Content-Type: application/x-www-form-urlencoded\r\n"
            f"\r\n{body}\r\n\n\r\n").encode("latin-1")


def upload_body(record_id, solution, name, level, score) -> str:
    return f"recID={record_id}&solution={solution}&name={name}&level={level}&score={score}"


def game_lines(reply: bytes):
    """The lines after the first one holding "bof", read as the game does:
    CR dropped, lines end at LF or NUL. None when there is no "bof" line."""
    lines = reply.replace(b"\r", b"").replace(b"\0", b"\n").split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    for i, line in enumerate(lines):
        if b"bof" in line:
            return [l.decode("latin-1") for l in lines[i + 1:]]
    return None


def exchange(port, data, source="127.0.0.1", pieces=None, timeout=60.0) -> bytes:
    """Sends the bytes (optionally in pieces with pauses) and reads to the close."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                  source_address=(source, 0)) as s:
        for piece in (pieces or [data]):
            s.sendall(piece)
            if pieces:
                time.sleep(0.02)
        out = b""
        while chunk := s.recv(65536):
            out += chunk
        return out


def status_code(reply: bytes) -> int:
    return int(reply.split(b" ", 2)[1])


# Limits for cases whose requests come back to back from one address, faster
# than a loaded server may let go of the finished connections; the caps are
# tested with limits of their own.
BACK_TO_BACK = {"uploads_per_minute": 1000, "challenges_per_minute": 1000,
                "connections_per_address": 64}


class FakeClock:
    def __init__(self):
        self.now = 1000.0

    def __call__(self):
        return self.now


class ServerCase(unittest.TestCase):
    """Starts a server on a free loopback port with its own board file."""

    limits = {}
    verifier = None         # uploads need no replay unless a case brings a verifier
    backend = "sqlite"      # pg_test.py runs every case on PostgreSQL as well

    def new_database(self):
        return os.path.join(self.tmp.name, "scores.db")

    def raw(self):
        """The board's database, to change or read behind the server's back."""
        return closing(database.connect(self.db))

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.db = self.new_database()
        self.clock = FakeClock()
        self.server = None
        self.start()

    def tearDown(self):
        self.stop()
        self.tmp.cleanup()

    def start(self, **overrides):
        limits = Limits(**{**self.limits, **overrides})
        self.board = ScoreBoard(self.db)
        self.queue = self.workers = None
        if self.verifier is not None:
            # No worker threads: a case verifies what is queued when it says
            # so (`verify_queued`), so no state changes behind its back.
            self.queue = ReplayQueue(self.db)
            self.workers = Workers(self.queue, self.verifier, 0)
        self.service = ScoreService(self.board, CONSTANTS, limits, clock=self.clock,
                                    queue=self.queue)
        self.server = ScoreHTTPServer("127.0.0.1", 0, self.service)
        self.port = self.server.port
        self.server.serve_in_thread()

    def settle(self, timeout=120.0):
        """Waits until the server has let go of every finished connection, so
        that lingering ones do not count against the next test's caps."""
        deadline = time.monotonic() + timeout
        while self.server._admitted and time.monotonic() < deadline:
            time.sleep(0.01)

    def stop(self):
        if self.server is not None:
            self.server.stop()
            if self.workers is not None:
                self.workers.stop()
                self.queue.close()
            self.board.close()
            self.server = None

    def verify_queued(self):
        """Verifies the queued replays one at a time, in the order workers
        take them; the states of every replay, oldest first."""
        while self.workers.step("test:driver") is not None:
            pass
        with self.raw() as db:
            return db.execute("SELECT state, reason FROM replays ORDER BY id").fetchall()

    def get(self, script, **kw):
        return exchange(self.port, game_get(script), **kw)

    def challenge(self, **kw):
        lines = game_lines(self.get("challenge.php", **kw))
        return lines[0], int(lines[1])

    def post(self, body, **kw):
        return game_lines(exchange(self.port, game_post(body), **kw))

    def upload(self, name, level, score, source="127.0.0.1"):
        record_id, challenge = self.challenge(source=source)
        lines = self.post(upload_body(record_id, CONSTANTS.solution(challenge),
                                      name, level, score), source=source)
        return lines[0]

    def board_lines(self):
        return game_lines(self.get("getScores.php"))

    def admin(self, *args):
        import io
        import zephrant_admin
        out = io.StringIO()
        return zephrant_admin.main(["--db", self.db, *args], out=out), out.getvalue()


class WireTest(ServerCase):
    def test_board_reply_is_http_then_bof_then_nothing_on_empty_board(self):
        reply = self.get("getScores.php")
        head, _, body = reply.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 "))
        self.assertNotIn(b"bof", head)
        self.assertEqual(body, b"bof\n")
        self.assertEqual(reply.count(b"HTTP/1.0"), 1)   # the stray CR LF is no request

    def test_request_written_line_by_line_is_answered_once(self):
        # The game writes each text and its CR LF separately.
        pieces = [f"GET http://{HOST}/netscores/zephrant/getScores.php HTTP/1.0".encode(),
                  b"\r\n", b"\n", b"\r\n"]
        reply = exchange(self.port, None, pieces=pieces)
        self.assertEqual(status_code(reply), 200)
        self.assertEqual(game_lines(reply), [])
        self.assertEqual(reply.count(b"HTTP/1.0"), 1)

    def test_upload_round_trip_with_the_games_bytes(self):
        reply = self.get("challenge.php")
        self.assertNotIn(b"bof", reply.partition(b"\r\n\r\n")[0])
        record_id, challenge = game_lines(reply)
        self.assertRegex(record_id, r"^[0-9a-f]{16}$")
        self.assertTrue(100_000 <= int(challenge) <= 999_999)
        body = upload_body(record_id, CONSTANTS.solution(int(challenge)),
                           "Bob Smith", "C3", 12345)
        reply = exchange(self.port, game_post(body))
        self.assertEqual(status_code(reply), 200)
        self.assertEqual(game_lines(reply), ["1"])
        self.assertEqual(self.board_lines(), ["Bob Smith,C3,12345"])

    def test_solution_uses_32_bit_wrapping(self):
        k, m, d = CONSTANTS.k, CONSTANTS.m, CONSTANTS.d
        big = 2**30 - k              # (challenge + K) * M overflows to a negative
        expected = ((big + k) * m - d) & 0xFFFFFFFF
        expected -= 2**32 if expected >= 2**31 else 0
        self.assertEqual(CONSTANTS.solution(big), expected)
        self.assertLess(expected, 0)
        self.service.challenges.rng = type("R", (), {"randint": lambda *_: big})()
        record_id, challenge = self.challenge()
        self.assertEqual(challenge, big)
        self.assertEqual(self.post(upload_body(record_id, expected, "Wrap", "A1", 5)), ["1"])

    def test_unknown_paths_and_methods(self):
        self.assertEqual(status_code(exchange(self.port, b"GET /other HTTP/1.0\r\n\r\n")), 404)
        reply = exchange(self.port, game_get("updateScores.php"))
        self.assertEqual(game_lines(reply), [rules.MALFORMED])
        self.assertEqual(status_code(exchange(
            self.port, b"DELETE /netscores/zephrant/getScores.php HTTP/1.0\r\n\r\n")), 501)
        # A relative target works as well as the game's absolute one.
        reply = exchange(self.port, b"GET /netscores/zephrant/getScores.php?x=1 HTTP/1.0\r\n\r\n")
        self.assertEqual(game_lines(reply), [])


class BoardTest(ServerCase):
    limits = {**BACK_TO_BACK, "challenges_per_client": 64}

    def test_best_first_ties_in_order_of_arrival(self):
        for name, score in [("Ann", 500), ("Bob", 700), ("Cid", 500), ("Dee", 0),
                            ("Eve", 700), ("Fay", "0000600")]:
            self.assertEqual(self.upload(name, "B2", score), rules.STORED)
        self.assertEqual(self.board_lines(), [
            "Bob,B2,700", "Eve,B2,700", "Fay,B2,600", "Ann,B2,500", "Cid,B2,500", "Dee,B2,0"])

    def test_a_name_keeps_only_its_best_score(self):
        self.upload("Ann", "A1", 500)
        self.upload("Bob", "A1", 800)
        self.assertEqual(self.upload("Ann", "Z6", 500), rules.NOT_BETTER)
        self.assertEqual(self.upload("Ann", "Z6", 400), rules.NOT_BETTER)
        self.assertEqual(self.board_lines(), ["Bob,A1,800", "Ann,A1,500"])
        # A better score replaces the row and arrives anew: after Bob's equal score.
        self.assertEqual(self.upload("Ann", "C4", 800), rules.STORED)
        self.assertEqual(self.board_lines(), ["Bob,A1,800", "Ann,C4,800"])
        # A look-alike spelling is the same line; a better score shows it
        # as that upload typed it, a new name family is a line of its own.
        self.assertEqual(self.upload("ANN.", "A1", 800), rules.NOT_BETTER)
        self.assertEqual(self.upload("A-nn.", "C5", 801), rules.STORED)
        self.assertEqual(self.upload("Anna", "A1", 1), rules.STORED)
        self.assertEqual(self.board_lines(), ["A-nn.,C5,801", "Bob,A1,800", "Anna,A1,1"])

    def test_parallel_uploads(self):
        results = {}

        def play(i):
            results[i] = self.upload(f"T{i:02d}", "A1", 100 + i % 5)
        threads = [threading.Thread(target=play, args=(i,)) for i in range(24)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(set(results.values()), {rules.STORED})
        scores = [int(l.split(",")[2]) for l in self.board_lines()]
        self.assertEqual(len(scores), 24)
        self.assertEqual(scores, sorted(scores, reverse=True))

    def test_board_holds_at_most_1000_lines(self):
        self.stop()
        with self.raw() as db:
            db.executemany(
                "INSERT INTO scores (name, level, score, created, address, name_key)"
                " VALUES (?,?,?,0,'',?)",
                [(f"P{i:04d}", "A1", 2000 - i, rules.name_key(f"P{i:04d}")) for i in range(1005)])
        self.start()
        lines = self.board_lines()
        self.assertEqual(len(lines), 1000)
        self.assertEqual(lines[0], "P0000,A1,2000")
        self.assertEqual(lines[-1], "P0999,A1,1001")
        # Equal to the 1000th score arrives after it: off the board, but kept.
        self.assertEqual(self.upload("Late", "A1", 1001), rules.OFF_THE_BOARD)
        self.assertEqual(self.upload("Good", "A1", 1002), rules.STORED)
        lines = self.board_lines()
        self.assertEqual(len(lines), 1000)
        self.assertEqual(lines[998:], ["P0998,A1,1002", "Good,A1,1002"])
        with self.raw() as db:
            self.assertEqual(db.execute("SELECT COUNT(*) FROM scores").fetchone()[0], 1007)
        # Nothing that fell off was lost: removing lines lets the next ones up,
        # and the running server sees the change made from outside at once.
        with self.raw() as db:
            db.execute("UPDATE scores SET removed = 1 WHERE name IN ('P0000', 'Good')")
        lines = self.board_lines()
        self.assertEqual(lines[0], "P0001,A1,1999")
        self.assertEqual(lines[-2:], ["P0999,A1,1001", "Late,A1,1001"])


class ChallengeTest(ServerCase):
    limits = {"challenge_ttl": 120.0}

    def test_a_challenge_answers_once(self):
        record_id, challenge = self.challenge()
        body = upload_body(record_id, CONSTANTS.solution(challenge), "Ann", "A1", 10)
        self.assertEqual(self.post(body), [rules.STORED])
        self.assertEqual(self.post(body), [rules.CHALLENGE_NOT_MET])

    def test_a_wrong_answer_spends_the_challenge(self):
        record_id, challenge = self.challenge()
        right = CONSTANTS.solution(challenge)
        for wrong in (right + 1, "", "12x", "99999999999"):
            self.assertEqual(self.post(upload_body(record_id, wrong, "Ann", "A1", 10)),
                             [rules.CHALLENGE_NOT_MET])
        self.assertEqual(self.post(upload_body(record_id, right, "Ann", "A1", 10)),
                         [rules.CHALLENGE_NOT_MET])
        self.assertEqual(self.board_lines(), [])

    def test_challenges_expire(self):
        early, c1 = self.challenge()
        late, c2 = self.challenge()
        self.clock.now += 119.9
        self.assertEqual(self.post(upload_body(early, CONSTANTS.solution(c1), "Ann", "A1", 1)),
                         [rules.STORED])
        self.clock.now += 0.1
        self.assertEqual(self.post(upload_body(late, CONSTANTS.solution(c2), "Bob", "A1", 1)),
                         [rules.CHALLENGE_NOT_MET])

    def test_unknown_or_foreign_record_ids(self):
        self.assertEqual(self.post(upload_body("0123456789abcdef", 5, "Ann", "A1", 1)),
                         [rules.CHALLENGE_NOT_MET])
        record_id, challenge = self.challenge(source="127.0.0.2")
        self.assertEqual(self.post(upload_body(record_id, CONSTANTS.solution(challenge),
                                               "Ann", "A1", 1)), [rules.CHALLENGE_NOT_MET])

    def test_no_group_of_addresses_can_fill_the_challenge_book(self):
        self.stop()
        self.start(challenges_per_client=2, challenges_per_block=3, outstanding_challenges=4,
                   challenges_per_minute=1000)
        self.challenge()
        self.challenge()
        reply = self.get("challenge.php")
        self.assertEqual(status_code(reply), 429)
        self.assertEqual(game_lines(reply), [rules.BUSY_RECORD_ID, "0"])
        # The game answers the busy line anyway; that upload is told "busy".
        self.assertEqual(self.post(upload_body("busy", CONSTANTS.solution(0), "Ann", "A1", 1)),
                         [rules.BUSY])
        self.challenge(source="127.0.0.2")          # the /24 has one more
        self.assertEqual(status_code(self.get("challenge.php", source="127.0.0.3")), 429)
        # A full book makes room by dropping the oldest: never busy for all.
        self.challenge(source="127.1.0.1")
        record_id, challenge = self.challenge(source="127.2.0.1")
        self.assertEqual(self.service.challenges.outstanding(), 4)
        self.assertEqual(self.post(upload_body(record_id, CONSTANTS.solution(challenge),
                                               "Ann", "A1", 1), source="127.2.0.1"), ["1"])
        self.clock.now += 121          # expired ones make room again
        self.assertRegex(self.challenge()[0], r"^[0-9a-f]{16}$")
        # IPv6 clients count by /64 (a whole home), blocks by /48.
        from zscores.guard import client_block, client_group
        self.assertEqual(client_group("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64")
        self.assertEqual(client_group("2001:db8:1:2:bbbb::9"), "2001:db8:1:2::/64")
        self.assertEqual(client_block("2001:db8:1:77::1"), "2001:db8:1::/48")
        self.assertEqual(client_group("::ffff:10.0.0.7"), "10.0.0.7")


class ValidationTest(ServerCase):
    limits = BACK_TO_BACK

    def test_fields(self):
        cases = [
            ("Anonymous", "A1", "0", rules.STORED),
            ("....................", "??", "1", rules.STORED),     # 20 full stops
            ("az AZ-./09:;", "**", "9999999", rules.STORED),
            ("", "A1", "5", rules.MALFORMED),
            ("A" * 21, "A1", "5", rules.MALFORMED),
            ("Bob!", "A1", "5", rules.MALFORMED),
            ("Bob_", "A1", "5", rules.MALFORMED),
            ("Bob,Eve", "A1", "5", rules.MALFORMED),
            ("Bob", "A", "5", rules.MALFORMED),
            ("Bob", "A1B", "5", rules.MALFORMED),
            ("Bob", "A,", "5", rules.MALFORMED),
            ("Bob", "A ", "5", rules.MALFORMED),
            ("Bob", "A1", "", rules.MALFORMED),
            ("Bob", "A1", "-5", rules.MALFORMED),
            ("Bob", "A1", "+5", rules.MALFORMED),
            ("Bob", "A1", "1e3", rules.MALFORMED),
            ("Bob", "A1", "10000000", rules.IMPOSSIBLE),
            ("Bob", "A1", "99999999999999", rules.IMPOSSIBLE),
        ]
        for name, level, score, expected in cases:
            with self.subTest(name=name, level=level, score=score):
                self.assertEqual(self.upload(name, level, score), expected)
        self.assertEqual(len(self.board_lines()), 3)

    def test_malformed_forms(self):
        record_id, challenge = self.challenge()
        good = upload_body(record_id, CONSTANTS.solution(challenge), "Ann", "A1", 1)
        for body in ("", "recID=x", good.replace("&level=A1", ""),
                     good + "&name=Eve", good.replace("Ann", "An\xe9")):
            with self.subTest(body=body):
                self.assertEqual(self.post(body), [rules.MALFORMED])
        # None of these spent the challenge; unknown fields are ignored.
        self.assertEqual(self.post(good + "&extra=1"), [rules.STORED])


class RateLimitTest(ServerCase):
    limits = {"challenges_per_minute": 3, "uploads_per_minute": 2}

    def test_challenges_per_address_per_minute(self):
        for _ in range(3):
            self.challenge()
        reply = self.get("challenge.php")
        self.assertEqual(status_code(reply), 429)
        self.assertEqual(game_lines(reply), [rules.BUSY_RECORD_ID, "0"])
        self.challenge(source="127.0.0.2")          # another address has its own count
        self.clock.now += 60
        self.assertRegex(self.challenge()[0], r"^[0-9a-f]{16}$")

    def test_uploads_per_address_per_minute(self):
        self.assertEqual(self.upload("Ann", "A1", 1), rules.STORED)
        self.assertEqual(self.upload("Bob", "A1", 1), rules.STORED)
        record_id, challenge = self.challenge()
        body = upload_body(record_id, CONSTANTS.solution(challenge), "Cid", "A1", 1)
        self.assertEqual(self.post(body), [rules.BUSY])
        self.clock.now += 60
        self.assertEqual(self.post(body), [rules.STORED])   # the limit did not spend it


class ProtectionTest(ServerCase):
    limits = {"request_timeout": 0.6, "connections_per_address": 2, "linger": 0.5}

    def test_oversized_requests(self):
        long_line = b"GET /netscores/zephrant/getScores.php?" + b"x" * 2000 + b" HTTP/1.0\r\n\r\n"
        self.assertEqual(status_code(exchange(self.port, long_line)), 414)
        self.settle()
        # The game sends a few header lines; a browser some twenty, more to a page.
        lines = lambda n: b"".join(b"H%d: v\r\n" % i for i in range(n)) + b"\r\n"  # noqa: E731
        for request, code in ((b"GET /netscores/zephrant/getScores.php HTTP/1.0\r\n" + lines(20),
                               431), (b"GET /x HTTP/1.0\r\n" + lines(20), 404),
                              (b"GET /x HTTP/1.0\r\n" + lines(60), 431)):
            with self.subTest(request=request[:40]):
                self.assertEqual(status_code(exchange(self.port, request)), code)
                self.settle()
        self.settle()
        huge = b"GET /x HTTP/1.0\r\n" + b"X: " + b"y" * 8000 + b"\r\n\r\n"
        self.assertEqual(status_code(exchange(self.port, huge)), 431)

    def test_bad_bodies_are_refused_without_waiting(self):
        # A server that waited for these bodies would answer 408 after its
        # deadline, long after the client's patience.
        self.stop()
        self.start(request_timeout=600.0)
        head = (b"POST /netscores/zephrant/updateScores.php HTTP/1.0\r\n"
                b"Content-Length: %s\r\n\r\n")
        reply = exchange(self.port, head % b"5000" + b"x" * 100)
        self.assertEqual((status_code(reply), game_lines(reply)), (413, [rules.MALFORMED]))
        self.settle()
        reply = exchange(self.port, b"POST /netscores/zephrant/updateScores.php HTTP/1.0\r\n\r\n")
        self.assertEqual((status_code(reply), game_lines(reply)), (411, [rules.MALFORMED]))
        self.settle()
        reply = exchange(self.port, head % b"12abc")
        self.assertEqual((status_code(reply), game_lines(reply)), (400, [rules.MALFORMED]))

    def test_slow_clients_are_cut_off(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            # Trickling a byte every 0.1 s does not extend the deadline.
            for byte in b"GET /netscores/zephrant/getScores.php HTTP/1.0\r\n":
                if select.select([s], [], [], 0)[0]:
                    break               # the server has answered
                s.send(bytes([byte]))
                time.sleep(0.1)
            reply = b""
            while chunk := s.recv(4096):
                reply += chunk
        self.assertEqual(status_code(reply), 408)     # not 200: cut off before the end
        self.settle()
        # A short body with the client waiting runs into the same deadline.
        reply = exchange(self.port, b"POST /netscores/zephrant/updateScores.php HTTP/1.0\r\n"
                                    b"Content-Length: 50\r\n\r\nrecID=1")
        self.assertEqual(status_code(reply), 408)

    def test_every_refusal_has_a_status_line_and_bof(self):
        head = b"POST /netscores/zephrant/updateScores.php HTTP/1.0\r\nContent-Length: %s\r\n\r\n"
        for request, code in [(head % "\u00b2\u00b3".encode(), 400),   # digits, not ASCII ones
                              (head % "\u0661".encode(), 400),
                              (b"GARBAGE\r\n\r\n", 400), (b"GET /\r\n\r\n", 404),
                              (b"\xff\xfe /x y z\r\n\r\n", 400), (b"GET / HTTP/9.9\r\n\r\n", 505),
                              (b"GET http://[/netscores/ HTTP/1.0\r\n\r\n", 404)]:
            with self.subTest(request=request):
                reply = exchange(self.port, request)
                self.assertEqual(status_code(reply), code)
                self.assertIsNotNone(game_lines(reply))
                self.settle()

    def test_a_full_pool_refuses_with_bof_and_slow_clients_give_way(self):
        self.stop()
        self.start(request_timeout=60.0, connections=4, connections_per_address=2,
                   evict_after=30.0)
        idle = [socket.create_connection(("127.0.0.1", self.port), source_address=(a, 0))
                for a in ("127.0.0.2", "127.0.0.2", "127.0.0.3", "127.0.0.3")]
        try:
            # Within their first moments they are not evicted: refused, with "bof";
            # an upload that comes a moment after its connection still reads as one.
            reply = exchange(self.port, b"", pieces=[b"", game_post("x=1")], source="127.0.0.4")
            self.assertEqual((status_code(reply), game_lines(reply)), (503, [rules.BUSY]))
            reply = self.get("challenge.php", source="127.0.0.4")
            self.assertEqual(game_lines(reply), [rules.BUSY_RECORD_ID, "0"])
            # Later (the moments made to pass at once, however slow the
            # machine), each new client makes the longest-waiting one give way.
            self.service.limits.evict_after = 0.0
            for source in ("127.0.0.5", "127.0.0.6"):
                self.assertEqual(status_code(self.get("getScores.php", source=source)), 200)
        finally:
            for s in idle:
                s.close()

    def test_behind_a_trusted_proxy_the_forwarded_address_counts(self):
        self.stop()
        self.start(challenges_per_minute=1)
        self.server.trusted_proxies = frozenset({"127.0.0.9"})
        via = b"GET /netscores/zephrant/challenge.php HTTP/1.0\r\nX-Forwarded-For: %s\r\n\r\n"
        for client in (b"10.0.0.1", b"10.0.0.2", b"1.2.3.4, 10.0.0.3"):
            reply = exchange(self.port, via % client, source="127.0.0.9")
            self.assertRegex(game_lines(reply)[0], r"^[0-9a-f]{16}$")
        reply = exchange(self.port, via % b"10.0.0.1", source="127.0.0.9")
        self.assertEqual(game_lines(reply)[0], rules.BUSY_RECORD_ID)
        # From anyone else the header means nothing.
        self.challenge(source="127.0.0.8")
        reply = exchange(self.port, via % b"10.0.0.4", source="127.0.0.8")
        self.assertEqual(game_lines(reply)[0], rules.BUSY_RECORD_ID)

    def test_connections_per_address_are_capped(self):
        self.stop()
        self.start(request_timeout=600.0)
        idle = [socket.create_connection(("127.0.0.1", self.port)) for _ in range(2)]
        try:
            self.assertTrue(wait_for(lambda: len(self.server._admitted) == 2))
            self.assertEqual(status_code(self.get("getScores.php")), 503)
            self.assertEqual(status_code(self.get("getScores.php", source="127.0.0.2")), 200)
        finally:
            for s in idle:
                s.close()
        self.settle()
        self.assertEqual(status_code(self.get("getScores.php")), 200)


class PersistenceTest(ServerCase):
    def test_scores_survive_a_restart_in_wal_mode(self):
        self.assertEqual(self.upload("Ann", "D4", 4242), rules.STORED)
        sqlite = self.backend == "sqlite"
        self.assertEqual(self.board.journal_mode(), "wal" if sqlite else self.backend)
        self.stop()
        if sqlite:
            with closing(sqlite3.connect(self.db)) as db:
                self.assertEqual(db.execute("PRAGMA journal_mode").fetchone()[0], "wal")
        self.start()
        self.assertEqual(self.board_lines(), ["Ann,D4,4242"])
        self.assertEqual(self.upload("Ann", "D4", 4000), rules.NOT_BETTER)


class ModerationTest(ServerCase):
    limits = BACK_TO_BACK

    def test_the_running_server_sees_each_change_at_once(self):
        for name, score in [("Ann", 300), ("Cheat", 9999999), ("Bob", 200)]:
            self.upload(name, "A1", score)
        self.assertEqual(self.board_lines()[0], "Cheat,A1,9999999")     # cached now
        code, listing = self.admin("list", "--name", "Cheat")
        cheat_id = listing.splitlines()[1].split()[0]
        self.assertEqual(self.admin("remove", cheat_id),
                         (0, f"removed score {cheat_id}: Cheat A1 9999999\n"))
        self.assertEqual(self.board_lines(), ["Ann,A1,300", "Bob,A1,200"])
        self.assertEqual(self.admin("restore", cheat_id)[0], 0)
        self.assertEqual(len(self.board_lines()), 3)
        self.assertEqual(self.admin("ban", "name", "Cheat"), (0, "banned name 'Cheat'\n"))
        self.assertEqual(self.board_lines(), ["Ann,A1,300", "Bob,A1,200"])
        self.assertRegex(self.admin("list")[1], r"\n *\d+ Cheat .* replay banned-name\n|"
                                                r"\n *\d+ Cheat .*  banned-name\n")
        self.assertEqual(self.upload("C.H.E.A.T", "A1", 9999999), rules.BANNED)  # its family
        self.assertEqual(self.admin("ban", "name", "CHEAT")[1], "name 'CHEAT' was banned already\n")
        self.admin("ban", "address", "127.0.0.1")
        self.assertEqual(self.board_lines(), [])
        self.assertEqual(self.admin("bans")[1], "address 127.0.0.1\nname Cheat\n")
        self.admin("unban", "address", "127.0.0.1")
        self.assertEqual(self.admin("unban", "name", "nobody")[0], 1)
        # A backup taken while the server runs holds the board, and only
        # its owner may read it.
        copy = os.path.join(self.tmp.name, "copy.db")
        self.assertEqual(self.admin("backup", copy)[0], 0)
        self.assertEqual(os.stat(copy).st_mode & 0o777, 0o600)
        if self.backend == "sqlite":
            self.assertEqual(ScoreBoard(copy).rows(),
                             [("Ann", "A1", "300"), ("Bob", "A1", "200")])
            self.assertEqual(self.board._db.execute("PRAGMA synchronous").fetchone()[0], 2)
        else:
            listing = subprocess.run(["pg_restore", "--data-only", "--table=scores", "-f", "-",
                                      copy], capture_output=True, text=True, check=True).stdout
            self.assertIn("Bob", listing)

    def test_a_version_1_board_is_carried_over(self):
        if self.backend != "sqlite":
            self.skipTest("boards of that version were SQLite files")
        self.stop()
        os.remove(self.db)
        with closing(sqlite3.connect(self.db)) as db, db:
            db.executescript("""CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT,
                name TEXT NOT NULL UNIQUE, level TEXT NOT NULL, score INTEGER NOT NULL,
                created REAL NOT NULL, address TEXT NOT NULL);
                INSERT INTO scores (name, level, score, created, address)
                VALUES ('Old', 'B2', 77, 0, '1.2.3.4');
                PRAGMA user_version=1;""")
        self.start()
        self.assertEqual(self.board_lines(), ["Old,B2,77"])
        self.assertEqual(self.upload("Old", "B3", 78), rules.STORED)


    def test_names_and_owners_of_a_version_2_board_and_moving_them(self):
        if self.backend != "sqlite":
            self.skipTest("boards of that version were SQLite files")
        self.stop()
        os.remove(self.db)
        a, b = "a" * 32, "b" * 32
        with closing(sqlite3.connect(self.db)) as db, db:
            db.executescript(f"""CREATE TABLE scores (id INTEGER PRIMARY KEY AUTOINCREMENT,
                name TEXT NOT NULL, level TEXT NOT NULL, score INTEGER NOT NULL,
                created REAL NOT NULL, address TEXT NOT NULL, key TEXT NOT NULL DEFAULT '',
                removed INTEGER NOT NULL DEFAULT 0, replay BLOB, replay_hash TEXT);
                CREATE TABLE owners (name TEXT PRIMARY KEY, key TEXT NOT NULL);
                INSERT INTO scores (name, level, score, created, address, key) VALUES
                    ('Zed', 'A1', 5, 0, '', '{a}'), ('zed..', 'A1', 9, 0, '', '{b}'),
                    ('Old', 'A1', 7, 0, '', '');
                INSERT INTO owners VALUES ('zed..', '{b}'), ('Zed', '{a}');
                PRAGMA user_version=2;""")
        self.start()
        self.assertEqual(self.board_lines(), ["zed..,A1,9", "Old,A1,7"])     # one family
        # Look-alikes went to the earliest owner; a keyless line is nobody's.
        self.assertEqual([self.board.owner(n) for n in ("Z-ED", " zed", "Zad", "OLD.")],
                         [a, a, None, ""])
        self.assertEqual(self.admin("move-name", "old", "B" * 32)[0], 1)   # not a key
        self.assertEqual(self.admin("move-name", "old", b)[0], 0)
        self.assertEqual((self.board.owner("Old"), self.board.owner("Zed")), (b, a))


def real_verifier():
    """The built game, as ctest names it, or the usual build folder."""
    program = os.environ.get("ZEPHRANT_BIN") or os.path.join(SERVER_DIR, os.pardir, "build",
                                                             "zephrant")
    return os.path.abspath(program) if os.access(program, os.X_OK) else None


def recorded_replay():
    """A replay recorded by the game (the regression replays), with the
    score and level its header claims."""
    folder = os.path.join(SERVER_DIR, os.pardir, "tests", "replays")
    names = sorted(n for n in os.listdir(folder) if n.endswith(".zrp")) \
        if os.path.isdir(folder) else []
    if not names:
        return None
    with open(os.path.join(folder, names[-1]), "rb") as f:
        data = f.read()
    return data, int.from_bytes(data[8:12], "little"), data[12:14].decode("ascii")


def replay_request(replay, name, key) -> bytes:
    return (f"POST http://{HOST}/netscores/zephrant/replay.php HTTP/1.0\r\n"
            f"Content-Length: {len(replay)}\r\nX-Zephrant-Key: {key}\r\n"
            f"X-Zephrant-Name: {name}\r\n\r\n").encode() + replay


def wait_for(check, timeout=120.0):
    """Waits for `check()` to hold, at most `timeout` seconds: a bound on a
    busy machine, not a measure of speed. Its last value."""
    deadline = time.monotonic() + timeout
    while not (found := check()) and time.monotonic() < deadline:
        time.sleep(0.05)
    return found


class VerifiedUploadTest(ServerCase):
    """Uploads checked by the game's own verifier, run as the server runs it."""

    limits = BACK_TO_BACK
    key = "0123456789abcdef" * 2

    def setUp(self):
        program, self.recorded = real_verifier(), recorded_replay()
        if program is None or self.recorded is None:
            self.skipTest("needs the built game and a recorded replay")
        memory_mb = None if os.environ.get("ZEPHRANT_SANITIZE") else 1024
        self.verifier = Verifier(program, memory_mb=memory_mb)
        super().setUp()

    def send_replay(self, replay, name="Ann", key=None, source="127.0.0.1"):
        return game_lines(exchange(self.port, replay_request(replay, name, key or self.key),
                                   source=source, timeout=60))

    def test_a_score_reaches_the_board_only_when_its_replay_verifies(self):
        replay, score, level = self.recorded
        queued = [rules.VERIFYING, str(score), level]
        # The curl forgery: right challenge answer, no replay.
        self.assertEqual(self.upload("Ann", level, score), rules.NO_REPLAY)
        self.assertEqual(self.send_replay(b"ZRPL" + b"\0" * 40), [rules.NO_REPLAY])
        # A replay whose header claims more than its game made is accepted
        # for verification, and so is its upload; it never reaches the board.
        forged = replay[:8] + (score + 1000).to_bytes(4, "little") + replay[12:]
        self.assertEqual(self.send_replay(forged)[0], rules.VERIFYING)
        self.assertEqual(self.upload("Ann", level, score + 1000), rules.VERIFYING)
        # The real one: its upload is accepted at once, another score is not.
        self.assertEqual(self.send_replay(replay), queued)
        self.assertEqual(self.send_replay(replay), queued)      # sent again: one row
        self.assertEqual(self.upload("Ann", level, score + 1), rules.NO_REPLAY)
        self.assertEqual(self.upload("Ann", "A1" if level != "A1" else "A2", score),
                         rules.NO_REPLAY)
        self.assertEqual(self.upload(" Ann", level, score), rules.VERIFYING)
        states = self.verify_queued()
        self.assertEqual(len(states), 2)
        self.assertEqual(states[0][0], "refused")
        self.assertRegex(states[0][1], "^invalid: .")
        self.assertEqual(states[1], ("done", None))
        self.assertEqual(self.upload("Ann", level, score + 1000), rules.NO_REPLAY)
        refused = self.admin("replays", "--state", "refused")[1].splitlines()
        self.assertEqual(len(refused), 2)       # the titles and the forged one, with why
        self.assertRegex(refused[1], f" refused +Ann +{level} +{score + 1000} .*invalid: the game"
                                     f" ends otherwise than the header says \\(score={score} ")
        self.assertEqual(self.board_lines(), [f" Ann,{level},{score}"])     # as typed
        lines = game_lines(self.get("replay.php?line=1"))
        self.assertEqual((lines[0], bytes.fromhex("".join(lines[1:]))), ("replay", replay))
        self.assertEqual(game_lines(self.get("replay.php?line=2")), ["none"])
        self.assertEqual(game_lines(self.get("replay.php?lines")), ["lines", "1"])
        # The stored replay sent again by someone else, or the name (in any
        # look-alike spelling) by another key.
        self.assertEqual(self.send_replay(replay, name="Eve", key="f" * 32, source="127.0.0.2"),
                         [rules.NO_REPLAY])
        self.assertEqual(self.send_replay(replay, name="A.N.N..", key="e" * 32),
                         [rules.NAME_TAKEN])

    def test_a_replay_verified_before_its_upload_is_stored_by_the_upload(self):
        replay, score, level = self.recorded
        self.send_replay(replay, name="Bob")
        self.assertEqual(self.verify_queued(), [("verified", None)])
        self.assertEqual(self.upload("Bob", level, score), rules.STORED)
        self.assertEqual(self.upload("Bob", level, score), rules.STORED)   # its answer again
        self.assertEqual(self.board_lines(), [f"Bob,{level},{score}"])

    def test_a_stolen_game_is_refused_whatever_its_other_fields_say(self):
        replay, score, level = self.recorded
        if b"fingerprint=" not in self.run_verifier(replay):
            self.skipTest("the verifier prints no fingerprint")
        self.send_replay(replay)
        self.assertEqual(self.upload("Ann", level, score), rules.VERIFYING)
        self.assertEqual(self.verify_queued(), [("done", None)])
        # The payload: random state, combo, name (length, UTF-16), ..., and
        # last the table answer (count 1, row).
        payload = zlib.decompress(replay[36:])
        thefts = {"name": payload[:6] + b"\x03" + "Eve".encode("utf-16-le") +
                  payload[7 + 2 * payload[6]:],
                  "combo": payload[:4] + (360).to_bytes(2, "little") + payload[6:],
                  "table answer": payload[:-1] + bytes([(payload[-1] + 1) % 25])}
        for n, (field, stolen) in enumerate(thefts.items()):
            copy = self.with_header_recomputed(replay, stolen)
            self.assertEqual(self.send_replay(copy, name=f"Thief{n}", key=f"{n:032x}",
                                              source=f"127.0.1.{n}")[0], rules.VERIFYING, field)
        states = self.verify_queued()
        self.assertEqual(states[0], ("done", None))
        self.assertEqual(states[1:], [("refused", "the same game is stored under another key")]
                         * len(thefts))

    def run_verifier(self, replay):
        path = os.path.join(self.tmp.name, "check.zrp")
        with open(path, "wb") as f:
            f.write(replay)
        return subprocess.run([real_verifier(), "--verify", path], capture_output=True,
                              timeout=60).stdout

    def with_header_recomputed(self, replay, payload):
        """The payload under the header a thief computes: the verifier's
        refusal says what the game reaches."""
        packed = zlib.compress(payload)
        copy = replay[:28] + struct.pack("<II", len(payload), len(packed)) + packed
        found = re.search(rb"\(score=(\d+) level=(\S\S) hash=([0-9a-f]{16})\)",
                          self.run_verifier(copy))
        self.assertIsNotNone(found, "the changed game does not play through")
        return (copy[:8] + struct.pack("<I", int(found[1])) + found[2] + copy[14:20] +
                struct.pack("<Q", int(found[3], 16)) + copy[28:])

    def test_every_copy_of_a_game_is_the_same_game(self):
        program = os.environ.get("ZEPHRANT_COPY_BIN") or os.path.join(
            SERVER_DIR, os.pardir, "build", "zephrant-replay-copy")
        if not os.access(program, os.X_OK) or b"plays=" not in self.run_verifier(
                self.recorded[0]):
            self.skipTest("needs zephrant-replay-copy and a verifier that prints plays")
        original = os.path.join(SERVER_DIR, os.pardir, "tests", "replays", "fast_chasers.zrp")
        with open(original, "rb") as f:
            replay = f.read()
        score, level = int.from_bytes(replay[8:12], "little"), replay[12:14].decode()
        self.send_replay(replay, name="Zed")
        self.assertEqual(self.upload("Zed", level, score), rules.VERIFYING)
        self.assertEqual(self.verify_queued(), [("done", None)])     # the first verified wins
        # Copies made the ways a thief would, each verifying on its own.
        kinds = ["extra-frame", "split-reads", "pause", "focus", "level-end-pause",
                 "level-end-idle", "late-esc", "partial 3"]
        for n, kind in enumerate(kinds):
            copy = os.path.join(self.tmp.name, f"{n}.zrp")
            subprocess.run([program, kind.split()[0], original, copy, *kind.split()[1:]],
                           check=True, capture_output=True, timeout=300)
            with open(copy, "rb") as f:
                self.assertEqual(self.send_replay(f.read(), name=f"Thief{chr(65 + n)}",
                                                  key=f"{n:032x}", source=f"127.0.1.{n}")[0],
                                 rules.VERIFYING, kind)
        # The owner's game again: under a look-alike it is its line again.
        for n, name in enumerate(("ZED", "Yak")):
            self.send_replay(replay, name=name, source=f"127.0.0.{n + 3}")
        states = self.verify_queued()[1:]
        self.assertEqual(dict(zip(kinds + ["ZED", "Yak"], states)), {
            **{kind: ("refused", "the same game is stored under another key") for kind in kinds},
            "ZED": ("verified", None), "Yak": ("refused", "the same game is stored under another name")})
        self.assertEqual(self.upload("ZED", level, score, source="127.0.0.3"), rules.NOT_BETTER)
        self.assertEqual(self.board_lines(), [f"Zed,{level},{score}"])

    def test_a_full_queue_refuses_with_a_status(self):
        self.queue.per_client = 0
        self.assertEqual(self.send_replay(self.recorded[0]), [rules.BUSY])


class QueueTest(unittest.TestCase):
    """The queue's claims and verdicts, with a clock of its own."""

    def new_database(self):
        return os.path.join(self.tmp.name, "q.db")

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.clock = FakeClock()
        self.path = self.new_database()
        self.queue = ReplayQueue(self.path, clock=self.clock, lease=60)
        self.addCleanup(self.queue.close)

    def add(self, address, key, score=1, replay=None, frames=1_296_000, name=None):
        replay = replay or os.urandom(16)
        name = name or "K" + key[-6:]       # each key a name of its own
        self.assertEqual(self.queue.enqueue(address, key, name, replay,
                                            Claim(score, "A1", frames))[0], rules.VERIFYING)

    def verdict(self, job, cpu=1.0, fingerprint="", score=1, plays=None):
        return self.queue.finish(job, Verdict(True, score, "A1", 10, os.urandom(8).hex(),
                                              fingerprint, cpu=cpu, plays=plays))

    def played(self, key, name, plays=None, fingerprint=""):
        """Queues and verifies one replay: "verified", or why it was refused."""
        self.add("10.0.0.1", key, name=name)
        job = self.queue.claim("w")
        self.verdict(job, fingerprint=fingerprint, plays=plays)
        return self.queue.db.execute("SELECT COALESCE(reason, state) FROM replays WHERE id = ?",
                                     (job.id,)).fetchone()[0]

    def state(self, row_id):
        return self.queue.db.execute("SELECT state, attempts, reason FROM replays WHERE id = ?",
                                     (row_id,)).fetchone()

    def test_fair_order_has_no_window_and_outlives_restarts(self):
        # 30 /24s flood costly replays under fresh keys and are served a while.
        for i in range(90):
            self.add(f"10.{i % 30}.0.1", f"{i:032x}")
        for _ in range(40):
            self.clock.now += 20
            self.verdict(self.queue.claim("w"), cpu=20)
        # However long the flood lasts, and across a restart, a newcomer (a
        # long game, from a /24 that has had nothing) goes next.
        self.clock.now += 3600
        self.queue.close()
        self.queue = ReplayQueue(self.path, clock=self.clock)
        self.addCleanup(self.queue.close)
        self.add("10.200.0.1", "a" * 32, frames=200_000)
        self.add("10.29.0.2", "b" * 32)
        claims = list(iter(lambda: self.queue.claim("w1"), None))
        ids = [j.id for j in claims]
        self.assertEqual(ids[0], 91)
        # Replays cut short (a worker killed, a server restarted on this
        # host) are retried apart, one at a time with the full limits, and
        # the cut-short tries count.
        self.clock.now += 61
        self.queue.db.execute("UPDATE replays SET claimed_by = 'here:99999999:0',"
                              " lease_until = ? WHERE id = 92", (self.clock.now + 60,))
        self.queue.release_dead("here")
        self.assertEqual(self.state(92)[:2], ("queued", 1))
        retried = self.queue.claim("w2")
        self.assertEqual((retried.apart, self.state(retried.id)[1]), (True, 2))
        self.assertIsNone(self.queue.claim("w2"))
        self.assertIsNone(self.verdict(claims[ids.index(retried.id)]))     # its claim was lost
        self.assertEqual(self.verdict(retried), "verified")
        self.assertTrue(self.queue.claim("w2").apart)

    def test_a_replay_is_refused_only_for_its_own_fault(self):
        self.add("10.0.0.1", "a" * 32)
        # A verifier that cannot finish (killed, out of wall time on a busy
        # machine, not started) costs the replay nothing but tries: after
        # the last it waits for the operator, and its upload stays accepted.
        for attempt in range(1, 5):
            job = self.queue.claim("w")
            self.assertEqual((job.id, job.apart), (1, attempt > 1))
            state = self.queue.finish(job, Verdict(False, why="verifier was killed", retry=True))
            self.assertEqual(state, "queued" if attempt < 4 else "held")
        self.assertEqual(self.state(1), ("held", 4, "its verification was cut short 4 times"
                                                    " (last: verifier was killed)"))
        self.assertEqual(self.queue.match_upload("10.0.0.1", "Kaaaaaa", "A1", 1), rules.VERIFYING)
        import io
        import zephrant_admin       # the operator mends the cause and puts it back
        self.assertEqual(zephrant_admin.main(["--db", self.path,
                                              "retry", "1"], out=io.StringIO()), 0)
        self.assertEqual(self.verdict(self.queue.claim("w")), "done")
        # A stop gives the claim back without counting it.
        self.add("10.0.1.1", "b" * 32)
        self.queue.claim("host:7:0")
        self.queue.release_claims("host:7:")
        self.assertEqual(self.state(2), ("queued", 0, None))

    def test_a_client_with_nothing_queued_finds_room_in_a_full_queue(self):
        self.queue.total, self.queue.per_block = 4, 2
        for i in range(4):                      # two /24s fill the queue
            self.add(f"10.0.{i // 2}.{i}", f"{i:032x}")

        def room(address):
            key = os.urandom(16).hex()
            return self.queue.enqueue(address, key, "K" + key[-6:], os.urandom(16),
                                      Claim(1, "A1"))[0]
        self.assertEqual(room("10.0.0.0"), rules.BUSY)      # has one queued
        # Newcomers get the reserve: at most 4 from a /24 and 16 from a /16.
        self.assertEqual([room(f"10.1.{i // 5}.{i}") for i in range(21)],
                         ([rules.VERIFYING] * 4 + [rules.BUSY]) * 4 + [rules.BUSY])
        self.assertEqual(room("10.2.0.1"), rules.VERIFYING)

    def test_one_game_has_one_owner_whatever_its_bytes(self):
        self.add("10.0.0.1", "a" * 32, replay=b"owner")
        self.assertEqual(self.verdict(self.queue.claim("w"), fingerprint="f" * 16), "verified")
        self.assertEqual(self.queue.enqueue("10.0.0.2", "b" * 32, "Eve", b"owner",
                                            Claim(1, "A1"))[0], rules.NO_REPLAY)
        self.add("10.0.0.2", "b" * 32, replay=b"thief's copy")
        self.assertEqual(self.verdict(self.queue.claim("w"), fingerprint="f" * 16), "refused")
        self.add("10.0.0.1", "a" * 32, replay=b"owner's other copy")
        self.assertEqual(self.verdict(self.queue.claim("w"), fingerprint="f" * 16), "verified")

    def test_a_game_is_its_play_and_stands_under_one_name(self):
        a, b, other_key, other_name = "a" * 32, "b" * 32, \
            "the same game is stored under another key", \
            "the same game is stored under another name"
        d = [f"{i:016x}" for i in range(8)]
        for key, name, plays, fingerprint, outcome in [
                (a, "Zed", d[0:3], "", "verified"),
                (b, "Bob", d[2:3], "", other_key),          # shares one level: a copy
                (b, "Bob", d[3:5], "", "verified"),         # honest
                (a, "ZED", d[0:3], "", "verified"),         # its own line again
                (a, "Yak", d[4:6], "", other_key),          # b's level, under a's key
                (a, "Yak", d[1:2], "", other_name),         # a's game, another family
                (a, "Yak", None, "f" * 16, "verified"),     # a verifier without plays:
                (a, "Wol", None, "f" * 16, other_name),     # the fingerprint decides
                (b, "Bob", (), "f" * 16, other_key),
                (b, "Bob", (), "e" * 16, "verified")]:      # no level counts: no copy
            self.assertEqual(self.played(key, name, plays, fingerprint), outcome,
                             (key[0], name, plays, fingerprint))

    def test_games_verified_before_level_digests_get_them_afterwards(self):
        # A stand-in verifier that reads the digests from the replay itself.
        program = os.path.join(self.tmp.name, "verify")
        with open(program, "w") as f:
            f.write('#!/bin/sh\necho "score=1 level=A1 frames=9 hash=%s plays=$(cat "$2")"\n'
                    % ("0" * 16))
        os.chmod(program, 0o755)
        d = [f"{i:016x}" for i in range(5)]
        for key, name, plays, upload in (("a" * 32, "Zed", d[0:2], True),
                                          ("b" * 32, "Bob", d[1:3], True),
                                          ("c" * 32, "Cat", d[3:4], False)):
            self.add("10.0.0.1", key, replay=",".join(plays).encode(), name=name)
            if upload:
                self.queue.match_upload("10.0.0.1", name, "A1", 1)
            self.verdict(self.queue.claim("w"))
        self.assertEqual(self.played("d" * 32, "Dan", d[2:3]), "verified")  # not known yet
        import io
        import zephrant_admin
        out = io.StringIO()
        self.assertEqual(zephrant_admin.main(["--db", self.queue.db.target, "digest-plays",
                                              "--verifier", program], out=out), 0)
        self.assertEqual(out.getvalue().splitlines(),
                         [f"score 2: shares a level with score 1 ('zed', key {'a' * 16})",
                          f"score 2: shares a level with replay 4 ('dan', key {'d' * 16})",
                          "3 of 3 games digested"])
        self.assertEqual(self.played("e" * 32, "Eve", d[3:5]),
                         "the same game is stored under another key")

    def test_a_name_family_is_held_from_its_first_accepted_replay(self):
        a, b = "a" * 32, "b" * 32

        def send(key, name):
            return self.queue.enqueue("10.0.0.9", key, name, os.urandom(16), Claim(1, "A1"))[0]
        self.assertEqual(send(a, "Racer"), rules.VERIFYING)
        self.assertEqual(send(b, "RACER"), rules.NAME_TAKEN)    # at once, not after a 4
        # A hold whose every replay was refused and that stored nothing lapses.
        self.assertEqual(self.verdict(self.queue.claim("w"), score=2), "refused")
        self.assertEqual(send(b, "R.A.C.E.R"), rules.VERIFYING)
        self.assertEqual(send(a, "Racer"), rules.NAME_TAKEN)
        self.queue.match_upload("10.0.0.9", "racer", "A1", 1)
        self.assertEqual(self.verdict(self.queue.claim("w")), "done")
        # Stored: b owns it now, even with every later replay refused; the
        # operator still moves it.
        self.assertEqual(send(b, "Racer"), rules.VERIFYING)
        self.assertEqual(self.verdict(self.queue.claim("w"), score=2), "refused")
        self.assertEqual(send(a, "Racer"), rules.NAME_TAKEN)
        mod = Moderation(self.queue.db.target)
        self.addCleanup(mod.close)
        self.assertEqual(mod.move_name("RACER", a), b)
        self.assertEqual((send(a, "Racer"), send(b, "Racer")),
                         (rules.VERIFYING, rules.NAME_TAKEN))
        # A board of the version before holds opens with its owners kept,
        # and a name banned as typed is banned in its family.
        self.queue.db.script("DROP TABLE plays; ALTER TABLE owners DROP COLUMN hold;"
                             " ALTER TABLE bans DROP COLUMN family; INSERT INTO bans"
                             " (kind, value, created) VALUES ('name', 'Racer', 0)")
        self.queue.db.set_schema_version(3)
        self.queue.close()
        self.queue = ReplayQueue(self.queue.db.target, clock=self.clock)
        self.addCleanup(self.queue.close)
        self.assertEqual(send(b, "Racer"), rules.NAME_TAKEN)
        self.assertTrue(banned(self.queue.db, "R-ACER", "", ""))


class VerifierLimitsTest(unittest.TestCase):
    def test_caps_are_ceilings_whatever_a_replay_claims(self):
        verifier = Verifier("/bin/true")
        for frames in (0, 1, 30_000, 290_000, 1_296_000, 1 << 31, 10 ** 12):
            cpu, wall = verifier.limits(frames)
            self.assertLessEqual((cpu, wall), (30, 45.0), frames)
            self.assertGreaterEqual(cpu, min(30, 1 + frames / 10_000), frames)
            self.assertGreaterEqual(wall, min(45.0, 5 + 3 * cpu), frames)
        # And they are the limits the verifier runs under.
        with tempfile.TemporaryDirectory() as tmp:
            program = os.path.join(tmp, "verify")
            with open(program, "w") as f:
                f.write('#!/bin/sh\necho "invalid: cpu=$(ulimit -t)"\nexit 2\n')
            os.chmod(program, 0o755)
            for frames, cpu in ((20_000, "3"), (1 << 31, "30")):
                self.assertEqual(Verifier(program).run(b"replay", frames).why,
                                 f"invalid: cpu={cpu}")
            # A try cut short for a reason not the replay's own is tried
            # again, with the full limits.
            self.assertEqual(Verifier(program).run(b"replay", 20_000, apart=True).why,
                             "invalid: cpu=30")
            for script, retry in (("exit 2", False), ("exit 3", False), ("kill -KILL $$", True),
                                  ("kill -SEGV $$", True), ("exit 0", True), ("exit 9", True)):
                with open(program, "w") as f:
                    f.write(f"#!/bin/sh\n{script}\n")
                self.assertEqual(Verifier(program).run(b"replay", 1).retry, retry, script)


class ConstantsTest(unittest.TestCase):
    def test_header_values_and_broken_headers(self):
        self.assertTrue(100_000 <= CONSTANTS.k <= 999_999)
        self.assertTrue(1 <= CONSTANTS.m <= 9 and 10 <= CONSTANTS.d <= 99)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "c.h")
            for text in ("constexpr int CHALLENGE_K = 123456;\nconstexpr int CHALLENGE_M = 3;\n",
                         "constexpr int CHALLENGE_K = 12345;\nconstexpr int CHALLENGE_M = 3;\n"
                         "constexpr int CHALLENGE_D = 10;\n",
                         "constexpr int CHALLENGE_K = 123456;\nconstexpr int CHALLENGE_K = 1;\n"):
                with open(path, "w") as f:
                    f.write(text)
                with self.assertRaises(rules.ConstantsError):
                    rules.read_challenge_constants(path)
            with self.assertRaises(rules.ConstantsError):
                rules.read_challenge_constants(os.path.join(tmp, "missing.h"))


class CommandLineTest(unittest.TestCase):
    """The scripts as a host or the game's tests start them."""

    backend = "sqlite"
    # Cases that open no board: pg_test.py does not run them again.
    board_free = ("test_server_refuses_to_start_without_constants", "test_testserver_modes")

    def new_database(self):
        return "board.db"       # in the folder the server starts in

    def launch(self, script, *args, cwd):
        proc = subprocess.Popen([PYTHON, os.path.join(SERVER_DIR, script), *args], cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.finish, proc)
        first = proc.stdout.readline()
        if not first:       # it stopped before it listened: say why
            proc.wait()
            self.fail(f"{script} stopped with {proc.returncode}: {proc.stderr.read()}")
        self.assertRegex(first, r"^PORT \d+\n$")
        return proc, int(first.split()[1])

    @staticmethod
    def finish(proc):
        if proc.poll() is None:
            proc.terminate()        # lets the test server remove its board
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        proc.stdout.close()
        proc.stderr.close()

    def test_server_prints_its_port_logs_uploads_counts_the_rest_and_stops_on_sigterm(self):
        with tempfile.TemporaryDirectory() as tmp:
            proc, port = self.launch("zephrant_server.py", "--port", "0", "--print-port",
                                     "--db", self.new_database(), "--unverified", cwd=tmp)
            for _ in range(3):
                self.assertEqual(game_lines(exchange(port, game_get("getScores.php"))), [])
            for _ in range(3):
                self.assertEqual(status_code(exchange(port, b"GET /x HTTP/1.0\r\n\r\n")), 404)
            # An upload is logged, its client text made safe.
            record_id, challenge = game_lines(exchange(port, game_get("challenge.php")))
            body = upload_body(record_id, CONSTANTS.solution(int(challenge)), "Ann", "A1", 5)
            request = game_post(body).replace(HOST.encode(), b"\x1b[2J", 1)
            self.assertEqual(game_lines(exchange(port, request)), [rules.STORED])
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=120), 0)
            log = proc.stderr.read()
            # The banner, the upload, then counts of what was served and refused.
            self.assertEqual(len(log.splitlines()), 4, log)
            self.assertIn("served 4 in the last 60 s: 3 x board, 1 x challenge", log)
            self.assertIn("refused 3 in the last 60 s: 3 x 404 not found", log)
            self.assertNotIn("\x1b", log)
            self.assertIn("http://\\x1b[2J/netscores", log)
            self.assertTrue(self.backend != "sqlite"
                            or os.path.exists(os.path.join(tmp, "board.db")))

    def test_an_accepted_upload_survives_kill_9_and_verifies_after_the_restart(self):
        program, recorded = real_verifier(), recorded_replay()
        if program is None or recorded is None or os.environ.get("ZEPHRANT_SANITIZE"):
            self.skipTest("needs the built game (not a sanitizer build) and a recorded replay")
        replay, score, level = recorded
        board = self.new_database()
        with tempfile.TemporaryDirectory() as tmp:
            def serve(workers):
                return self.launch("zephrant_server.py", "--port", "0", "--print-port",
                                   "--db", board, "--verifier", program, "--quiet",
                                   "--verify-workers", workers, cwd=tmp)
            proc, port = serve("0")        # nobody verifies yet
            self.assertEqual(game_lines(exchange(port, replay_request(replay, "Kim", "c" * 32)))
                             [0], rules.VERIFYING)
            record_id, challenge = game_lines(exchange(port, game_get("challenge.php")))
            body = upload_body(record_id, CONSTANTS.solution(int(challenge)), "Kim", level,
                               score)
            self.assertEqual(game_lines(exchange(port, game_post(body))), [rules.VERIFYING])
            proc.kill()
            proc.wait()
            _, port = serve("1")
            self.assertTrue(wait_for(lambda: game_lines(exchange(port, game_get(
                "getScores.php"))) == [f"Kim,{level},{score}"]))

    def test_server_refuses_to_start_without_constants(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = subprocess.run([PYTHON, os.path.join(SERVER_DIR, "zephrant_server.py"),
                                  "--port", "0", "--constants", "none.h", "--db", "b.db"],
                                 cwd=tmp, capture_output=True, text=True, timeout=120)
            self.assertEqual(run.returncode, 2)
            self.assertIn("none.h", run.stderr)

    def test_testserver_modes(self):
        with tempfile.TemporaryDirectory() as tmp:
            _, port = self.launch("testserver.py", "--challenge", "424242", "--quiet", cwd=tmp)
            self.assertEqual(game_lines(exchange(port, game_get("challenge.php")))[1], "424242")
            _, port = self.launch("testserver.py", "--mode", "garbage-many", "--quiet", cwd=tmp)
            lines = game_lines(exchange(port, game_get("getScores.php")))
            self.assertEqual(len(lines), 1500)
            _, port = self.launch("testserver.py", "--mode", "hang", "--quiet", cwd=tmp)
            with socket.create_connection(("127.0.0.1", port), timeout=0.5) as s:
                s.sendall(game_get("getScores.php"))
                with self.assertRaises(socket.timeout):
                    s.recv(1)
            _, port = self.launch("testserver.py", "--mode", "close", "--quiet", cwd=tmp)
            self.assertEqual(exchange(port, game_get("getScores.php")), b"")


if __name__ == "__main__":
    unittest.main()
