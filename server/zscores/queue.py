"""The durable queue of replays waiting for the game's verifier.

A replay that passes the cheap checks (`read_header`) is written to the
`replays` table and the request is answered at once; nothing waits for the
verifier. The upload it stands for (same client, same name by
`rules.name_key`, the score and level its header claims) is answered
VERIFYING ("4", accepted) while the replay is queued, and the score goes on
the board in the same transaction that writes the verdict. When the replay
was verified first, the upload stores the score itself.

Workers take rows under a lease: `claim` marks one row `claimed_by` a
worker until `lease_until`, `finish` writes the verdict only while that
claim still holds. A worker that dies leaves a lease that runs out (or that
the next start on its host gives back), and the row is taken again. A
replay is refused only for its own fault (invalid, another score, a copy,
more CPU time than its frames allow). A try cut short for any other reason
(a kill, a restart, a verifier out of wall time on a busy machine or one
that crashed) counts, and the replay is tried again apart: one such at a
time, with the full limits. After four tries it is held for the operator
(`zephrant_admin.py replays --state held`, `retry`), its upload still
accepted. Workers share nothing but the database, so they can live in other
processes.

The first key whose replay is queued for a name family holds it: another
key is refused at once (NAME_TAKEN), never after the accepted answer (see
`board.owner_of` for when a hold lapses).

A game is its play. The verifier names each level a replay played by a
digest of the level and the ship's moves with the tick of each; a replay
that shares one with another key's verified game, or with the same key's
game under another name family, is "the same game" and refused, whatever
its frames, clock reads, pauses or fields outside play. The first one
verified wins. Verifiers without those digests leave the older rule: the
same fingerprint or end state.

Claims are fair: fair queueing per /24 (IPv6 /48), then client (address or
/64), then key. Each group has a virtual finish time in the `fair` table:
what it has had so far, charged at the claim by an estimate from the frames
claimed and put right with the CPU time the verdict took. A group's next
replay starts at its finish time, or at the queue's virtual time if it has
had nothing lately, and the lowest start plus estimate goes first. The
virtual time moves with every verdict by its cost shared among the /24s
waiting, as a fair share of the verifier would. There is no window for
spending to run out of: a flood's groups stay ahead by what they had, while
a newcomer, whatever its game's length, goes before them; the times outlive
restarts.
"""

import hashlib
import logging
import os
import socket
import struct
import threading
import time
import zlib
from dataclasses import dataclass

from . import board, rules
from .guard import client_block, client_group, client_wide

HEADER = struct.Struct("<4sHH I 2s H I Q I I")
MAX_FRAMES = 1_296_000          # six hours at 60 frames a second
MAX_UNPACKED = 16 * 1024 * 1024
FAIR_WINDOW = 600.0             # seconds of verifier time that count against a client
ATTEMPTS = 4                    # tries cut short before a replay is held for the operator
CLAIM_TRIES = 16                # fairest rows a claim tries when others are being taken
RESERVE = 1024                  # rows past the cap kept for clients with nothing queued
RESERVE_PER_BLOCK = 4           # of them from one /24 (IPv6 /48)
RESERVE_PER_WIDE = 16           # of them from one /16 (IPv6 /32)
START_COST = 0.05               # verifier seconds a try costs besides its play
FRAME_COST = 5e-6               # verifier seconds a frame of real play costs, about


def estimate(frames: int) -> float:
    """What verifying a replay that claims `frames` should cost, charged to
    its groups when it is claimed and put right when its verdict comes."""
    return START_COST + min(max(frames, 0), MAX_FRAMES) * FRAME_COST


@dataclass(frozen=True)
class Claim:
    score: int
    level: str
    frames: int = MAX_FRAMES


