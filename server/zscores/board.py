"""The online board, in SQLite or PostgreSQL (`zscores.db`).

Every accepted score is kept for good, with the replay it was verified by.
The board the game downloads is worked out from them: each name's best score
that is not removed or banned, best first, equal scores in order of arrival
(the row id, which AUTOINCREMENT never reuses), the best 1000. A score that
falls below the 1000th line stays stored, so when an operator removes a cheat
the next line moves up.

Names are compared by `rules.name_key`: look-alikes are one name family,
with one line on the board (its best score, shown as it was typed) and one
owner. The first key whose replay is accepted for a family holds it; the hold
becomes ownership when a score is stored, and lapses when every replay of
the holder under that family was refused and none of its scores is stored,
so a name cannot be squatted with replays that never verify. A line stored
without a key (by an older server, or imported) makes its name the
operator's to give: no key can claim it until `move-name` does.

A game is its play: each verified replay leaves the digest of every level it
played (`plays`), and a replay that shares one with another key's game, or
with the same key's game under another name family, is the same game.

The same file holds the queue of replays waiting for the verifier
(`zscores.queue`).

The moderation command works on the same database from another process;
the server notices its changes at once.
"""

import os
import subprocess
import threading
import time

from . import db as database
from . import rules

SCHEMA_VERSION = 4
BOARD_LINES = 1000      # the game's cache holds exactly this many
BAN_KINDS = ("name", "key", "address")

_SCHEMA = """
CREATE TABLE IF NOT EXISTS scores (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    name    TEXT    NOT NULL,
    level   TEXT    NOT NULL,
    score   INTEGER NOT NULL,
    created REAL    NOT NULL,
    address TEXT    NOT NULL,
    key     TEXT    NOT NULL DEFAULT '',
    removed INTEGER NOT NULL DEFAULT 0,
    replay  BLOB,
    replay_hash TEXT,
    name_key TEXT   NOT NULL DEFAULT '',
    fingerprint TEXT
);
CREATE INDEX IF NOT EXISTS scores_replay ON scores (replay_hash);
CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id ASC);
CREATE INDEX IF NOT EXISTS scores_name ON scores (name, score DESC);
CREATE INDEX IF NOT EXISTS scores_family ON scores (name_key, score DESC);
CREATE INDEX IF NOT EXISTS scores_fingerprint ON scores (fingerprint);
-- Who a name family belongs to. `hold` 1: taken by an accepted replay,
-- with no score stored yet (see `owner_of`).
CREATE TABLE IF NOT EXISTS owners (
    name_key TEXT PRIMARY KEY,
    key     TEXT NOT NULL,
    hold    INTEGER NOT NULL DEFAULT 0
);
-- A banned name bans its family (`family`, its name key); a key or an
-- address is banned as it stands.
CREATE TABLE IF NOT EXISTS bans (
    kind    TEXT NOT NULL,
    value   TEXT NOT NULL,
    created REAL NOT NULL,
    family  TEXT,
    PRIMARY KEY (kind, value)
);
-- Replays waiting for the verifier, and what it found. A worker claims a
-- queued row for `lease_until`; the verdict, and the score when its upload
-- has come, are written in one transaction by the worker holding the claim.
CREATE TABLE IF NOT EXISTS replays (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    created REAL    NOT NULL,
    address TEXT    NOT NULL,
    client  TEXT    NOT NULL,       -- the address, or its IPv6 /64
    block   TEXT    NOT NULL,       -- its IPv4 /24 or IPv6 /48
    key     TEXT    NOT NULL,
    name    TEXT    NOT NULL,       -- as the replay request named it
    name_key TEXT   NOT NULL,
    claim_score INTEGER NOT NULL,   -- what the replay's header claims
    claim_level TEXT NOT NULL,
    claim_frames INTEGER NOT NULL DEFAULT 0,
    replay  BLOB    NOT NULL,       -- emptied once refused or settled
    digest  TEXT    NOT NULL,       -- SHA-256 of the bytes
    state   TEXT    NOT NULL DEFAULT 'queued',   -- queued, verified, done, refused, held
    claimed_by TEXT,
    lease_until REAL,
    attempts INTEGER NOT NULL DEFAULT 0,
    uploaded REAL,                  -- when the upload it stands for came
    upload_name TEXT,               -- the name as that upload typed it
    frames  INTEGER,
    hash    TEXT,
    fingerprint TEXT,
    cpu     REAL,                   -- seconds the verifier spent on it
    reason  TEXT,                   -- why it was refused
    result  TEXT,                   -- the upload status its score got
    score_id INTEGER,
    finished REAL,
    reserved INTEGER NOT NULL DEFAULT 0,    -- queued in the room kept for newcomers
    charged REAL                    -- verifier seconds its groups were charged so far
);
-- The fair order of the queue: for each /24 ('b ...'), client ('c ...') and
-- key ('k ...'), the virtual time at which the verifier time it has had so
-- far ends; '' holds the queue's virtual time itself. A group missing here,
-- or behind the virtual time, has had nothing lately.
CREATE TABLE IF NOT EXISTS fair (
    unit    TEXT PRIMARY KEY,
    finish  REAL NOT NULL
);
CREATE INDEX IF NOT EXISTS fair_finish ON fair (finish);
CREATE INDEX IF NOT EXISTS replays_state ON replays (state, client);
CREATE INDEX IF NOT EXISTS replays_upload ON replays (client, name_key, claim_score);
CREATE INDEX IF NOT EXISTS replays_digest ON replays (digest);
CREATE INDEX IF NOT EXISTS replays_fingerprint ON replays (fingerprint);
CREATE INDEX IF NOT EXISTS replays_hash ON replays (hash);
CREATE INDEX IF NOT EXISTS replays_finished ON replays (finished);
CREATE INDEX IF NOT EXISTS replays_name ON replays (name_key, key);
-- Each level played in a verified game: its digest covers the level and
-- the ship's moves with the tick of each, nothing else; "-" marks a game
-- with no level that counts. Written with the verdict (`replay_id`), or for
-- a game verified before the verifier printed them, by `digest-plays`
-- (`score_id` when it has no replay row), and never removed.
CREATE TABLE IF NOT EXISTS plays (
    digest  TEXT    NOT NULL,
    replay_id INTEGER NOT NULL,     -- 0: none
    key     TEXT    NOT NULL,
    name_key TEXT   NOT NULL,
    score_id INTEGER
);
CREATE INDEX IF NOT EXISTS plays_digest ON plays (digest);
CREATE INDEX IF NOT EXISTS plays_replay ON plays (replay_id);
"""

