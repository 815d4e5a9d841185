"""What the three scripts answer, apart from the HTTP around it.

Every reply body starts with the line "bof": the game skips everything before
the first line that contains it.
"""

import re
import time
from dataclasses import dataclass

from . import db, rules
from .board import BoardError, ScoreBoard
from .guard import ChallengeBook, RateLimiter, RefusalCounts, client_group
from .queue import read_header

KEY = re.compile(r"[0-9a-f]{32}")     # a player's key: 128 random bits in hex


@dataclass
class Limits:
    request_line: int = 1024        # bytes, CR LF included
    head_bytes: int = 4096          # request line and headers together
    headers: int = 16               # header lines of a request for the game's scripts
    # A browser sends some twenty header lines with a page request, and more
    # with a fetch (the /play page's relay): pages and the relay allow these.
    page_headers: int = 48
    body: int = 1024                # largest Content-Length of an upload
    request_timeout: float = 10.0   # seconds for a whole request to arrive
    linger: float = 2.0             # seconds to drain the client before closing
    connections: int = 256          # connections served at once
    connections_per_address: int = 8  # per IPv4 address or IPv6 /64
    # A connection that has not sent its whole request after this long gives
    # way to a new one when all are taken (the game sends at once).
    evict_after: float = 1.0
    challenges_per_minute: int = 20  # per client
    uploads_per_minute: int = 20     # per client
    outstanding_challenges: int = 10000
    challenges_per_client: int = 4  # outstanding at once, per address or /64
    challenges_per_block: int = 64  # outstanding at once, per IPv4 /24 or IPv6 /48
    challenge_ttl: float = 120.0    # seconds a challenge stays answerable
    replay_bytes: int = 256 * 1024  # largest replay accepted
    replays_per_minute: int = 10    # per client and per key
    pages_per_minute: int = 120     # web pages, JSON and files, per client


@dataclass
class Reply:
    code: int          # HTTP status
    body: bytes        # starts with "bof\n" for every answer the game should read
    note: str          # for the request log
    counted: bool = False  # a refusal: counted instead of logged
    reason: str = ""       # what a refusal is counted as


def bof_reply(code: int, lines, note: str) -> Reply:
    return Reply(code, ("bof\n" + "".join(f"{l}\n" for l in lines)).encode("ascii"), note)