def read_header(replay: bytes):
    """(Claim, "") when the bytes look like a replay the verifier should
    play, else (None, why). Unpacks the payload to check its size: zlib is
    cheap next to playing the game."""
    if len(replay) < HEADER.size:
        return None, "shorter than a replay header"
    magic, fmt, _rules, score, level, _reserved, frames, _hash, unpacked, packed = \
        HEADER.unpack_from(replay)
    if magic != b"ZRPL" or fmt != 1:
        return None, "not a replay of a known format"
    try:
        level = level.decode("ascii")
    except UnicodeDecodeError:
        return None, "level not ASCII"
    if score > rules.MAX_SCORE or not rules.valid_level(level):
        return None, "score or level out of range"
    if not 1 <= frames <= MAX_FRAMES:
        return None, "frame count out of range"
    if packed != len(replay) - HEADER.size or not 10 <= unpacked <= MAX_UNPACKED \
            or unpacked > 1100 * packed:
        return None, "payload sizes do not add up"
    inflate = zlib.decompressobj()
    try:
        out = inflate.decompress(replay[HEADER.size:], unpacked + 1)
    except zlib.error:
        return None, "payload does not unpack"
    if len(out) != unpacked or not inflate.eof:
        return None, "payload does not unpack to its size"
    return Claim(score, level, frames), ""


@dataclass
class Job:
    id: int
    replay: bytes
    worker: str
    frames: int = MAX_FRAMES
    apart: bool = False     # an earlier try was cut short: played with the full limits


@dataclass(frozen=True)
class Verdict:
    """What the verifier found: ok, or why not, and the CPU seconds it took."""
    ok: bool
    score: int = 0
    level: str = ""
    frames: int = 0
    hash: str = ""
    fingerprint: str = ""
    why: str = ""
    cpu: float = 0.0
    plays: tuple = None     # each level's play digest; None from a verifier without them
    retry: bool = False     # not the replay's fault: it could not be played to the end


