"""Per-address rate limits and the book of outstanding challenges.

Both keep their state in memory only: a restart forgets every outstanding
challenge, and the game simply gets "challenge not met" and asks again.
"""

import secrets
import threading
from collections import deque


class RateLimiter:
    """At most `limit` events per address in any `window` seconds."""

    def __init__(self, limit: int, window: float, clock):
        self.limit = limit
        self.window = window
        self.clock = clock
        self._events = {}          # address -> deque of event times
        self._lock = threading.Lock()
        self._next_sweep = 0.0

    def allow(self, address: str) -> bool:
        now = self.clock()
        with self._lock:
            self._sweep(now)
            times = self._events.setdefault(address, deque())
            while times and times[0] <= now - self.window:
                times.popleft()
            if len(times) >= self.limit:
                return False
            times.append(now)
            return True

    def _sweep(self, now: float):
        # Forget quiet addresses now and then so the table cannot grow
        # without bound under traffic from many addresses.
        if now < self._next_sweep:
            return
        self._next_sweep = now + self.window
        for address in [a for a, t in self._events.items()
                        if not t or t[-1] <= now - self.window]:
            del self._events[address]


class ChallengeBook:
    """One-time challenges: record id -> (challenge, expiry, address)."""

    LOW, HIGH = 100_000, 999_999   # small enough that the game's sum never wraps

    def __init__(self, ttl: float, capacity: int, clock, rng=None):
        self.ttl = ttl
        self.capacity = capacity
        self.clock = clock
        self.rng = rng or secrets.SystemRandom()
        self._open = {}
        self._lock = threading.Lock()

    def issue(self, address: str):
        """Returns (record_id, challenge), or None when the book is full."""
        now = self.clock()
        with self._lock:
            self._expire(now)
            if len(self._open) >= self.capacity:
                return None
            record_id = secrets.token_hex(8)
            challenge = self.rng.randint(self.LOW, self.HIGH)
            self._open[record_id] = (challenge, now + self.ttl, address)
            return record_id, challenge

    def take(self, record_id: str, address: str):
        """Removes the challenge and returns its number, or None when the id is
        unknown, expired or was issued to another address. A challenge is
        spent by the first upload that quotes it, right or wrong."""
        now = self.clock()
        with self._lock:
            entry = self._open.pop(record_id, None)
            if entry is None:
                return None
            challenge, expiry, owner = entry
            if now >= expiry or owner != address:
                return None
            return challenge

    def outstanding(self) -> int:
        with self._lock:
            self._expire(self.clock())
            return len(self._open)

    def _expire(self, now: float):
        for record_id in [r for r, e in self._open.items() if e[1] <= now]:
            del self._open[record_id]
