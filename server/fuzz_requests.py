#!/usr/bin/env python3
"""Throws random requests at the server for a while and checks what every
one of them must get, whatever it holds:

- a reply that starts with a status line, and never a traceback in the log;
- at most one log line (a request relayed from the /play page as well);
- no markup of the request's own in a page (the requests carry "<zz" in
  paths, queries and headers), and JSON that parses.

    python3 server/fuzz_requests.py [--seconds 30] [--seed N]

The pages are driven in-process first (many requests a second), then whole
requests go over a loopback socket to a real server with a throw-away board.
It prints the counts and the first requests that broke a rule, and exits 1
if any did.
"""

import argparse
import json
import logging
import os
import random
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zscores import rules  # noqa: E402
from zscores.board import ScoreBoard  # noqa: E402
from zscores.cli import DEFAULT_CONSTANTS  # noqa: E402
from zscores.service import Limits, ScoreService  # noqa: E402
from zscores.web import WebPages  # noqa: E402
from zscores.wire import ScoreHTTPServer  # noqa: E402

PIECES = ["/", "player/", "api/", "board.json", ".json", "watch/", "replay/", ".zrp", "play/",
          "zephrant-web.js", "style.css", "netscores/zephrant/", "getScores.php", "replay.php",
          "%", "%ff", "%3Czz", "%zz", "<zz>", "&", "'", '"', "?", "#", "=", "q", "page", "line",
          "0", "1", "99999999", "-1", "\uff11", "\x00", "\u00e9", "%00", ";", "+", " ", "zed",
          "P1", "..", "%2F", "utm_source", "fbclid", "http://h", "[::1"]
METHODS = ["GET", "HEAD", "POST", "PUT", "get", "", "GET GET"]
VERSIONS = ["HTTP/1.0", "HTTP/1.1", "HTTP/9", ""]
HEADERS = ["Content-Length: 5", "Content-Length: x", "Accept-Encoding: gzip",
           "X-Forwarded-For: <zz>", "X-Zephrant-Name: <zz>", "Host: \xff"]


class Records(logging.Handler):
    def __init__(self):
        super().__init__()
        self.records = []

    def emit(self, record):
        self.records.append(record)


def text(r, pieces):
    return "".join(r.choice(PIECES) for _ in range(r.randint(0, pieces)))


def broken_page(page) -> str:
    if page is None:
        return ""
    body = page.body.decode("utf-8", "replace").lower()
    if "<zz" in body:
        return "markup echoed"
    if page.kind == "application/json":
        try:
            json.loads(page.body)
        except ValueError:
            return "JSON that does not parse"
    return ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    r = random.Random(args.seed)
    folder = tempfile.TemporaryDirectory()
    db = os.path.join(folder.name, "scores.db")
    board = ScoreBoard(db)
    for i in range(30):
        board.submit(f"P{i}", "A1", 10 * i + 1, "10.0.0.1", replay=b"x" if i % 2 else None)
    pages = WebPages(db, player_dir=folder.name, per_minute=10 ** 9)
    faults = 0
    counts = {"pages": 0, "requests": 0}

    def fault(what, request):
        nonlocal faults
        faults += 1
        if faults <= 20:        # the first few say enough
            print(f"{what}: {request!r}")

    end = time.monotonic() + args.seconds / 2
    while time.monotonic() < end:
        path, query = "/" + text(r, 8), "&".join(text(r, 4) for _ in range(r.randint(0, 12)))
        counts["pages"] += 1
        try:
            why = broken_page(pages.get(path, query, r.random() < 0.5))
        except Exception as e:     # noqa: BLE001 (any escape is what we look for)
            why = f"raised {type(e).__name__}: {e}"
        if why:
            fault(why, (path, query))

    records = Records()
    log = logging.getLogger("zephrant.server")
    log.addHandler(records)
    log.setLevel(logging.INFO)
    log.propagate = False
    limits = Limits(request_timeout=1.0, connections_per_address=64, uploads_per_minute=10 ** 9,
                    challenges_per_minute=10 ** 9, replays_per_minute=10 ** 9)
    service = ScoreService(board, rules.read_challenge_constants(DEFAULT_CONSTANTS), limits)
    server = ScoreHTTPServer("127.0.0.1", 0, service, pages=pages)
    server.count_interval = 1e9      # the minute's counts are not a request's line
    server.serve_in_thread()
    end = time.monotonic() + args.seconds / 2
    while time.monotonic() < end:
        request = (f"{r.choice(METHODS)} /{text(r, 6)} {r.choice(VERSIONS)}\r\n"
                   + "".join(f"{r.choice(HEADERS)}\r\n" for _ in range(r.randint(0, 3)))
                   + "\r\n" + r.choice(["", "abcde", "recID=1&name=<zz>"]))
        data = request.encode("utf-8")
        relayed = r.random() < 0.3      # the same request, carried by the /play page's relay
        if relayed:
            data = (b"POST /play/exchange HTTP/1.0\r\nX-Zephrant-Relay: 1\r\n"
                    b"Content-Length: %d\r\n\r\n" % len(data)) + data
        before = len(records.records)
        reply = b""
        with socket.create_connection(("127.0.0.1", server.port), timeout=30) as s:
            s.sendall(data)
            while chunk := s.recv(65536):       # the close comes after the log line
                reply += chunk
        counts["requests"] += 1
        lines = records.records[before:]
        if not reply.startswith(b"HTTP/1.0 "):
            fault("no status line", request)
        if len(lines) > 1 or any(line.exc_info for line in lines):
            fault(f"{len(lines)} log lines", request)
        inner = reply.partition(b"\r\n\r\n")[2]
        if relayed and inner and not inner.startswith(b"HTTP/1.0 "):
            fault("a relayed reply without a status line", request)
        if b"<zz" in reply.lower():
            fault("markup echoed", request)
    server.stop()
    pages.close()
    board.close()
    print(f"seed {args.seed}: {counts['pages']} page answers, {counts['requests']} requests, "
          f"{faults} broke a rule")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
