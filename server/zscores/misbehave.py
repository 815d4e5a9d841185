"""Broken servers for testing the game's client. Used only by testserver.py.

Each mode reads the request as the real server does and then answers wrongly,
whatever the script asked for:

  hang            never answers; closes only when the client does
  close           reads the request, then closes without sending a byte
  nobof           a proper reply whose body has no "bof" line
  garbage-bytes   headers, "bof", then 4096 random bytes (NUL, CR, LF, bytes > 127)
  garbage-fields  headers, "bof", then lines without commas, with one comma,
                  four commas, empty lines, bad levels and bad scores
  garbage-long    headers, "bof", then three lines of 70 000 characters,
                  the last without a line end
  garbage-many    headers, "bof", then 1500 well-formed board lines
  garbage         the four garbage-* modes in turn, one per connection,
                  in the order listed here
"""

import random
import threading

from .wire import ScoreRequestHandler

GARBAGE_CYCLE = ("garbage-bytes", "garbage-fields", "garbage-long", "garbage-many")
MODES = ("normal", "hang", "close", "nobof") + GARBAGE_CYCLE + ("garbage",)

_HEAD = (b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n")

FIELD_GARBAGE = [
    "no commas at all",
    "one,comma",
    "a,b,c,d,e",
    "",
    "Ann,A1,100",
    "",
    "Bob,LONGLEVEL,200",
    "Cid,,300",
    "Dee,B2,notanumber",
    "Eve,C3,-400",
    "Fay,D4,123456789",
    ",,",
    "bof",
    "Gus,E5,",
]


def garbage_body(mode: str, rng: random.Random) -> bytes:
    if mode == "nobof":
        return b"Ann,A1,100\nno marker in this reply\n"
    if mode == "garbage-bytes":
        return b"bof\n" + bytes(rng.randrange(256) for _ in range(4096))
    if mode == "garbage-fields":
        return ("bof\n" + "".join(l + "\n" for l in FIELD_GARBAGE)).encode("ascii")
    if mode == "garbage-long":
        long = "X" * 70_000
        return f"bof\n{long}\n{long},A1,{long}\n{long}".encode("ascii")
    if mode == "garbage-many":
        return ("bof\n" + "".join(f"P{i:04d},A1,{1500 - i}\n"
                                  for i in range(1500))).encode("ascii")
    raise ValueError(mode)


class MisbehavingHandler(ScoreRequestHandler):
    def handle(self):
        if self.server.mode == "hang":
            self._hang()
        else:
            super().handle()

    def _hang(self):
        self.connection.settimeout(None)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass
        self.note = "hung until the client closed"
        self.server.log_request_line(self)

    def do_GET(self):
        self.misbehave()

    def do_POST(self):
        text = (self.headers.get("Content-Length") or "0").strip()
        if text.isascii() and text.isdigit() and int(text) <= self.limits.replay_bytes:
            self.reader.budget += int(text)
            self.rfile.read(int(text))
        self.misbehave()

    def misbehave(self):
        mode = self.server.next_mode()
        self.code = mode
        if mode == "close":
            self.note = "closed without answering"
            return
        body = garbage_body(mode, self.server.rng)
        self.connection.settimeout(self.limits.request_timeout)
        self.wfile.write(_HEAD + body)
        self.note = f"{len(body)} bytes of {mode}"


def install(server, mode: str, seed: int):
    """Gives a ScoreHTTPServer what MisbehavingHandler needs."""
    server.mode = mode
    server.rng = random.Random(seed)
    lock = threading.Lock()
    turn = [0]

    def next_mode():
        if mode != "garbage":
            return mode
        with lock:
            chosen = GARBAGE_CYCLE[turn[0] % len(GARBAGE_CYCLE)]
            turn[0] += 1
            return chosen

    server.next_mode = next_mode
