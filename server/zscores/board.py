"""The online board in SQLite.

Every accepted score is kept for good, with the replay it was verified by.
The board the game downloads is worked out from them: each name's best score
that is not removed or banned, best first, equal scores in order of arrival
(the row id, which AUTOINCREMENT never reuses), the best 1000. A score that
falls below the 1000th line stays stored, so when an operator removes a cheat
the next line moves up.

A name belongs to the first key that stored a score under it.

The moderation command works on the same file from another process; the
server notices its changes at once through SQLite's data version.
"""

import sqlite3
import threading
import time

from . import rules

SCHEMA_VERSION = 2
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
    replay_hash TEXT
);
CREATE INDEX IF NOT EXISTS scores_replay ON scores (replay_hash);
CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id ASC);
CREATE INDEX IF NOT EXISTS scores_name ON scores (name, score DESC);
CREATE TABLE IF NOT EXISTS owners (
    name    TEXT PRIMARY KEY,
    key     TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS bans (
    kind    TEXT NOT NULL,
    value   TEXT NOT NULL,
    created REAL NOT NULL,
    PRIMARY KEY (kind, value)
);
"""

# Version 1 kept one row per name (UNIQUE) and deleted what fell off.
_FROM_V1 = """
ALTER TABLE scores RENAME TO scores_v1;
DROP INDEX IF EXISTS scores_rank;
""" + _SCHEMA + """
INSERT INTO scores (id, name, level, score, created, address)
    SELECT id, name, level, score, created, address FROM scores_v1;
DROP TABLE scores_v1;
"""

# The rows that count: not removed, nothing about them banned.
_VISIBLE = """
    removed = 0
    AND name NOT IN (SELECT value FROM bans WHERE kind = 'name')
    AND key NOT IN (SELECT value FROM bans WHERE kind = 'key')
    AND address NOT IN (SELECT value FROM bans WHERE kind = 'address')
"""

# Each visible name's best row (its earliest when equal), best first.
_BOARD = f"""
SELECT id, name, level, score FROM (
    SELECT id, name, level, score,
           ROW_NUMBER() OVER (PARTITION BY name ORDER BY score DESC, id ASC) AS k
    FROM scores WHERE {_VISIBLE})
WHERE k = 1 ORDER BY score DESC, id ASC LIMIT ?
"""


class BoardError(RuntimeError):
    pass


def connect(path: str) -> sqlite3.Connection:
    db = sqlite3.connect(path, check_same_thread=False, isolation_level=None, timeout=5.0)
    mode = db.execute("PRAGMA journal_mode=WAL").fetchone()[0]
    if mode.lower() != "wal" and path != ":memory:":
        raise BoardError(f"{path}: SQLite refused WAL mode (got {mode})")
    # An accepted score must survive a power cut: every commit reaches the disk.
    db.execute("PRAGMA synchronous=FULL")
    version = db.execute("PRAGMA user_version").fetchone()[0]
    if version == 1:
        db.executescript("BEGIN IMMEDIATE;" + _FROM_V1 + "COMMIT;")
    elif version not in (0, SCHEMA_VERSION):
        raise BoardError(f"{path}: schema version {version}, expected {SCHEMA_VERSION}")
    db.executescript(_SCHEMA)
    db.execute(f"PRAGMA user_version={SCHEMA_VERSION}")
    return db


class ScoreBoard:
    def __init__(self, path: str, size: int = BOARD_LINES):
        self.size = size
        self._lock = threading.Lock()
        self._db = connect(path)
        self._text = None           # cached board reply body
        self._ids = None            # the row ids of the cached board, best first
        self._seen = None           # data version the cache was made at

    def close(self):
        with self._lock:
            self._db.close()

    def journal_mode(self) -> str:
        with self._lock:
            return self._db.execute("PRAGMA journal_mode").fetchone()[0]

    def _fresh(self):
        # data_version changes whenever another connection (the moderation
        # command) commits; our own commits clear the cache themselves.
        version = self._db.execute("PRAGMA data_version").fetchone()[0]
        if version != self._seen:
            self._seen = version
            self._text = None
        if self._text is None:
            rows = self._db.execute(_BOARD, (self.size,)).fetchall()
            self._ids = [r[0] for r in rows]
            self._text = "".join(
                f"{n},{l},{s}\n" for _, n, l, s in rows).encode("ascii", "replace")

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

    def replay_stored(self, digest: str):
        """(key, name) of the stored score that came with this replay, or None."""
        with self._lock:
            return self._db.execute("SELECT key, name FROM scores WHERE replay_hash = ?",
                                    (digest,)).fetchone()

    def owner(self, name: str):
        with self._lock:
            row = self._db.execute("SELECT key FROM owners WHERE name = ?", (name,)).fetchone()
            return row[0] if row else None

    def banned(self, name: str, key: str, address: str) -> bool:
        with self._lock:
            return self._db.execute(
                "SELECT 1 FROM bans WHERE (kind = 'name' AND value = ?)"
                " OR (kind = 'key' AND value = ?) OR (kind = 'address' AND value = ?)",
                (name, key, address)).fetchone() is not None

    def submit(self, name: str, level: str, score: int, address: str,
               now: float = None, key: str = "", replay: bytes = None,
               replay_hash: str = None) -> str:
        """Enters one validated score; returns STORED, NOT_BETTER, OFF_THE_BOARD
        or NAME_TAKEN. A key, when given, must own the name or claims it."""
        now = time.time() if now is None else now
        with self._lock:
            try:
                return self._submit(name, level, score, address, now, key, replay,
                                    replay_hash)
            except sqlite3.Error as e:
                raise BoardError(str(e)) from e

    def _submit(self, name, level, score, address, now, key, replay, replay_hash):
        db = self._db
        db.execute("BEGIN IMMEDIATE")
        try:
            if key:
                owner = db.execute("SELECT key FROM owners WHERE name = ?", (name,)).fetchone()
                if owner is not None and owner[0] != key:
                    db.execute("ROLLBACK")
                    return rules.NAME_TAKEN
            best = db.execute(f"SELECT MAX(score) FROM scores WHERE name = ? AND {_VISIBLE}",
                              (name,)).fetchone()[0]
            if best is not None and best >= score:
                db.execute("ROLLBACK")
                return rules.NOT_BETTER
            db.execute(
                "INSERT INTO scores (name, level, score, created, address, key, replay,"
                " replay_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                (name, level, score, now, address, key, replay, replay_hash))
            if key:
                db.execute("INSERT OR IGNORE INTO owners (name, key) VALUES (?, ?)", (name, key))
            db.execute("COMMIT")
        except BaseException:
            if db.in_transaction:
                db.execute("ROLLBACK")
            raise
        self._text = None
        self._fresh()
        position = next((i for i, n in enumerate(self._text.splitlines())
                         if n.split(b",", 1)[0] == name.encode("ascii", "replace")), None)
        return rules.STORED if position is not None else rules.OFF_THE_BOARD


class Moderation:
    """What the moderation command does, on its own connection."""

    def __init__(self, path: str):
        self.db = connect(path)

    def close(self):
        self.db.close()

    def list(self, limit: int = 50, name: str = None, removed: bool = False):
        """Stored scores, best first: (id, name, level, score, key, address,
        removed, has_replay)."""
        where = "WHERE removed = 1" if removed else "WHERE 1"
        args = []
        if name is not None:
            where += " AND name = ?"
            args.append(name)
        return self.db.execute(
            "SELECT id, name, level, score, key, address, removed, replay IS NOT NULL"
            f" FROM scores {where} ORDER BY score DESC, id ASC LIMIT ?",
            (*args, limit)).fetchall()

    def set_removed(self, row_id: int, removed: bool) -> bool:
        cur = self.db.execute("UPDATE scores SET removed = ? WHERE id = ?",
                              (1 if removed else 0, row_id))
        return cur.rowcount == 1

    def ban(self, kind: str, value: str):
        if kind not in BAN_KINDS:
            raise ValueError(kind)
        self.db.execute("INSERT OR IGNORE INTO bans (kind, value, created) VALUES (?, ?, ?)",
                        (kind, value, time.time()))

    def unban(self, kind: str, value: str) -> bool:
        return self.db.execute("DELETE FROM bans WHERE kind = ? AND value = ?",
                               (kind, value)).rowcount == 1

    def bans(self):
        return self.db.execute("SELECT kind, value FROM bans ORDER BY kind, value").fetchall()

    def backup(self, target: str):
        """A consistent copy while the server runs (SQLite's online backup)."""
        with sqlite3.connect(target) as out:
            self.db.backup(out)
        out.close()