# Columns of the queue that boards of this version made before them lack.
_ADDED_TO_REPLAYS = [("claim_frames", "INTEGER NOT NULL DEFAULT 0"),
                     ("reserved", "INTEGER NOT NULL DEFAULT 0"), ("charged", "REAL")]

# Version 1 kept one row per name (UNIQUE) and deleted what fell off.
_FROM_V1 = """
ALTER TABLE scores RENAME TO scores_v1;
DROP INDEX IF EXISTS scores_rank;
""" + _SCHEMA + """
INSERT INTO scores (id, name, level, score, created, address, name_key)
    SELECT id, name, level, score, created, address, zname(name) FROM scores_v1;
DROP TABLE scores_v1;
"""

# Version 2 compared names exactly and had no queue: owners are carried over
# by the look-alike rule, the earliest stored name first.
_FROM_V2 = """
ALTER TABLE scores ADD COLUMN name_key TEXT NOT NULL DEFAULT '';
ALTER TABLE scores ADD COLUMN fingerprint TEXT;
UPDATE scores SET name_key = zname(name);
ALTER TABLE owners RENAME TO owners_v2;
""" + _SCHEMA + """
INSERT INTO owners (name_key, key)
    SELECT zname(o.name), o.key FROM owners_v2 o
    ORDER BY (SELECT MIN(s.id) FROM scores s WHERE s.name = o.name)
    ON CONFLICT DO NOTHING;
DROP TABLE owners_v2;
"""

# The rows that count: not removed, nothing about them banned.
_VISIBLE = """
    removed = 0
    AND name_key NOT IN (SELECT family FROM bans WHERE kind = 'name' AND family IS NOT NULL)
    AND key NOT IN (SELECT value FROM bans WHERE kind = 'key')
    AND address NOT IN (SELECT value FROM bans WHERE kind = 'address')
"""

