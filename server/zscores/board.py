"""The online board in SQLite: one row per name, its best score, best first.

Ranking is by score, highest first; equal scores rank in order of arrival
(the row id, which AUTOINCREMENT never reuses). A name keeps only its best
score: a better upload replaces the row and arrives anew. Only the best
`size` rows are kept, so the file stays small however many people play.
"""

import sqlite3
import threading
import time

from . import rules

SCHEMA_VERSION = 1
BOARD_LINES = 1000      # the game's cache holds exactly this many

_SCHEMA = """
CREATE TABLE IF NOT EXISTS scores (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    name    TEXT    NOT NULL UNIQUE,
    level   TEXT    NOT NULL,
    score   INTEGER NOT NULL,
    created REAL    NOT NULL,
    address TEXT    NOT NULL
);
CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id ASC);
"""


class BoardError(RuntimeError):
    pass


class ScoreBoard:
    def __init__(self, path: str, size: int = BOARD_LINES):
        self.size = size
        self._lock = threading.Lock()
        self._db = sqlite3.connect(path, check_same_thread=False,
                                   isolation_level=None, timeout=5.0)
        mode = self._db.execute("PRAGMA journal_mode=WAL").fetchone()[0]
        if mode.lower() != "wal" and path != ":memory:":
            raise BoardError(f"{path}: SQLite refused WAL mode (got {mode})")
        self._db.execute("PRAGMA synchronous=NORMAL")
        version = self._db.execute("PRAGMA user_version").fetchone()[0]
        if version not in (0, SCHEMA_VERSION):
            raise BoardError(f"{path}: schema version {version}, expected {SCHEMA_VERSION}")
        self._db.executescript(_SCHEMA)
        self._db.execute(f"PRAGMA user_version={SCHEMA_VERSION}")
        self._text = None           # cached board reply body, rebuilt after changes

    def close(self):
        with self._lock:
            self._db.close()

    def journal_mode(self) -> str:
        with self._lock:
            return self._db.execute("PRAGMA journal_mode").fetchone()[0]

    def rows(self):
        """[(name, level, score)] best first, at most `size` of them."""
        with self._lock:
            return self._rows()

    def _rows(self):
        return self._db.execute(
            "SELECT name, level, score FROM scores"
            " ORDER BY score DESC, id ASC LIMIT ?", (self.size,)).fetchall()

    def board_text(self) -> bytes:
        """The board as "name,level,score" lines, each ending in LF."""
        with self._lock:
            if self._text is None:
                self._text = "".join(
                    f"{n},{l},{s}\n" for n, l, s in self._rows()).encode("ascii", "replace")
            return self._text

    def submit(self, name: str, level: str, score: int, address: str,
               now: float = None) -> str:
        """Enters one validated score; returns STORED, NOT_BETTER or OFF_THE_BOARD."""
        now = time.time() if now is None else now
        with self._lock:
            try:
                return self._submit(name, level, score, address, now)
            except sqlite3.Error as e:
                raise BoardError(str(e)) from e

    def _submit(self, name, level, score, address, now):
        db = self._db
        db.execute("BEGIN IMMEDIATE")
        try:
            row = db.execute("SELECT score FROM scores WHERE name = ?", (name,)).fetchone()
            if row is not None and row[0] >= score:
                db.execute("ROLLBACK")
                return rules.NOT_BETTER
            # A new arrival ranks below every equal score already there.
            ahead = db.execute(
                "SELECT COUNT(*) FROM scores WHERE score >= ? AND name != ?",
                (score, name)).fetchone()[0]
            if ahead >= self.size:
                db.execute("ROLLBACK")
                return rules.OFF_THE_BOARD
            db.execute("DELETE FROM scores WHERE name = ?", (name,))
            db.execute(
                "INSERT INTO scores (name, level, score, created, address)"
                " VALUES (?, ?, ?, ?, ?)", (name, level, score, now, address))
            db.execute(
                "DELETE FROM scores WHERE id NOT IN"
                " (SELECT id FROM scores ORDER BY score DESC, id ASC LIMIT ?)",
                (self.size,))
            db.execute("COMMIT")
        except BaseException:
            if db.in_transaction:
                db.execute("ROLLBACK")
            raise
        self._text = None
        return rules.STORED