class ReplayQueue:
    def __init__(self, path: str, clock=time.time, lease: float = 60.0,
                 per_client: int = 16, per_block: int = 64, total: int = 4096,
                 reserve: int = RESERVE,
                 board_size: int = board.BOARD_LINES):
        self.db = board.connect(path)
        self.clock = clock
        self.lease = lease
        self.per_client, self.per_block, self.total = per_client, per_block, total
        self.reserve = reserve
        self.board_size = board_size
        self._lock = threading.Lock()
        self.arrived = threading.Condition()    # notified when a replay is queued

    def close(self):
        with self._lock:
            self.db.close()

    # -- the replay request ---------------------------------------------------

    def enqueue(self, address: str, key: str, name: str, replay: bytes, claim: Claim):
        """Queues a replay: (status, note). VERIFYING when it waits (or an
        identical one from the same player already does), STORED when that
        one is verified already, BUSY past the caps, NO_REPLAY when another
        key sent these bytes, NAME_TAKEN when another key owns or holds the
        name family (else this key holds it from now on)."""
        digest = hashlib.sha256(replay).hexdigest()
        client, block, name_key = client_group(address), client_block(address), \
            rules.name_key(name)
        with self._lock, board.transaction(self.db) as db:
            same = db.execute("SELECT key, state, address, name_key FROM replays"
                              " WHERE digest = ? AND state != 'refused' LIMIT 64",
                              (digest,)).fetchall()
            if any(k != key for k, _, _, _ in same):
                return rules.NO_REPLAY, "replay sent by another key"
            if not board.take(db, name_key, key, hold=True):
                return rules.NAME_TAKEN, "name held by another key"
            for _, state, was_address, was_name in same:
                if was_address == address and was_name == name_key:
                    return (rules.VERIFYING if state in ("queued", "held") else rules.STORED), \
                        f"replay already {state}"
            reserved = self._room(db, address, client, block)
            if reserved is None:
                # The hold just taken, if any, lapses with no replay behind it.
                return rules.BUSY, "verification queue full"
            db.execute(
                "INSERT INTO replays (created, address, client, block, key, name, name_key,"
                " claim_score, claim_level, claim_frames, replay, digest, reserved)"
                " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
                (self.clock(), address, client, block, key, name, name_key, claim.score,
                 claim.level, claim.frames, replay, digest, reserved))
            db.announce()       # to the workers of other processes, at the commit
        with self.arrived:
            self.arrived.notify()
        return rules.VERIFYING, "replay queued"

    def _room(self, db, address: str, client: str, block: str):
        """Where a new row of this client goes: 0 under the caps, 1 in the
        room kept for clients with nothing queued, None when there is none.
        A flood that fills the queue from many /24s still leaves a newcomer
        room, unless it also holds the reserve from hundreds of /24s in
        dozens of /16s."""
        everyone, reserved, of_client, of_block = (n or 0 for n in db.execute(
            "SELECT COUNT(*), SUM(reserved), SUM(CASE WHEN client = ? THEN 1 ELSE 0 END),"
            " SUM(CASE WHEN block = ? THEN 1 ELSE 0 END) FROM replays WHERE state = 'queued'",
            (client, block)).fetchone())
        if of_client >= self.per_client:
            return None
        if everyone - reserved < self.total and of_block < self.per_block:
            return 0
        if of_client or reserved >= self.reserve:
            return None
        held = [r[0] for r in db.execute(
            "SELECT address FROM replays WHERE state = 'queued' AND reserved = 1")]
        if sum(client_block(a) == block for a in held) >= RESERVE_PER_BLOCK or \
                sum(client_wide(a) == client_wide(address) for a in held) >= RESERVE_PER_WIDE:
            return None
        return 1

    # -- the upload -----------------------------------------------------------

    def match_upload(self, address: str, name: str, level: str, score: int):
        """The answer to an upload with these fields, from the replay that the
        same client (address or /64) sent for it: VERIFYING while it is
        queued, the board's status once it is verified, None when there is
        none (or it was refused)."""
        with self._lock, board.transaction(self.db) as db:
            row = db.execute(
                "SELECT id, state, result FROM replays WHERE client = ? AND name_key = ?"
                " AND claim_score = ? AND claim_level = ? AND state != 'refused'"
                " ORDER BY CASE WHEN uploaded IS NULL AND state = 'verified' THEN 0"
                " WHEN uploaded IS NULL THEN 1 WHEN state = 'queued' THEN 2 ELSE 3 END,"
                " id DESC LIMIT 1",
                (client_group(address), rules.name_key(name), score, level)).fetchone()
            if row is None:
                return None
            row_id, state, result = row
            if state == "done":
                return result
            db.execute("UPDATE replays SET uploaded = COALESCE(uploaded, ?),"
                       " upload_name = COALESCE(upload_name, ?) WHERE id = ?",
                       (self.clock(), name, row_id))
            if state in ("queued", "held"):
                return rules.VERIFYING
            return self._store(db, row_id)

    def _store(self, db, row_id: int) -> str:
        """Puts a verified replay whose upload has come on the board."""
        (name, level, score, address, key, replay, digest, fingerprint) = db.execute(
            "SELECT upload_name, claim_level, claim_score, address, key, replay, hash,"
            " fingerprint FROM replays WHERE id = ?", (row_id,)).fetchone()
        if board.banned(db, name, key, address):
            status, score_id = rules.BANNED, None
        else:
            status, score_id = board.store(db, name, level, score, address, self.clock(), key,
                                           replay, digest, fingerprint or None,
                                           self.board_size)
        # The board keeps the bytes of a stored score; the queue keeps only
        # their digest, so that refused and settled replays take no room.
        db.execute("UPDATE replays SET state = 'done', result = ?, score_id = ?, replay = ?"
                   " WHERE id = ?", (status, score_id, b"", row_id))
        return status

    # -- workers ---------------------------------------------------------------

    def claim(self, worker: str, max_frames: int = MAX_FRAMES):
        """The fairest queued replay that claims at most `max_frames`,
        claimed by `worker` under a lease; None when nothing is waiting.
        Workers in other processes claim at the same time: each locks only
        the row it takes, passing over rows another is taking."""
        now = self.clock()
        with self._lock, board.transaction(self.db, board_write=False) as db:
            db.execute("UPDATE replays SET state = 'held', finished = ?,"
                       " reason = 'its verification was cut short ' || attempts || ' times'"
                       " || COALESCE(' (last: ' || reason || ')', '')"
                       " WHERE state = 'queued' AND attempts >= ?"
                       " AND (lease_until IS NULL OR lease_until < ?)", (now, ATTEMPTS, now))
            waiting = db.execute(
                "SELECT id, block, client, key, claim_frames, attempts FROM replays"
                " WHERE state = 'queued' AND (lease_until IS NULL OR lease_until < ?)"
                " AND claim_frames <= ? ORDER BY id LIMIT 10000", (now, max_frames)).fetchall()
            if not waiting:
                return None
            # A replay whose verification was cut short before goes apart:
            # one such at a time, so that whatever cut it short cannot take
            # other replays with it.
            if db.execute("SELECT 1 FROM replays WHERE state = 'queued' AND attempts >= 2"
                          " AND lease_until >= ? LIMIT 1", (now,)).fetchone():
                waiting = [r for r in waiting if r[5] == 0]
                if not waiting:
                    return None
            tags = self._tags(db)
            # The virtual time is at least the lowest start of a waiting
            # /24: when every one of them is ahead, it moves up to them.
            vtime = min(max(tags[""], tags.get("b " + r[1], tags[""])) for r in waiting)

            def tag(unit):
                return max(vtime, tags.get(unit, vtime))

            def order(row):
                # Fair queueing per /24, then client, then key: a group's next
                # replay starts where what it has had ends, or at the virtual
                # time if it has had nothing lately, and the lowest finish (that
                # start and the replay's estimate) goes first.
                cost = estimate(row[4])
                return (*(tag(u) + cost for u in ("b " + row[1], "c " + row[2], "k " + row[3])),
                        row[0])
            waiting.sort(key=order)
            for row_id, block, client, key, frames, attempts in waiting[:CLAIM_TRIES]:
                row = db.execute("SELECT replay FROM replays WHERE id = ?"
                                 " AND state = 'queued' AND (lease_until IS NULL OR lease_until < ?)"
                                 + db.for_update, (row_id, now)).fetchone()
                if row is not None:
                    break
            else:
                return None
            cost = estimate(frames)
            charges = {"": vtime} if vtime > tags[""] else {}
            for unit in ("b " + block, "c " + client, "k " + key):
                charges[unit] = tag(unit) + cost
            self._charge(db, charges)
            db.execute("UPDATE replays SET claimed_by = ?, lease_until = ?, charged = ?,"
                       " attempts = attempts + 1 WHERE id = ?",
                       (worker, now + self.lease, cost, row_id))
            if row_id % 64 == 0:        # groups behind the virtual time are as good as new
                db.execute("DELETE FROM fair WHERE finish < ? AND unit != ''", (vtime,))
        return Job(row_id, row[0], worker, frames, apart=attempts > 0)

    @staticmethod
    def _tags(db):
        """{unit: virtual finish} of the groups ahead of the virtual time
        (and '' with the virtual time itself)."""
        vtime = db.execute("SELECT finish FROM fair WHERE unit = ''").fetchone()
        vtime = vtime[0] if vtime else 0.0
        tags = dict(db.execute("SELECT unit, finish FROM fair WHERE finish >= ?", (vtime,)))
        tags[""] = vtime
        return tags

    @staticmethod
    def _charge(db, finishes):
        """Sets these units' virtual finish times (in one order, so that
        workers of other processes never wait for each other in a circle)."""
        for unit in sorted(finishes):
            db.execute("INSERT INTO fair (unit, finish) VALUES (?, ?) ON CONFLICT (unit)"
                       " DO UPDATE SET finish = excluded.finish", (unit, finishes[unit]))

    def _settle_charge(self, db, row_id: int, cost: float):
        """Charges the groups of a row what its verification cost instead of
        what was charged when it was claimed."""
        block, client, key, charged = db.execute(
            "SELECT block, client, key, charged FROM replays WHERE id = ?", (row_id,)).fetchone()
        extra = cost - (charged or 0.0)
        # The virtual time runs as a fair share of the verifier would: what
        # was served, shared among the /24s waiting or being served.
        waiting = db.execute("SELECT COUNT(DISTINCT block) FROM replays"
                             " WHERE state = 'queued'").fetchone()[0]
        vtime = self._tags(db)[""]
        for unit, start, add in sorted([("", vtime, 0.0)] + [
                (u, vtime, extra) for u in ("b " + block, "c " + client, "k " + key)]):
            add = cost / max(1, waiting) if unit == "" else add
            db.execute("INSERT INTO fair (unit, finish) VALUES (?, ?) ON CONFLICT (unit)"
                       " DO UPDATE SET finish = fair.finish + ?", (unit, start + add, add))
        db.execute("UPDATE replays SET charged = ? WHERE id = ?", (cost, row_id))

    def finish(self, job: Job, verdict: Verdict):
        """Writes the verdict, and the score when its upload has come, in
        one transaction; nothing when the claim was lost meanwhile. Returns
        the row's new state, or None. A verification that could not finish
        for a reason not the replay's own (`verdict.retry`) leaves the
        replay queued, apart, or held for the operator after too many tries."""
        now = self.clock()
        with self._lock, board.transaction(self.db) as db:
            row = db.execute("SELECT state, claimed_by, key, name_key, claim_score, claim_level,"
                             " uploaded, attempts FROM replays WHERE id = ?" + db.lock_row,
                             (job.id,)).fetchone()
            if row is None or row[0] != "queued" or row[1] != job.worker:
                return None
            _, _, key, name_key, score, level, uploaded, attempts = row
            self._settle_charge(db, job.id, verdict.cpu + START_COST)
            if verdict.retry:
                state = "held" if attempts >= ATTEMPTS else "queued"
                db.execute("UPDATE replays SET state = ?, reason = ?, cpu = ?, finished = ?,"
                           " claimed_by = NULL, lease_until = NULL WHERE id = ?",
                           (state, verdict.why if state == "queued" else
                            f"its verification was cut short {attempts} times"
                            f" (last: {verdict.why})", verdict.cpu,
                            now if state == "held" else None, job.id))
                return state
            why = self._refusal(db, verdict, key, name_key, score, level)
            db.execute("UPDATE replays SET state = ?, reason = ?, frames = ?, hash = ?,"
                       " fingerprint = ?, cpu = ?, finished = ?, claimed_by = NULL,"
                       " lease_until = NULL WHERE id = ?",
                       ("refused" if why else "verified", why or None, verdict.frames,
                        verdict.hash or None, verdict.fingerprint or None, verdict.cpu, now,
                        job.id))
            if why:
                db.execute("UPDATE replays SET replay = ? WHERE id = ?", (b"", job.id))
                return "refused"
            if verdict.plays is not None:
                board.add_plays(db, verdict.plays, key, name_key, job.id)
            if uploaded is not None:
                self._store(db, job.id)
                return "done"
            return "verified"

    @staticmethod
    def _refusal(db, verdict: Verdict, key: str, name_key: str, score: int, level: str) -> str:
        if not verdict.ok:
            return verdict.why or "invalid"
        if (verdict.score, verdict.level) != (score, level):
            return f"played to {verdict.level} {verdict.score}, claims {level} {score}"
        # One game, one line: the same game under another key is a copy, and
        # under another name family of the same key a second line. A level
        # played move for move on the same ticks is the same game, whatever
        # else the bytes hold; a partial copy shares its first levels.
        owners = {(k, n) for k, n, _, _ in board.games_sharing(db, verdict.plays or ())}
        # The fingerprint covers what decides the game; the state at the end
        # catches an exact copy of a score stored before fingerprints (or by
        # a verifier without them).
        fingerprint = verdict.fingerprint or None
        owners.update(db.execute(
            "SELECT key, name_key FROM replays WHERE (fingerprint = ? OR hash = ?)"
            " AND state IN ('verified', 'done')"
            " UNION SELECT key, name_key FROM scores WHERE fingerprint = ? OR replay_hash = ?",
            (fingerprint, verdict.hash, fingerprint, verdict.hash)).fetchall())
        if any(k != key for k, _ in owners):
            return "the same game is stored under another key"
        if any(n != name_key for _, n in owners):
            return "the same game is stored under another name"
        return ""

    def release_dead(self, host: str):
        """Gives back the claims of this host's workers whose process is gone
        (a server killed and restarted), so they need not wait out their lease."""
        with self._lock, board.transaction(self.db) as db:
            holders = [r[0] for r in db.execute(
                "SELECT DISTINCT claimed_by FROM replays WHERE state = 'queued'"
                " AND claimed_by LIKE ?", (host + ":%",))]
            for holder in holders:
                try:
                    if int(holder.split(":")[1]) == os.getpid():
                        raise ProcessLookupError    # this process starts: it holds nothing yet
                    os.kill(int(holder.split(":")[1]), 0)
                    continue
                except (ValueError, IndexError, ProcessLookupError):
                    pass
                except PermissionError:
                    continue
                db.execute("UPDATE replays SET claimed_by = NULL, lease_until = NULL"
                           " WHERE state = 'queued' AND claimed_by = ?", (holder,))

    def release_claims(self, prefix: str):
        """Gives back the claims of the workers whose ids start with
        `prefix` (a process that stops), not counting them as attempts."""
        with self._lock, board.transaction(self.db) as db:
            db.execute("UPDATE replays SET claimed_by = NULL, lease_until = NULL,"
                       " attempts = attempts - 1 WHERE state = 'queued' AND claimed_by LIKE ?"
                       " AND attempts > 0", (prefix + "%",))

    def being_verified(self) -> int:
        """How many uploads wait for their replay's verdict: what a board
        page shows as "being verified" (never what they claim)."""
        with self._lock:
            return self.db.execute(
                "SELECT COUNT(*) FROM replays"
                " WHERE state = 'queued' AND uploaded IS NOT NULL").fetchone()[0]