# Each visible name family's best row (its earliest when equal), best
# first, with the name as that row typed it.
_LINE_COLUMNS = "id, name, level, score, created, replay IS NOT NULL AND length(replay) > 0"
_BOARD = f"""
SELECT id, name, level, score, created, kept FROM (
    SELECT {_LINE_COLUMNS} AS kept,
           ROW_NUMBER() OVER (PARTITION BY name_key ORDER BY score DESC, id ASC) AS k
    FROM scores WHERE {_VISIBLE}) AS ranked
WHERE k = 1 ORDER BY score DESC, id ASC LIMIT ?
"""
_FAMILY = f"""
SELECT {_LINE_COLUMNS} FROM scores WHERE name_key = ? AND {_VISIBLE}
ORDER BY score DESC, id ASC LIMIT ?
"""


def board_lines(db, size: int = BOARD_LINES):
    """The board, best first: [(id, name, level, score, created, has_replay)],
    one line per name family, at most `size`."""
    return db.execute(_BOARD, (size,)).fetchall()


def family_scores(db, name: str, limit: int = 100):
    """The visible scores of `name`'s family (every look-alike spelling),
    best first, as `board_lines` gives them."""
    return db.execute(_FAMILY, (rules.name_key(name), limit)).fetchall()


class BoardError(RuntimeError):
    pass


def _bring_up_to_date(db):
    """The columns and indexes added since version 3, and the version."""
    # The steps after the tables exist run in one transaction that holds the
    # board's lock: processes opening one board at once (the server's
    # connections, workers, the admin tool) would otherwise take the same
    # tables' locks in other orders, which PostgreSQL ends as a deadlock.
    db.begin()
    try:
        have = db.columns("replays")
        for column, kind in _ADDED_TO_REPLAYS:      # a queue from before these were kept
            if column not in have:
                if db.kind == "postgresql":
                    kind = kind.replace("REAL", "DOUBLE PRECISION")
                db.execute(f"ALTER TABLE replays ADD COLUMN {column} {kind}")
        if "family" not in db.columns("bans"):      # version 3 banned names as typed
            db.execute("ALTER TABLE bans ADD COLUMN family TEXT")
        for (value,) in db.execute("SELECT value FROM bans WHERE kind = 'name'"
                                   " AND family IS NULL").fetchall():
            db.execute("UPDATE bans SET family = ? WHERE kind = 'name' AND value = ?",
                       (rules.name_key(value), value))
        if "score_id" not in db.columns("plays"):   # a table made before it was kept
            db.execute("ALTER TABLE plays ADD COLUMN score_id INTEGER")
        db.execute("CREATE INDEX IF NOT EXISTS plays_score ON plays (score_id)")
        if "hold" not in db.columns("owners"):      # version 3: owners were made by stored scores
            db.execute("ALTER TABLE owners ADD COLUMN hold INTEGER NOT NULL DEFAULT 0")
        db.set_schema_version(SCHEMA_VERSION)
        db.commit()
    except Exception:
        db.rollback()
        raise


def connect(target: str):
    """The board's database: an SQLite file, or a `postgresql://` URL."""
    try:
        db = database.connect(target, functions=[("zname", rules.name_key)])
    except database.DatabaseError as e:
        raise BoardError(str(e)) from e
    version = db.schema_version()
    # Versions 1 and 2 were SQLite only.
    if version == 1:
        db.script("BEGIN IMMEDIATE;" + _FROM_V1 + "COMMIT;")
    elif version == 2:
        db.script("BEGIN IMMEDIATE;" + _FROM_V2 + "COMMIT;")
    elif version not in (0, 3, SCHEMA_VERSION):     # version 3 gains columns below
        raise BoardError(f"{database.describe(target)}: schema version {version},"
                         f" expected {SCHEMA_VERSION}")
    # PostgreSQL ends a deadlock by failing one side: another process may be
    # opening the board or claiming a replay at the same moment. The side
    # that failed has changed nothing and tries again.
    for attempt in range(8):
        try:
            db.create(_SCHEMA)
            _bring_up_to_date(db)
            break
        except database.Deadlock:
            db.rollback()
            if attempt == 7:
                raise
            time.sleep(0.05 * (attempt + 1))
    return db