class ScoreService:
    def __init__(self, board: ScoreBoard, constants: rules.ChallengeConstants,
                 limits: Limits, clock=time.monotonic, queue=None):
        """Without a queue of replays to verify (`zscores.queue`) uploads are
        stored without a replay (a board for tests, or one that trusts its
        players)."""
        self.queue = queue
        self.replay_rate = RateLimiter(limits.replays_per_minute, 60.0, clock)
        self.key_rate = RateLimiter(limits.replays_per_minute, 60.0, clock)
        self.board = board
        self.constants = constants
        self.limits = limits
        self.challenges = ChallengeBook(limits.challenge_ttl,
                                        limits.outstanding_challenges, clock,
                                        per_client=limits.challenges_per_client,
                                        per_block=limits.challenges_per_block)
        self.challenge_rate = RateLimiter(limits.challenges_per_minute, 60.0, clock)
        self.upload_rate = RateLimiter(limits.uploads_per_minute, 60.0, clock)
        self.refusals = RefusalCounts()
        # The board and challenges are asked for far more often than scores
        # change; they are counted too, so the log grows with uploads only.
        self.served = RefusalCounts()

    def get_scores(self) -> Reply:
        text = self.board.board_text()
        self.served.add("board")
        return Reply(200, b"bof\n" + text, "board", counted=True)

    def get_challenge(self, address: str) -> Reply:
        # When no challenge can be issued the reply still has the two lines the
        # game reads, with a record id that the upload script answers "8".
        if not self.challenge_rate.allow(client_group(address)):
            return self.refuse(bof_reply(429, [rules.BUSY_RECORD_ID, 0], "challenge rate"))
        issued = self.challenges.issue(address)
        if issued is None:
            return self.refuse(bof_reply(429, [rules.BUSY_RECORD_ID, 0], "challenges held"))
        record_id, challenge = issued
        self.served.add("challenge")
        reply = bof_reply(200, [record_id, challenge], f"challenge {record_id}")
        reply.counted = True
        return reply

    def update_scores(self, address: str, body: bytes) -> Reply:
        if not self.upload_rate.allow(client_group(address)):
            return self.refuse(self.status(429, rules.BUSY, "upload rate"))
        fields = rules.parse_upload_body(body.rstrip(b"\r\n"))
        if fields is None:
            return self.status(400, rules.MALFORMED, "fields missing or repeated")
        record_id = fields["recID"]
        if record_id == rules.BUSY_RECORD_ID:
            return self.status(200, rules.BUSY, "upload without a challenge (busy)")
        challenge = self.challenges.take(record_id, address)
        if challenge is None:
            return self.status(200, rules.CHALLENGE_NOT_MET,
                               f"challenge {record_id[:16]!r} unknown, used or expired")
        if rules.parse_solution(fields["solution"]) != self.constants.solution(challenge):
            return self.status(200, rules.CHALLENGE_NOT_MET, "wrong solution")
        name, level = fields["name"], fields["level"]
        if not rules.valid_name(name):
            return self.status(400, rules.MALFORMED, "bad name")
        if not rules.valid_level(level):
            return self.status(400, rules.MALFORMED, "bad level")
        problem, score = rules.parse_score(fields["score"])
        if problem is not None:
            return self.status(400, problem, "bad score")
        if self.board.banned(name, "", address):
            return self.status(200, rules.BANNED, "banned")
        try:
            if self.queue is None:
                status = self.board.submit(name, level, score, address)
            else:
                # The replay sent before this upload decides; the game never
                # waits for its verification.
                status = self.queue.match_upload(address, name, level, score)
                if status is None:
                    return self.status(200, rules.NO_REPLAY, f"no replay of {level} {score}")
        except (BoardError, *db.Error) as e:
            return self.status(503, rules.BUSY, f"storage failed: {e}")
        return self.status(200, status, f"{name!r} {level} {score}")

    def post_replay(self, address: str, key: str, name: str, replay: bytes) -> Reply:
        """Queues the replay of the upload that follows, after the cheap
        checks: VERIFYING, the score and the level its header claims; a
        refusal status otherwise. Its verification goes on without the game."""
        if not KEY.fullmatch(key) or not rules.valid_name(name):
            return self.status(400, rules.MALFORMED, "replay without a good key or name")
        if not self.replay_rate.allow(client_group(address)) or not self.key_rate.allow(key):
            return self.refuse(self.status(429, rules.BUSY, "replay rate"))
        if self.board.banned(name, key, address):
            return self.status(200, rules.BANNED, "banned")
        owner = self.board.owner(name)
        if owner is not None and owner != key:
            return self.status(200, rules.NAME_TAKEN, f"{name!r} belongs to another key")
        if self.queue is None:
            return self.status(503, rules.BUSY, "no verifier")
        claim, why = read_header(replay)
        if claim is None:
            return self.status(200, rules.NO_REPLAY, f"replay refused: {why}")
        try:
            status, note = self.queue.enqueue(address, key, name, replay, claim)
        except (BoardError, *db.Error) as e:
            return self.status(503, rules.BUSY, f"storage failed: {e}")
        if status not in (rules.VERIFYING, rules.STORED):
            reply = self.status(503 if status == rules.BUSY else 200, status, note)
            return self.refuse(reply) if status == rules.BUSY else reply
        return bof_reply(200, [status, claim.score, claim.level],
                         f"{note}: {name!r} {claim.level} {claim.score}")

    def get_replay(self, line: int) -> Reply:
        """The replay of board line `line` (1-based) as hex lines after "replay"."""
        replay = self.board.replay_of_line(line)
        if replay is None:
            return bof_reply(404, ["none"], f"no replay for line {line}")
        hexed = replay.hex()
        return bof_reply(200, ["replay"] + [hexed[i:i + 128] for i in range(0, len(hexed), 128)],
                         f"replay of line {line}, {len(replay)} bytes")

    def get_replay_lines(self) -> Reply:
        """The board lines that have a replay, after "lines", one a line."""
        lines = self.board.replay_lines()
        return bof_reply(200, ["lines"] + lines, f"{len(lines)} lines with a replay")

    def refuse(self, reply: Reply) -> Reply:
        """A refusal under load: counted, not logged one by one."""
        reply.counted = True
        self.refusals.add(f"{reply.code} {reply.note}")
        return reply

    def count(self, reply: Reply):
        if reply.reason and not reply.counted:
            reply.counted = True
            self.refusals.add(f"{reply.code} {reply.reason}")

    @staticmethod
    def status(code: int, status: str, note: str) -> Reply:
        reply = bof_reply(code, [status], f"status {status}: {note}")
        if status > "5":        # turned away: counted, never a log line each
            reply.reason = f"status {status}"
        return reply
