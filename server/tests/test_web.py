"""The board's web pages over a real socket, beside the game's requests."""

import html
import json
import logging
import os
import re
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

SERVER_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, SERVER_DIR)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_server import CONSTANTS, FakeClock, exchange, game_get  # noqa: E402
from zscores.board import ScoreBoard  # noqa: E402
from zscores.queue import Claim, ReplayQueue  # noqa: E402
from zscores.service import Limits, ScoreService  # noqa: E402
from zscores.web import WebPages  # noqa: E402
from zscores.wire import ScoreHTTPServer  # noqa: E402

NASTY = "<i>&'\""                   # must come back escaped everywhere
MARKUP = "<script>&'\""             # sent in every value a page echoes
MARKUP_URL = "%3Cscript%3E%26%27%22"


class WebPagesTest(unittest.TestCase):
    def new_database(self):
        return os.path.join(self.tmp.name, "scores.db")

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        db = self.new_database()
        self.board = ScoreBoard(db)
        self.board.submit(NASTY, "A2", 500, "10.0.0.1")
        self.board.submit(NASTY, "B3", 9000, "10.0.0.1", replay=b"ZRP1 bytes", replay_hash="h")
        for i in range(150):
            self.board.submit(f"P{i:03}", "A1", 100 + i, f"10.0.1.{i % 200}")
        with open(os.path.join(self.tmp.name, "zephrant-web.js"), "w") as f:
            f.write("var player;" * 100)
        self.clock = FakeClock()
        self.pages = WebPages(db, player_dir=self.tmp.name, per_minute=30, clock=self.clock)
        service = ScoreService(self.board, CONSTANTS, Limits(), clock=self.clock)
        self.server = ScoreHTTPServer("127.0.0.1", 0, service, pages=self.pages)
        self.server.serve_in_thread()

    def tearDown(self):
        self.server.stop()
        self.pages.close()
        self.board.close()
        self.tmp.cleanup()

    def get(self, path, gzip=False, method="GET"):
        request = urllib.request.Request(f"http://127.0.0.1:{self.server.port}{path}",
                                         headers={"Accept-Encoding": "gzip"} if gzip else {},
                                         method=method)
        try:
            with urllib.request.urlopen(request, timeout=60) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def test_board_pages_rank_page_search_and_escape(self):
        code, headers, body = self.get("/")
        page = body.decode()
        self.assertEqual(code, 200)
        self.assertEqual(headers["Cache-Control"], "public, max-age=30")
        self.assertNotIn(NASTY, page)
        self.assertIn("&lt;i&gt;&amp;&#x27;&quot;", page)
        # The name's best line only; its kept replay has both links.
        self.assertEqual(page.count("&lt;i&gt;"), 1)
        self.assertIn("<a href=/watch/2>watch</a>", page)
        self.assertIn("<a href=/replay/2.zrp download>", page)
        self.assertEqual(len(re.findall("<tr><td", page)), 100)
        second = self.get("/?page=2")[2].decode()
        self.assertEqual(len(re.findall("<tr><td", second)), 51)
        self.assertIn("<td class=n>151<td>", second)
        self.assertNotIn("watch", second)
        found = self.get("/?q=p14")[2].decode()
        self.assertEqual(re.findall(r">(P14\d)<", found), [f"P14{i}" for i in range(9, -1, -1)])
        # Nonsense parameters give the first page, not an error.
        self.assertEqual(self.get("/?page=99999999999&q=%ff")[0], 200)

    def test_json_player_replay_and_watch(self):
        board = json.loads(self.get("/api/board.json?page=2")[2])
        self.assertEqual((board["page"], board["pages"], len(board["lines"])), (2, 2, 51))
        first = json.loads(self.get("/api/board.json")[2])["lines"][0]
        self.assertEqual(first, {"rank": 1, "name": NASTY, "level": "B3", "score": 9000,
                                 "date": first["date"], "replay": "/replay/2.zrp",
                                 "watch": "/watch/2"})
        quoted = "%3Ci%3E%26%27%22"
        player = json.loads(self.get(f"/api/player/{quoted}.json")[2])
        self.assertEqual([s["score"] for s in player["scores"]], [9000, 500])
        self.assertIn("<h1>&lt;i&gt;", self.get(f"/player/{quoted}")[2].decode())
        self.assertEqual(self.get("/player/nobody")[0], 404)
        code, headers, data = self.get("/replay/2.zrp")
        self.assertEqual((code, data), (200, b"ZRP1 bytes"))
        self.assertIn("attachment", headers["Content-Disposition"])
        self.assertEqual(self.get("/replay/1.zrp")[0], 404)     # a line without a replay
        watch = self.get("/watch/2")[2].decode()
        self.assertIn("replayUrl: '/replay/2.zrp'", watch)
        self.assertIn("<script src=/play/zephrant-web.js>", watch)
        code, headers, packed = self.get("/play/zephrant-web.js", gzip=True)
        self.assertEqual((code, headers["Content-Encoding"]), (200, "gzip"))
        self.assertLess(len(packed), 100)

    def test_every_page_says_what_this_is_and_a_watch_whose_game(self):
        self.board.submit("Mid", "A3", 300, "10.0.2.1", replay=b"ZRP1 mid", replay_hash="m")
        mid = self.get("/watch/153")[2].decode()
        self.assertIn("Level A3, played ", mid)
        self.assertIn(", rank 2 on the board.", mid)
        self.assertIn("<title>Zephrant: Mid&#x27;s 300</title>", mid)
        # Its neighbours: the line above has a replay, the one below none.
        self.assertIn("\u2190 <a href='/watch/2'>1. &lt;i&gt;", mid)
        self.assertIn("\u2192 <a href='/player/P149'>3. P149, 249</a>", mid)
        self.assertIn("href=/verified>", self.get("/")[2].decode())
        for path in ("/", "/player/Mid", "/watch/153", "/verified", "/player/nobody"):
            self.assertIn("<p class=about>Zephrant is an arcade game", self.get(path)[2].decode())
        self.assertIn("What it cannot prove", self.get("/verified")[2].decode())

    def test_pages_share_the_limits_and_leave_the_game_alone(self):
        reply = exchange(self.server.port, game_get("getScores.php"))
        self.assertIn(b"\nbof\n" + NASTY.encode() + b",B3,9000\n", reply)
        codes = [self.get("/style.css")[0] for _ in range(31)]
        self.assertEqual(codes[:30], [200] * 30)
        self.assertEqual(codes[30], 429)
        self.clock.now += 61
        self.assertEqual(self.get("/")[0], 200)
        self.assertIn(b"bof", exchange(self.server.port, game_get("getScores.php")))

    def test_every_echoed_request_value_comes_back_escaped(self):
        m, escaped = MARKUP_URL, html.escape(MARKUP, quote=True)
        for path, code, echoed in (
                (f"/?q={m}&page={m}&{m}={m}", 200, escaped),    # the field and "Names holding"
                (f"/player/{m}?page={m}", 404, escaped),
                (f"/watch/{m}", 404, ""), (f"/replay/{m}.zrp", 404, ""), (f"/{m}", 404, ""),
                (f"/api/board.json?q={m}&page={m}", 200, "\\u003cscript\\u003e\\u0026'\\\""),
                (f"/api/player/{m}.json", 404, "\\u003cscript\\u003e"), (f"/api/{m}", 404, "")):
            with self.subTest(path=path):
                got, _, body = self.get(path)
                self.assertEqual(got, code)
                self.assertNotIn("<script", body.decode())
                self.assertIn(echoed, body.decode())
                if "/api/" in path:         # misses there are JSON as well
                    json.loads(body)

    def test_any_query_gets_an_answer_and_a_fault_one_log_line(self):
        tracked = "utm_source=x&utm_medium=y&fbclid=z&" + "&".join(f"f{i}={i}" for i in range(40))
        found = self.get(f"/?{tracked}&q=p14&page=1")[2].decode()
        self.assertEqual(len(re.findall(r">P14\d<", found)), 10)
        self.pages.lines = lambda: 1 / 0
        with self.assertLogs("zephrant.server", logging.INFO) as logs:
            # Read to the close, which comes after the request's log line.
            for request in (f"GET /?{tracked} HTTP/1.0", "HEAD /api/board.json HTTP/1.0"):
                reply = exchange(self.server.port, f"{request}\r\n\r\n".encode())
                self.assertTrue(reply.startswith(b"HTTP/1.0 500 "), reply)
        self.assertEqual([("ZeroDivisionError" in r.getMessage(), r.exc_info) for r in logs.records],
                         [(True, None)] * 2)

    def test_names_are_found_by_family_and_head_and_misses_answer_in_kind(self):
        self.board.submit("Z.E.D", "A3", 700, "10.0.2.1")
        self.board.submit("Zed", "B1", 800, "10.0.2.1")
        self.assertIn("<h1>Zed</h1>", self.get("/player/zed")[2].decode())
        self.assertEqual(re.findall(r">(Z[\w.]*)</a>", self.get("/?q=z-e")[2].decode()), ["Zed"])
        player = json.loads(self.get("/api/player/%20z-E-d.json")[2])
        self.assertEqual((player["name"], [s["score"] for s in player["scores"]]),
                         ("Zed", [800, 700]))
        for path in ("/?q=zed", "/player/zed", "/api/board.json", "/api/x", "/nowhere"):
            got, head = self.get(path), self.get(path, method="HEAD")
            self.assertEqual(head[2], b"")
            self.assertEqual([head[0], *(head[1][h] for h in ("Content-Type", "Content-Length"))],
                             [got[0], *(got[1][h] for h in ("Content-Type", "Content-Length"))])
        self.assertEqual(self.get("/netscores/zephrant/challenge.php", method="HEAD")[0], 405)

    def test_claims_being_verified_are_only_counted(self):
        queue = ReplayQueue(self.new_database())
        self.addCleanup(queue.close)
        queue.enqueue("10.0.3.1", "e" * 32, "VISIT EVIL.EXAMPLE", b"forged", Claim(9999999, "Z6"))
        queue.match_upload("10.0.3.1", "VISIT EVIL.EXAMPLE", "Z6", 9999999)
        self.pages.queue = queue
        page = self.get("/")[2].decode()
        self.assertIn("1 upload being verified", page)
        self.assertNotRegex(page, "EVIL|9999999")
        self.assertEqual(json.loads(self.get("/api/board.json")[2])["verifying"], 1)


if __name__ == "__main__":
    unittest.main()