class ScoreBoard:
    def __init__(self, path: str, size: int = BOARD_LINES):
        self.size = size
        self._lock = threading.Lock()
        self._db = connect(path)
        self._text = None           # cached board reply body
        self._ids = None            # the row ids of the cached board, best first
        self._kept = None           # its lines (1-based) whose replay is kept
        self._seen = None           # data version the cache was made at

    def close(self):
        with self._lock:
            self._db.close()

    def journal_mode(self) -> str:
        with self._lock:
            if self._db.kind != "sqlite":
                return self._db.kind
            return self._db.execute("PRAGMA journal_mode").fetchone()[0]

    def _fresh(self):
        # data_version changes whenever another connection (the moderation
        # command) commits; our own commits clear the cache themselves.
        version = self._db.data_version()
        if version != self._seen:
            self._seen = version
            self._text = None
        if self._text is None:
            rows = board_lines(self._db, self.size)
            self._ids = [r[0] for r in rows]
            self._kept = [n for n, r in enumerate(rows, 1) if r[5]]
            self._text = "".join(
                f"{n},{l},{s}\n" for _, n, l, s, _, _ in rows).encode("ascii", "replace")

    def rows(self):
        """[(name, level, score)] best first, at most `size` of them."""
        with self._lock:
            self._fresh()
            return [tuple(line.split(",")) for line in self._text.decode().splitlines()]

    def board_text(self) -> bytes:
        """The board as "name,level,score" lines, each ending in LF."""
        with self._lock:
            self._fresh()
            return self._text

    def replay_of_line(self, line: int):
        """The replay kept for board line `line` (1-based), or None."""
        with self._lock:
            self._fresh()
            if not 1 <= line <= len(self._ids):
                return None
            row = self._db.execute("SELECT replay FROM scores WHERE id = ?",
                                   (self._ids[line - 1],)).fetchone()
            return row[0] if row and row[0] else None

    def replay_lines(self):
        """The board lines (1-based) whose replay is kept, best first."""
        with self._lock:
            self._fresh()
            return self._kept

    def owner(self, name: str):
        """The key that owns the name, "" when a keyless line holds it (only
        the operator can give it), None when it is free."""
        with self._lock:
            return owner_of(self._db, rules.name_key(name))

    def banned(self, name: str, key: str, address: str) -> bool:
        with self._lock:
            return banned(self._db, name, key, address)

    def submit(self, name: str, level: str, score: int, address: str,
               now: float = None, key: str = "", replay: bytes = None,
               replay_hash: str = None, fingerprint: str = None) -> str:
        """Enters one validated score; returns STORED, NOT_BETTER, OFF_THE_BOARD
        or NAME_TAKEN. A key, when given, must own the name or claims it."""
        now = time.time() if now is None else now
        with self._lock:
            try:
                with transaction(self._db):
                    status, _ = store(self._db, name, level, score, address, now, key,
                                      replay, replay_hash, fingerprint, self.size)
            except database.Error as e:
                raise BoardError(str(e)) from e
            self._text = None
            return status


transaction = database.transaction


def owner_of(db, name_key: str):
    """The key that owns or holds the family, "" when a keyless line holds
    it, None when it is free. A hold whose replays were all refused, with no
    score stored under it, has lapsed."""
    row = db.execute("SELECT key, hold FROM owners WHERE name_key = ?", (name_key,)).fetchone()
    if row is not None and not (row[1] and db.execute(
            "SELECT 1 FROM replays WHERE name_key = ? AND key = ? AND state != 'refused'"
            " UNION ALL SELECT 1 FROM scores WHERE name_key = ? AND key = ? LIMIT 1",
            (name_key, row[0], name_key, row[0])).fetchone() is None):
        return row[0]
    keyless = db.execute("SELECT 1 FROM scores WHERE name_key = ? AND key = '' LIMIT 1",
                         (name_key,)).fetchone()
    return "" if keyless else None


def take(db, name_key: str, key: str, hold: bool):
    """Inside the caller's transaction: whether `key` may use the family. A
    free family becomes the key's, held (an accepted replay) or owned (a
    stored score); a held one the key stores a score under becomes owned."""
    owner = owner_of(db, name_key)
    if owner is not None and owner != key:
        return False
    if owner is None or not hold:
        db.execute("INSERT INTO owners (name_key, key, hold) VALUES (?, ?, ?)"
                   " ON CONFLICT (name_key) DO UPDATE SET key = excluded.key, hold = excluded.hold",
                   (name_key, key, 1 if hold else 0))
    return True


def add_plays(db, plays, key: str, name_key: str, replay_id: int = 0, score_id: int = None):
    """Keeps a verified game's level digests (the mark "-" when none counts)."""
    db.executemany("INSERT INTO plays (digest, replay_id, score_id, key, name_key)"
                   " VALUES (?, ?, ?, ?, ?)",
                   [(d, replay_id, score_id, key, name_key) for d in sorted(set(plays)) or ["-"]])