def worker_id(number: int) -> str:
    return f"{socket.gethostname()}:{os.getpid()}:{number}"


class Workers:
    """Verifier threads of this process, each taking the fairest row. No
    worker is kept for short games: the fair order puts a newcomer's game,
    short or long, before a flood's, so it waits only for the verifications
    running when it comes, and a long game gets every worker."""

    def __init__(self, queue: ReplayQueue, verifier, count: int, idle_poll: float = 1.0,
                 tally=lambda what: None):
        """`tally(what)` counts each verdict ("replay verified", "replay
        refused: why")."""
        self.queue = queue
        self.tally = tally
        self.verifier = verifier
        self.idle_poll = idle_poll
        self._stop = threading.Event()
        self._last_error = ""
        queue.release_dead(socket.gethostname())
        self._threads = [threading.Thread(
            target=self._run, args=(worker_id(i), MAX_FRAMES), name=f"verifier-{i}",
            daemon=True)
            for i in range(count)]
        for t in self._threads:
            t.start()

    def _run(self, worker: str, max_frames: int):
        while not self._stop.is_set():
            try:
                took = self.step(worker, max_frames)
            except Exception as e:      # a locked or failing database: try again shortly
                self._report(e)
                took = None
            if took is None:
                with self.queue.arrived:
                    self.queue.arrived.wait(self.idle_poll)

    def step(self, worker: str = None, max_frames: int = MAX_FRAMES):
        """Claims one replay, plays it and writes the verdict: the row's new
        state ("lost" when the claim ran out meanwhile, "stopped" when the
        workers are stopping), or None when nothing was waiting. The threads
        loop over it; tests call it themselves, with no threads running, to
        verify exactly one replay at a time."""
        worker = worker or worker_id(len(self._threads))
        job = self.queue.claim(worker, max_frames)
        if job is None:
            return None
        if self._stop.is_set():
            return "stopped"
        verdict = self.verifier.run(job.replay, job.frames or MAX_FRAMES, self._stop,
                                    apart=job.apart)
        if self._stop.is_set():
            return "stopped"    # cut short by the stop: the claim goes back to the queue
        try:
            state = self.queue.finish(job, verdict)
        except Exception as e:      # the lease runs out and it is verified again
            self._report(e)
            return "lost"
        if state == "refused":
            self.tally("replay refused: " + (verdict.why.split(":")[0] if not verdict.ok
                                             else "another score or another key's game"))
        elif state is not None:
            self.tally("replay verified")
        return state or "lost"

    def _report(self, error: Exception):
        # One line for each new kind of failure, not one a second.
        text = f"{type(error).__name__}: {error}"
        if text != self._last_error:
            self._last_error = text
            logging.getLogger("zephrant.server").warning("verifier queue: %s", text)

    def stop(self):
        self._stop.set()
        self.verifier.cancel()
        with self.queue.arrived:
            self.queue.arrived.notify_all()
        for t in self._threads:
            t.join(timeout=5)
        # What was being verified goes back to the queue now, not when its
        # lease runs out.
        try:
            self.queue.release_claims(worker_id(0)[:-1])
        except Exception:
            pass        # then the lease gives it back
