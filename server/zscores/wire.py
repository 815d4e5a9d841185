"""HTTP/1.0 front of the score server, on the standard library's http.server.

The game writes its requests by hand and they are a little odd, so:
- request targets are absolute ("GET http://host/netscores/... HTTP/1.0");
- a GET ends its header block with a line holding a lone LF, which leaves a
  stray CR LF behind; it is never read as a request;
- a POST declares five bytes more than the form it carries (CR LF, LF CR LF
  follow the form), and those are stripped before the form is split;
- the game reads until the server closes, so every reply ends the connection.

Closing a socket with unread bytes in it makes the kernel answer with a reset,
which can throw away the reply the client has not read yet. So every
connection is half-closed first and drained for a moment ("lingering close").

Every answer, refusals included, is a status line, headers and a body that
starts with "bof" and carries a status the game understands: a reply without
"bof" would leave the game guessing.
"""

import io
import logging
import os
import select
import socket
import sys
import threading
import time
import traceback
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from socketserver import TCPServer

from . import rules, web
from .guard import client_group
from .service import Reply, ScoreService, bof_reply

SCRIPT_DIR = "/netscores/zephrant/"
BOARD = SCRIPT_DIR + "getScores.php"
CHALLENGE = SCRIPT_DIR + "challenge.php"
UPDATE = SCRIPT_DIR + "updateScores.php"
REPLAY = SCRIPT_DIR + "replay.php"
RELAY = "/play/exchange"     # the game's exchange, relayed from the /play page

log = logging.getLogger("zephrant.server")


class RequestTooLarge(Exception):
    pass


class _DeadlineReader(io.RawIOBase):
    """Socket reads that share one deadline and one byte budget, so a client
    can neither trickle a request in forever nor send an endless one."""

    def __init__(self, sock, deadline: float, budget: int):
        self._sock = sock
        self._deadline = deadline
        self.budget = budget

    def readable(self):
        return True

    def readinto(self, buffer):
        if self.budget <= 0:
            raise RequestTooLarge()
        remaining = self._deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("request deadline passed")
        self._sock.settimeout(remaining)
        count = self._sock.recv_into(buffer, min(len(buffer), self.budget))
        self.budget -= count
        return count


def refusal_lines(code: int, request_start: bytes = b""):
    """What a refusal says after "bof": an upload gets a status, anything else
    the busy challenge (which an upload quoting it turns into "8"); a busy
    server says "8", a broken request "7"."""
    if code not in (408, 429, 503):
        return [rules.MALFORMED]
    if request_start.startswith(b"POST"):
        return [rules.BUSY]
    return [rules.BUSY_RECORD_ID, "0"]


class ScoreRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    # A request line without a version still gets a status line and headers.
    default_request_version = "HTTP/1.0"
    server_version = "ZephrantScores/1.0"

    def version_string(self):
        return self.server_version

    # -- connection set-up and the single request it carries ----------------

    def setup(self):
        super().setup()
        self.limits = self.server.service.limits
        self.started = time.monotonic()
        self.code = None
        self.note = ""
        self.counted = False
        self.headers = None
        self.raw_requestline = b""
        self.requestline = ""
        self.command = None
        self.head_only = False      # a HEAD: the headers of the GET, no body
        self.request_version = "HTTP/1.0"     # until the request line says otherwise
        self.rfile.close()
        # The head first; a POST's body gets its own allowance once its
        # length is known to be acceptable.
        self.reader = _DeadlineReader(self.connection,
                                      self.started + self.limits.request_timeout,
                                      self.limits.head_bytes + 64)
        self.rfile = io.BufferedReader(self.reader)

    def handle(self):
        try:
            self.handle_one_request()
        finally:
            self.close_connection = True
            self.server.log_request_line(self)

    def handle_one_request(self):
        try:
            self.raw_requestline = self.rfile.readline(self.limits.request_line + 1)
            if len(self.raw_requestline) > self.limits.request_line:
                self.send_error(414, "Request line too long")
                return
            if not self.raw_requestline:
                self.server.service.refusals.add("closed without a request")
                self.counted = True
                return
            if not self.parse_request():
                return
            allowed = (self.limits.headers if self.script().startswith(SCRIPT_DIR)
                       else self.limits.page_headers)
            if len(self.headers) > allowed:
                self.send_error(431, "Too many headers")
                return
            self.server.request_arrived(self.connection)
            method = getattr(self, "do_" + self.command, None)
            if method is None:
                self.send_error(501, f"Unsupported method {self.command!r}")
                return
            method()
            self.wfile.flush()
        except RequestTooLarge:
            self._fail(431, "Request too large")
        except UnicodeError:
            self._fail(400, "Bad request")
        except TimeoutError:
            if self.code is None:
                self._fail(408, "Request timed out")
            else:
                self.note = "client stopped reading the reply"
        except OSError as e:
            self.note = f"connection failed: {e}"
            if not self.counted:
                self.counted = True
                self.server.service.refusals.add("connection failed")
        except Exception as e:      # a fault of ours: one log line, and the client told
            self._crash(e)

    def _crash(self, error: Exception):
        where = traceback.extract_tb(error.__traceback__)[-1]
        self.note = (f"failed: {type(error).__name__}: {error} "
                     f"({os.path.basename(where.filename)}:{where.lineno})")
        self.counted = False        # this one is worth its line
        if self.code is None:
            try:
                self.connection.settimeout(self.limits.linger)
                note = self.note
                self.reply(bof_reply(500, refusal_lines(503, self.raw_requestline or b""),
                                     note))
                self.note = note
            except OSError:
                pass

    def _fail(self, code: int, message: str):
        # The request never arrived whole; answer briefly if the client still listens.
        self.close_connection = True
        try:
            self.connection.settimeout(self.limits.linger)
            self.send_error(code, message)
        except OSError:
            pass
        self.note = message.lower()

    # -- the three scripts --------------------------------------------------

    def target(self):
        """(path, query) of the request target, absolute ("http://host/...")
        or not. Split by hand: urlsplit raises on some hosts ("[" in them)."""
        target = self.path
        if "://" in target[:16]:
            rest = target.split("://", 1)[1]
            slash = rest.find("/")
            target = rest[slash:] if slash >= 0 else "/"
        path, _, query = target.partition("#")[0].partition("?")
        return path, query

    def script(self) -> str:
        return self.target()[0]

    def address(self) -> str:
        """The client: the peer, or behind a trusted reverse proxy the address
        the proxy put last in X-Forwarded-For."""
        peer = self.client_address[0]
        if peer in self.server.trusted_proxies and self.headers is not None:
            forwarded = self.headers.get_all("X-Forwarded-For") or []
            hops = [h.strip() for h in ",".join(forwarded).split(",") if h.strip()]
            if hops:
                return hops[-1]
        return peer

    def send_error(self, code, message=None, explain=None):
        message = message or self.responses.get(code, ("error",))[0]
        if code >= 400:
            phrase = self.responses.get(code, ("error",))[0].lower()
            self.server.service.refusals.add(f"{code} {phrase}")
            self.counted = True
        self.reply(bof_reply(code, refusal_lines(code, self.raw_requestline or b""),
                             message.lower()))

    def do_HEAD(self):
        # The pages' headers without their bodies. The game's scripts are
        # only for the game, and a challenge is not handed out unseen.
        self.head_only = True
        if self.script().startswith(SCRIPT_DIR):
            self.reply(ScoreService.status(405, rules.MALFORMED, "HEAD of a game script"))
        else:
            self.do_GET()

    def do_GET(self):
        script = self.script()
        service = self.server.service
        if script == BOARD:
            self.reply(service.get_scores())
        elif script == CHALLENGE:
            self.reply(service.get_challenge(self.address()))
        elif script == UPDATE:
            self.reply(ScoreService.status(405, rules.MALFORMED, "upload must be a POST"))
        elif script == REPLAY:
            query = self.target()[1]
            line = query[5:] if query.startswith("line=") else ""
            if query == "lines":
                self.reply(service.get_replay_lines())
            elif not (line.isascii() and line.isdigit()) or len(line) > 4:
                self.reply(ScoreService.status(400, rules.MALFORMED, "replay.php?line=N"))
            else:
                self.reply(service.get_replay(int(line)))
        elif self.server.pages is not None:
            self.serve_page(script)
        else:
            self.send_error(404, "Not found")

    def serve_page(self, path):
        """The board's web pages (zscores.web), under the game's limits."""
        pages = self.server.pages
        if not pages.rate.allow(client_group(self.address())):
            self.server.service.refusals.add("429 page rate")
            self.counted = True
            page = web.Page(429, "text/plain; charset=us-ascii", b"Too many requests\n")
        else:
            gzip_ok = "gzip" in (self.headers.get("Accept-Encoding") or "")
            page = pages.get(path, self.target()[1], gzip_ok)
            if page is None:
                self.send_error(404, "Not found")
                return
            # Counted, never a line each: misses (a scanner's) as well.
            if page.code == 200:
                self.server.service.served.add("page")
            else:
                self.server.service.refusals.add(f"{page.code} page")
            self.counted = True
        self.connection.settimeout(self.limits.request_timeout)
        self.send_response(page.code)
        self.send_header("Content-Type", page.kind)
        self.send_header("Content-Length", str(len(page.body)))
        self.send_header("Cache-Control", f"public, max-age={page.cache}" if page.cache
                         else "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        for header, value in page.extra:
            self.send_header(header, value)
        self.send_header("Connection", "close")
        self.end_headers()
        if not self.head_only:
            self.wfile.write(page.body)
        self.note = f"page {path[:40]}"

    def do_POST(self):
        script = self.script()
        if script == RELAY and self.server.pages is not None:
            self.relay()
            return
        if script not in (UPDATE, REPLAY):
            self.send_error(405 if script in (BOARD, CHALLENGE) else 404)
            return
        lengths = self.headers.get_all("Content-Length") or []
        if len(lengths) != 1:
            self.reply(ScoreService.status(411, rules.MALFORMED, "no single Content-Length"))
            return
        text = lengths[0].strip()
        if not (text.isascii() and text.isdigit()) or len(text) > 9:
            self.reply(ScoreService.status(400, rules.MALFORMED, "bad Content-Length"))
            return
        length = int(text)
        if length > (self.limits.body if script == UPDATE else self.limits.replay_bytes):
            self.reply(ScoreService.status(413, rules.MALFORMED, f"body of {length} bytes"))
            return
        self.reader.budget += length
        body = self.rfile.read(length)
        if len(body) < length:
            self.reply(ScoreService.status(400, rules.MALFORMED, "body cut short"))
            return
        self.server.request_arrived(self.connection)
        service = self.server.service
        if script == UPDATE:
            self.reply(service.update_scores(self.address(), body))
        else:
            self.reply(service.post_replay(self.address(), self.headers.get("X-Zephrant-Key", ""),
                                           self.headers.get("X-Zephrant-Name", ""), body))

    def relay(self):
        """The game in a page (/play) cannot open a connection: it sends the
        bytes it would write on one as the body of this request, and they are
        answered as a connection of this client's carrying them, in this
        connection's place among its connections; the reply's bytes come back
        as they are. Only the game's scripts answer there, and only to our
        own pages: a page of another site cannot send the X-Zephrant-Relay
        header without asking first, and this server never says yes."""
        if self.headers.get("X-Zephrant-Relay") != "1":
            self.send_error(403, "Not one of our pages")
            return
        lengths = self.headers.get_all("Content-Length") or []
        text = lengths[0].strip() if len(lengths) == 1 else ""
        if not (text.isascii() and text.isdigit()) or len(text) > 9:
            self.send_error(411, "No single Content-Length")
            return
        length = int(text)
        if length > self.limits.head_bytes + 64 + max(self.limits.body, self.limits.replay_bytes):
            self.send_error(413, "Relayed request too large")
            return
        self.reader.budget += length
        body = self.rfile.read(length)
        if len(body) < length:
            self.send_error(400, "Body cut short")
            return
        self.server.request_arrived(self.connection)
        raw = relay_exchange(self.server, self.address(), body)
        self.counted = True         # the relayed request has its own log line
        self.server.service.served.add("relayed")
        self.connection.settimeout(self.limits.request_timeout)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(raw)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Zephrant-Relay", "raw")
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(raw)

    def reply(self, reply: Reply):
        self.connection.settimeout(self.limits.request_timeout)
        self.send_response(reply.code)
        self.send_header("Content-Type", "text/plain; charset=us-ascii")
        self.send_header("Content-Length", str(len(reply.body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if not self.head_only:
            self.wfile.write(reply.body)
        self.note = reply.note
        self.server.service.count(reply)
        self.counted = self.counted or reply.counted

    # -- logging: one line per request, written by the server ---------------

    def log_request(self, code="-", size="-"):
        self.code = code.value if hasattr(code, "value") else code

    def log_error(self, format, *args):
        self.note = format % args

    def log_message(self, format, *args):
        self.note = format % args


class RelayedRequestHandler(ScoreRequestHandler):
    """A request relayed from a page: the game's scripts only (no pages, no
    relay of a relay), and the client is the address it was relayed for."""

    def address(self) -> str:
        return self.client_address[0]

    def serve_page(self, path):
        self.send_error(404, "Not found")

    def relay(self):
        self.send_error(404, "Not found")


def relay_exchange(server, address: str, request: bytes) -> bytes:
    """What the server answers `request` on a connection from `address`: the
    bytes go in on one end of a socket pair whose other end is handled as a
    connection of that client's, without a place of its own in the pool
    (the relaying connection holds it); the reply is read to its close. The
    handler's own deadlines bound the exchange."""
    ours, theirs = socket.socketpair()

    def handle():
        try:
            RelayedRequestHandler(theirs, (address, 0), server)
        except Exception:           # as a connection's thread would: one line
            server.handle_error(theirs, (address, 0))
        finally:
            server.shutdown_request(theirs)

    threading.Thread(target=handle, name="relayed", daemon=True).start()
    limits = server.service.limits
    deadline = time.monotonic() + 2 * limits.request_timeout + limits.linger + 1
    reply, sent = bytearray(), 0
    try:
        ours.setblocking(False)
        if not request:
            ours.shutdown(socket.SHUT_WR)
        while (left := deadline - time.monotonic()) > 0:
            writing = [ours] if sent < len(request) else []
            readable, writable, _ = select.select([ours], writing, [], left)
            if writable:
                try:
                    sent += ours.send(request[sent:sent + 65536])
                except BlockingIOError:
                    pass
                except OSError:     # the handler stopped reading: it is answering
                    sent = len(request)
                if sent >= len(request):
                    try:
                        ours.shutdown(socket.SHUT_WR)
                    except OSError:
                        pass
            if readable:
                chunk = ours.recv(65536)
                if not chunk:
                    break
                reply += chunk
    except OSError:
        pass
    finally:
        ours.close()
    return bytes(reply)


def _printable(text: str, limit: int = 160) -> str:
    """Client text made safe for a one-line log: no control characters."""
    if len(text) > limit:
        text = text[:limit] + "..."
    return "".join(c if " " <= c <= "~" else f"\\x{ord(c):02x}" for c in text)


class _Admitted:
    __slots__ = ("group", "since", "reading")

    def __init__(self, group, since):
        self.group = group
        self.since = since
        self.reading = True     # until the whole request has arrived


class ScoreHTTPServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False      # a hung client must not hold up shutting down
    allow_reuse_address = True
    request_queue_size = 128
    count_interval = 60.0       # seconds between two log lines of refusal counts
    REFUSERS = 32               # refusals waiting for their request at once
    REFUSAL_WAIT = 0.5          # seconds a refusal waits for the request's first bytes

    def __init__(self, host: str, port: int, service: ScoreService,
                 handler=ScoreRequestHandler, trusted_proxies=(), pages=None):
        self.pages = pages          # zscores.web.WebPages, or None: the game's scripts only
        self.address_family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.service = service
        self.trusted_proxies = frozenset(trusted_proxies)
        self._admitted = {}       # socket -> _Admitted
        self._per_group = {}
        self._count_lock = threading.Lock()
        self._refusers = threading.BoundedSemaphore(self.REFUSERS)
        self._next_count = time.monotonic() + self.count_interval
        super().__init__((host, port), handler)

    def server_bind(self):
        # HTTPServer would look up the host's domain name here; nothing needs it.
        TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    @property
    def port(self) -> int:
        return self.server_address[1]

    # -- admission: a bounded number of connections at once ------------------
    #
    # Each client (address or IPv6 /64) gets a share of the pool. When the
    # pool is full, the connection that has waited longest for its request
    # gives way to the new one, so clients that trickle their requests (or
    # send none) cannot keep players out; the game sends its request at once
    # and is long served by then.

    def process_request(self, request, client_address):
        address = client_address[0]
        group = client_group(address)
        limits = self.service.limits
        now = time.monotonic()
        evict = None
        with self._count_lock:
            behind_proxy = address in self.trusted_proxies
            full = (not behind_proxy and
                    self._per_group.get(group, 0) >= limits.connections_per_address)
            if not full and len(self._admitted) >= limits.connections:
                evict = self._oldest_reading(now - limits.evict_after)
                full = evict is None
            if not full:
                self._admitted[request] = _Admitted(group, now)
                self._per_group[group] = self._per_group.get(group, 0) + 1
        if evict is not None:
            self.service.refusals.add("408 gave way to a new connection")
            try:
                evict.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if full:
            # A refusal waits a moment for the request's first bytes, which
            # tell an upload from the rest, on a thread of its own so the
            # accepting thread goes on; past REFUSERS at once it says the
            # busy challenge without waiting.
            if self._refusers.acquire(blocking=False):
                threading.Thread(target=self._refuse_waiting, args=(request,),
                                 daemon=True).start()
            else:
                self._refuse(request)
            return
        super().process_request(request, client_address)

    def _oldest_reading(self, before):
        oldest = None
        for sock, entry in self._admitted.items():
            if entry.reading and entry.since <= before and (
                    oldest is None or entry.since < self._admitted[oldest].since):
                oldest = sock
        if oldest is not None:
            self._admitted[oldest].reading = False      # evicted once only
        return oldest

    def request_arrived(self, request):
        with self._count_lock:
            entry = self._admitted.get(request)
            if entry is not None:
                entry.reading = False

    def _refuse_waiting(self, request):
        try:
            select.select([request], [], [], self.REFUSAL_WAIT)
            self._refuse(request)
        except (OSError, ValueError):
            request.close()
        finally:
            self._refusers.release()

    def _refuse(self, request):
        # Said at once, without waiting for the request: the first bytes tell
        # an upload (which gets status 8) from the rest (the busy challenge).
        try:
            start = request.recv(8, socket.MSG_PEEK | socket.MSG_DONTWAIT)
        except OSError:
            start = b""
        body = bof_reply(503, refusal_lines(503, start), "").body
        try:
            request.setblocking(False)
            request.send(b"HTTP/1.0 503 Service Unavailable\r\n"
                         b"Content-Type: text/plain; charset=us-ascii\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
            request.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        request.close()
        self.service.refusals.add("503 too many connections")

    def shutdown_request(self, request):
        try:
            request.shutdown(socket.SHUT_WR)
            deadline = time.monotonic() + self.service.limits.linger
            while (remaining := deadline - time.monotonic()) > 0:
                request.settimeout(remaining)
                if not request.recv(4096):
                    break
        except OSError:
            pass
        finally:
            request.close()
            with self._count_lock:
                entry = self._admitted.pop(request, None)
                if entry is not None:
                    left = self._per_group[entry.group] - 1
                    if left:
                        self._per_group[entry.group] = left
                    else:
                        del self._per_group[entry.group]

    def handle_error(self, request, client_address):
        # The handler answers its own faults; anything past it still gets
        # one line, never a traceback a client could fill the log with.
        error = sys.exc_info()[1]
        log.error("%s - handler failed: %s", client_address[0],
                  _printable(f"{type(error).__name__}: {error}"))

    # -- logging: a line per request served, counts of refusals -------------

    def log_request_line(self, handler):
        if handler.counted:
            return
        elapsed = (time.monotonic() - handler.started) * 1000
        log.info('%s "%s" %s %.0fms %s', handler.client_address[0],
                 _printable(handler.requestline or "-"), handler.code or "-",
                 elapsed, _printable(handler.note))

    def service_actions(self):
        now = time.monotonic()
        if now >= self._next_count:
            self._next_count = now + self.count_interval
            self.log_refusals()

    def log_refusals(self):
        for what, counts in (("served", self.service.served.drain()),
                             ("refused", self.service.refusals.drain())):
            if counts:
                log.warning("%s %d in the last %.0f s: %s", what, sum(counts.values()),
                            self.count_interval,
                            ", ".join(f"{n} x {why}" for why, n in counts.most_common()))

    def serve_in_thread(self) -> threading.Thread:
        thread = threading.Thread(target=self.serve_forever, name="score-server",
                                  kwargs={"poll_interval": 0.05}, daemon=True)
        thread.start()
        return thread

    def stop(self):
        self.shutdown()
        self.server_close()
        self.log_refusals()
