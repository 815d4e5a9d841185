"""The game's exchange relayed from the /play page: the same bytes get the
same answers, under the same limits, and reach nothing but the game's scripts."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_server import (CONSTANTS, ServerCase, exchange, game_get, game_lines,  # noqa: E402
                         game_post, status_code, upload_body)
from zscores import rules  # noqa: E402
from zscores.web import WebPages  # noqa: E402


class RelayTest(ServerCase):
    limits = {"challenges_per_minute": 2}
    board_free = ("test_the_relay_reaches_nothing_but_the_games_scripts",)

    def start(self, **overrides):
        super().start(**overrides)
        self.server.pages = WebPages(self.db, clock=self.clock)

    def stop(self):
        if self.server is not None:
            self.server.pages.close()
        super().stop()

    def relay(self, data: bytes, source="127.0.0.1", headers=b"X-Zephrant-Relay: 1\r\n"):
        """(status of the relay, its X-Zephrant-Relay header, its body)."""
        reply = exchange(self.port, b"POST /play/exchange HTTP/1.0\r\n" + headers +
                         b"Content-Length: %d\r\n\r\n" % len(data) + data, source=source)
        head, _, body = reply.partition(b"\r\n\r\n")
        marked = b"\r\nX-Zephrant-Relay: raw" in head
        return status_code(reply), marked, body

    def test_a_relayed_game_is_answered_as_a_connection_of_its_own(self):
        # The board as the game reads it, and its whole reply, but for the Date.
        direct = exchange(self.port, game_get("getScores.php"))
        code, marked, relayed = self.relay(game_get("getScores.php"))
        self.assertEqual((code, marked), (200, True))
        drop_date = lambda r: [l for l in r.split(b"\r\n") if not l.startswith(b"Date:")]
        self.assertEqual(drop_date(relayed), drop_date(direct))
        # An upload through the relay reaches the board, relayed by a browser
        # that sends its usual twenty-odd header lines.
        browser = b"X-Zephrant-Relay: 1\r\n" + b"".join(
            b"Sec-Browser-%d: a browser's own\r\n" % i for i in range(24))
        record_id, challenge = game_lines(self.relay(game_get("challenge.php"),
                                                     source="127.0.0.2", headers=browser)[2])
        body = upload_body(record_id, CONSTANTS.solution(int(challenge)), "Web", "A1", 40)
        self.assertEqual(game_lines(self.relay(game_post(body), source="127.0.0.2")[2]),
                         [rules.STORED])
        self.assertEqual(self.board_lines(), ["Web,A1,40"])
        # The visitor's own limits count relayed and direct requests alike.
        self.challenge(source="127.0.0.3")
        self.relay(game_get("challenge.php"), source="127.0.0.3")
        code, marked, relayed = self.relay(game_get("challenge.php"), source="127.0.0.3")
        self.assertEqual(status_code(relayed), 429)
        self.assertEqual(game_lines(relayed), [rules.BUSY_RECORD_ID, "0"])
        self.assertEqual(game_lines(self.get("challenge.php", source="127.0.0.3")),
                         [rules.BUSY_RECORD_ID, "0"])

    def test_the_relay_reaches_nothing_but_the_games_scripts(self):
        # Not from one of our pages: refused, and nothing relayed.
        code, marked, body = self.relay(game_get("getScores.php"), headers=b"")
        self.assertEqual((code, marked), (403, False))
        # Pages, other hosts and a relay of a relay are none of the game's.
        for request in (b"GET / HTTP/1.0\r\n\r\n", b"GET /style.css HTTP/1.0\r\n\r\n",
                        b"GET http://example.com/ HTTP/1.0\r\n\r\n",
                        b"POST /play/exchange HTTP/1.0\r\nX-Zephrant-Relay: 1\r\n"
                        b"Content-Length: 0\r\n\r\n"):
            with self.subTest(request=request):
                code, marked, body = self.relay(request)
                self.assertEqual((code, marked, status_code(body)), (200, True, 404))
        # The request's own limits hold inside: a long line, a body cut short.
        long_line = b"GET /netscores/zephrant/getScores.php?" + b"x" * 2000 + b" HTTP/1.0\r\n\r\n"
        self.assertEqual(status_code(self.relay(long_line)[2]), 414)
        cut = game_post("recID=1")[:-10]
        self.assertEqual(game_lines(self.relay(cut)[2]), [rules.MALFORMED])
        # Too much to be any request of the game's: refused without reading.
        reply = exchange(self.port, b"POST /play/exchange HTTP/1.0\r\nX-Zephrant-Relay: 1\r\n"
                                    b"Content-Length: 999999999\r\n\r\n")
        self.assertEqual(status_code(reply), 413)


if __name__ == "__main__":
    unittest.main()
