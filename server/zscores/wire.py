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
"""

import io
import logging
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from socketserver import TCPServer
from urllib.parse import urlsplit

from . import rules
from .service import Reply, ScoreService, bof_reply

SCRIPT_DIR = "/netscores/zephrant/"
BOARD = SCRIPT_DIR + "getScores.php"
CHALLENGE = SCRIPT_DIR + "challenge.php"
UPDATE = SCRIPT_DIR + "updateScores.php"

log = logging.getLogger("zephrant.server")


class RequestTooLarge(Exception):
    pass


class _DeadlineReader(io.RawIOBase):
    """Socket reads that share one deadline and one byte budget, so a client
    can neither trickle a request in forever nor send an endless one."""

    def __init__(self, sock, deadline: float, budget: int):
        self._sock = sock
        self._deadline = deadline
        self._budget = budget

    def readable(self):
        return True

    def readinto(self, buffer):
        if self._budget <= 0:
            raise RequestTooLarge()
        remaining = self._deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("request deadline passed")
        self._sock.settimeout(remaining)
        count = self._sock.recv_into(buffer, min(len(buffer), self._budget))
        self._budget -= count
        return count


class ScoreRequestHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "ZephrantScores/1.0"
    error_content_type = "text/plain; charset=us-ascii"
    error_message_format = "error %(code)d: %(message)s\n"

    def version_string(self):
        return self.server_version

    # -- connection set-up and the single request it carries ----------------

    def setup(self):
        super().setup()
        self.limits = self.server.service.limits
        self.started = time.monotonic()
        self.code = None
        self.note = ""
        self.requestline = ""
        self.command = None
        self.request_version = "HTTP/1.0"     # until the request line says otherwise
        self.rfile.close()
        self.rfile = io.BufferedReader(_DeadlineReader(
            self.connection, self.started + self.limits.request_timeout,
            self.limits.head_bytes + self.limits.body + 64))

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
                self.note = "closed without a request"
                return
            if not self.parse_request():
                return
            if len(self.headers) > self.limits.headers:
                self.send_error(431, "Too many headers")
                return
            method = getattr(self, "do_" + self.command, None)
            if method is None:
                self.send_error(501, f"Unsupported method {self.command!r}")
                return
            method()
            self.wfile.flush()
        except RequestTooLarge:
            self._fail(431, "Request too large")
        except TimeoutError:
            if self.code is None:
                self._fail(408, "Request timed out")
            else:
                self.note = "client stopped reading the reply"
        except OSError as e:
            self.note = f"connection failed: {e}"

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

    def script(self) -> str:
        return urlsplit(self.path).path

    def address(self) -> str:
        return self.client_address[0]

    def do_GET(self):
        script = self.script()
        service = self.server.service
        if script == BOARD:
            self.reply(service.get_scores())
        elif script == CHALLENGE:
            self.reply(service.get_challenge(self.address()))
        elif script == UPDATE:
            self.reply(ScoreService.status(405, rules.MALFORMED, "upload must be a POST"))
        else:
            self.send_error(404, "Not found")

    def do_POST(self):
        script = self.script()
        if script != UPDATE:
            self.send_error(405 if script in (BOARD, CHALLENGE) else 404)
            return
        lengths = self.headers.get_all("Content-Length") or []
        if len(lengths) != 1:
            self.reply(ScoreService.status(411, rules.MALFORMED, "no single Content-Length"))
            return
        text = lengths[0].strip()
        if not text.isdigit() or len(text) > 9:
            self.reply(ScoreService.status(400, rules.MALFORMED, "bad Content-Length"))
            return
        length = int(text)
        if length > self.limits.body:
            self.reply(ScoreService.status(413, rules.MALFORMED, f"body of {length} bytes"))
            return
        body = self.rfile.read(length)
        if len(body) < length:
            self.reply(ScoreService.status(400, rules.MALFORMED, "body cut short"))
            return
        self.reply(self.server.service.update_scores(self.address(), body))

    def reply(self, reply: Reply):
        self.connection.settimeout(self.limits.request_timeout)
        self.send_response(reply.code)
        self.send_header("Content-Type", "text/plain; charset=us-ascii")
        self.send_header("Content-Length", str(len(reply.body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(reply.body)
        self.note = reply.note

    # -- logging: one line per request, written by the server ---------------

    def log_request(self, code="-", size="-"):
        self.code = code.value if hasattr(code, "value") else code

    def log_error(self, format, *args):
        self.note = format % args

    def log_message(self, format, *args):
        self.note = format % args


def _printable(text: str, limit: int = 160) -> str:
    """Client text made safe for a one-line log: no control characters."""
    if len(text) > limit:
        text = text[:limit] + "..."
    return "".join(c if " " <= c <= "~" else f"\\x{ord(c):02x}" for c in text)


class ScoreHTTPServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False      # a hung client must not hold up shutting down
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, host: str, port: int, service: ScoreService,
                 handler=ScoreRequestHandler):
        self.address_family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.service = service
        self._admitted = {}       # socket -> client address
        self._per_address = {}
        self._count_lock = threading.Lock()
        super().__init__((host, port), handler)

    def server_bind(self):
        # HTTPServer would look up the host's domain name here; nothing needs it.
        TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    @property
    def port(self) -> int:
        return self.server_address[1]

    # -- admission: a bounded number of connections at once ------------------

    def process_request(self, request, client_address):
        address = client_address[0]
        limits = self.service.limits
        with self._count_lock:
            full = (len(self._admitted) >= limits.connections or
                    self._per_address.get(address, 0) >= limits.connections_per_address)
            if not full:
                self._admitted[request] = address
                self._per_address[address] = self._per_address.get(address, 0) + 1
        if full:
            self._refuse(request, address)
            return
        super().process_request(request, client_address)

    def _refuse(self, request, address):
        try:
            request.setblocking(False)
            request.send(b"HTTP/1.0 503 Service Unavailable\r\n"
                         b"Content-Length: 0\r\nConnection: close\r\n\r\n")
            request.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        request.close()
        log.info('%s - 503 0ms too many connections', address)

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
                address = self._admitted.pop(request, None)
                if address is not None:
                    left = self._per_address[address] - 1
                    if left:
                        self._per_address[address] = left
                    else:
                        del self._per_address[address]

    def handle_error(self, request, client_address):
        log.exception("%s - handler failed", client_address[0])

    def log_request_line(self, handler):
        elapsed = (time.monotonic() - handler.started) * 1000
        log.info('%s "%s" %s %.0fms %s', handler.client_address[0],
                 _printable(handler.requestline or "-"), handler.code or "-",
                 elapsed, _printable(handler.note))

    def serve_in_thread(self) -> threading.Thread:
        thread = threading.Thread(target=self.serve_forever, name="score-server",
                                  kwargs={"poll_interval": 0.05}, daemon=True)
        thread.start()
        return thread

    def stop(self):
        self.shutdown()
        self.server_close()