def games_sharing(db, plays):
    """[(key, name_key, replay id, score id)] of the verified games that
    played any of these levels move for move."""
    plays, found = sorted(set(plays)), set()
    for at in range(0, len(plays), 200):
        part = plays[at:at + 200]
        found.update(db.execute(
            "SELECT p.key, p.name_key, p.replay_id, COALESCE(p.score_id, r.score_id) FROM plays p"
            " LEFT JOIN replays r ON r.id = p.replay_id"
            f" WHERE p.digest IN ({','.join('?' * len(part))})", part).fetchall())
    return sorted(found, key=lambda g: (g[2], g[3] or 0))


def banned(db, name: str, key: str, address: str) -> bool:
    return db.execute(
        "SELECT 1 FROM bans WHERE (kind = 'name' AND family = ?)"
        " OR (kind = 'key' AND value = ?) OR (kind = 'address' AND value = ?)",
        (rules.name_key(name), key, address)).fetchone() is not None


def store(db, name, level, score, address, now, key="", replay=None, replay_hash=None,
          fingerprint=None, size=BOARD_LINES):
    """Enters one score inside the caller's transaction: (status, row id or None)."""
    name_key = rules.name_key(name)
    if key and not take(db, name_key, key, hold=False):
        return rules.NAME_TAKEN, None
    best = db.execute(f"SELECT MAX(score) FROM scores WHERE name_key = ? AND {_VISIBLE}",
                      (name_key,)).fetchone()[0]
    if best is not None and best >= score:
        return rules.NOT_BETTER, None
    row_id = db.execute(
        "INSERT INTO scores (name, level, score, created, address, key, replay, replay_hash,"
        " name_key, fingerprint) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        (name, level, score, now, address, key, replay, replay_hash, name_key,
         fingerprint)).fetchone()[0]
    on_board = any(line[0] == row_id for line in board_lines(db, size))
    return (rules.STORED if on_board else rules.OFF_THE_BOARD), row_id


class Moderation:
    """What the moderation command does, on its own connection."""

    def __init__(self, path: str):
        self.db = connect(path)

    def close(self):
        self.db.close()

    def list(self, limit: int = 50, name: str = None, removed: bool = False):
        """Stored scores, best first: (id, name, level, score, key, address,
        removed, has_replay, banned: what of name, key and address is)."""
        where = "WHERE removed = 1" if removed else "WHERE 1 = 1"
        args = []
        if name is not None:            # the name's family: every look-alike spelling
            where += " AND name_key = ?"
            args.append(rules.name_key(name))
        rows = self.db.execute(
            "SELECT id, name, level, score, key, address, removed, replay IS NOT NULL"
            f" FROM scores {where} ORDER BY score DESC, id ASC LIMIT ?",
            (*args, limit)).fetchall()
        bans = {(kind, rules.name_key(value) if kind == "name" else value)
                for kind, value in self.bans()}
        return [(*row, [kind for kind, value in zip(
            BAN_KINDS, (rules.name_key(row[1]), row[4], row[5])) if (kind, value) in bans])
            for row in rows]

    def score(self, row_id: int):
        """(name, level, score) of a stored score, or None."""
        return self.db.execute("SELECT name, level, score FROM scores WHERE id = ?",
                               (row_id,)).fetchone()

    def set_removed(self, row_id: int, removed: bool) -> bool:
        cur = self.db.execute("UPDATE scores SET removed = ? WHERE id = ?",
                              (1 if removed else 0, row_id))
        return cur.rowcount == 1

    def ban(self, kind: str, value: str) -> bool:
        """False when it was banned already."""
        if kind not in BAN_KINDS:
            raise ValueError(kind)
        if kind == "name" and self.db.execute(
                "SELECT 1 FROM bans WHERE kind = 'name' AND family = ?",
                (rules.name_key(value),)).fetchone():
            return False
        return self.db.execute("INSERT INTO bans (kind, value, created, family)"
                               " VALUES (?, ?, ?, ?) ON CONFLICT DO NOTHING",
                               (kind, value, time.time(),
                                rules.name_key(value) if kind == "name" else None)).rowcount == 1

    def unban(self, kind: str, value: str) -> bool:
        """A name is unbanned in any spelling of its family."""
        if kind == "name":
            return self.db.execute("DELETE FROM bans WHERE kind = 'name' AND family = ?",
                                   (rules.name_key(value),)).rowcount >= 1
        return self.db.execute("DELETE FROM bans WHERE kind = ? AND value = ?",
                               (kind, value)).rowcount == 1

    def bans(self):
        return self.db.execute("SELECT kind, value FROM bans ORDER BY kind, value").fetchall()

    def replays(self, limit: int = 50, state: str = None):
        """Replays sent for verification, newest first: (id, created, state,
        name, claimed level, claimed score, key, address, cpu seconds,
        reason or result)."""
        where, args = ("WHERE state = ?", [state]) if state else ("", [])
        return self.db.execute(
            "SELECT id, created, state, COALESCE(upload_name, name), claim_level, claim_score,"
            " key, address, cpu, COALESCE(reason, result, '')"
            f" FROM replays {where} ORDER BY id DESC LIMIT ?", (*args, limit)).fetchall()

    def retry(self, replay_id: int) -> bool:
        """Puts a held replay back in the queue, with its tries anew."""
        with transaction(self.db):
            return self.db.execute(
                "UPDATE replays SET state = 'queued', attempts = 0, reason = NULL,"
                " finished = NULL WHERE id = ? AND state = 'held'", (replay_id,)).rowcount == 1

    def move_name(self, name: str, key: str):
        """Gives the name, and every look-alike of it, to `key`: the key it
        belonged to before, or None."""
        name_key = rules.name_key(name)
        with transaction(self.db):
            before = owner_of(self.db, name_key)
            self.db.execute("INSERT INTO owners (name_key, key, hold) VALUES (?, ?, 0)"
                            " ON CONFLICT (name_key) DO UPDATE SET key = excluded.key, hold = 0",
                            (name_key, key))
        return before

    def undigested(self):
        """The games verified before the verifier printed level digests, oldest
        first: [(replay id or 0, score id or None)]. Each stored score with
        its replay, and each verified replay still waiting for its upload."""
        return self.db.execute(
            "SELECT r.id, CAST(NULL AS INTEGER) FROM replays r WHERE r.state = 'verified'"
            " AND NOT EXISTS (SELECT 1 FROM plays p WHERE p.replay_id = r.id)"
            " UNION ALL SELECT COALESCE(r.id, 0), s.id FROM scores s"
            " LEFT JOIN replays r ON r.score_id = s.id WHERE length(s.replay) > 0"
            " AND NOT EXISTS (SELECT 1 FROM plays p WHERE p.score_id = s.id"
            " OR (r.id IS NOT NULL AND p.replay_id = r.id))"
            " ORDER BY 1, 2").fetchall()

    def digest(self, replay_id: int, score_id, run):
        """Plays one undigested game again with `run(replay bytes)` (a
        verdict) and keeps its level digests. Returns (why it could not be
        digested or "", [(key, name_key, replay id, score id)] of other
        games of another key or name family that share a level with it)."""
        if score_id is None:
            row = self.db.execute("SELECT replay, key, name_key FROM replays WHERE id = ?",
                                  (replay_id,)).fetchone()
        else:
            row = self.db.execute("SELECT replay, key, name_key FROM scores WHERE id = ?",
                                  (score_id,)).fetchone()
        verdict = run(bytes(row[0]))
        if not verdict.ok or verdict.plays is None:
            return verdict.why or "the verifier prints no level digests", []
        _, key, name_key = row
        with transaction(self.db):
            shared = [g for g in games_sharing(self.db, verdict.plays)
                      if g[0] != key or g[1] != name_key]
            add_plays(self.db, verdict.plays, key, name_key, replay_id,
                      None if replay_id else score_id)
        return "", shared

    def backup(self, target: str) -> str:
        """A consistent copy while the server runs, readable by its owner
        alone (it holds keys and addresses): SQLite's online backup, or
        pg_dump's custom format. Says how it was made."""
        fd = os.open(target, os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            os.fchmod(fd, 0o600)
            if self.db.kind == "sqlite":
                self.db.backup(target)
                return "SQLite online backup"
            os.ftruncate(fd, 0)
            run = subprocess.run(["pg_dump", "--format=custom", "--dbname", self.db.target],
                                 stdout=fd, stderr=subprocess.PIPE, text=True)
            if run.returncode != 0:
                raise BoardError(f"pg_dump failed: {run.stderr.strip()}")
            return "pg_dump --format=custom (restore with pg_restore)"
        finally:
            os.close(fd)
