"""Per-client rate limits, the book of outstanding challenges, and the
counts of refusals.

All keep their state in memory only: a restart forgets every outstanding
challenge, and the game simply gets "challenge not met" and asks again.

Clients are grouped as the internet hands out addresses: an IPv4 address is
one client, an IPv6 client is its /64 (one home or phone gets a whole /64).
Wider blocks (an IPv4 /24, an IPv6 /48) share a larger allowance of
outstanding challenges, so one network cannot fill the book.
"""

import ipaddress
import secrets
import threading
from collections import Counter, OrderedDict, deque


def _ip(address: str):
    """The address as an ipaddress object (IPv4-mapped IPv6 as IPv4), or None."""
    try:
        ip = ipaddress.ip_address(address.split("%", 1)[0])
    except ValueError:
        return None
    return ip.ipv4_mapped if ip.version == 6 and ip.ipv4_mapped is not None else ip


def client_group(address: str) -> str:
    """The unit the per-client limits count: an IPv4 address or an IPv6 /64."""
    ip = _ip(address)
    if ip is None:
        return address
    return str(ipaddress.ip_network(f"{ip}/64", strict=False)) if ip.version == 6 else str(ip)


def client_block(address: str) -> str:
    """A wider network around the client: an IPv4 /24 or an IPv6 /48."""
    ip = _ip(address)
    if ip is None:
        return address
    return str(ipaddress.ip_network(f"{ip}/{48 if ip.version == 6 else 24}", strict=False))


def client_wide(address: str) -> str:
    """A still wider network: an IPv4 /16 or an IPv6 /32 (an ISP's share)."""
    ip = _ip(address)
    if ip is None:
        return address
    return str(ipaddress.ip_network(f"{ip}/{32 if ip.version == 6 else 16}", strict=False))


class RateLimiter:
    """At most `limit` events per key in any `window` seconds. The key is a
    client group (see client_group) or a player's key."""

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
    """One-time challenges: record id -> (challenge, expiry, address).

    A client (address or /64) holds at most `per_client` outstanding ones and
    its wider block at most `per_block`; the game needs one at a time. When
    the whole book is full the oldest challenge makes room, so the book can
    never refuse everybody, and no group of addresses can hold a share of it
    that crowds the others out."""

    LOW, HIGH = 100_000, 999_999   # small enough that the game's sum never wraps

    def __init__(self, ttl: float, capacity: int, clock, rng=None,
                 per_client: int = 4, per_block: int = 64):
        self.ttl = ttl
        self.capacity = capacity
        self.per_client = per_client
        self.per_block = per_block
        self.clock = clock
        self.rng = rng or secrets.SystemRandom()
        self._open = OrderedDict()      # oldest first
        self._held = Counter()          # client group -> outstanding
        self._held_block = Counter()    # block -> outstanding
        self._lock = threading.Lock()

    def issue(self, address: str):
        """Returns (record_id, challenge), or None when the client or its
        block already holds its share."""
        now = self.clock()
        group, block = client_group(address), client_block(address)
        with self._lock:
            self._expire(now)
            if self._held[group] >= self.per_client or self._held_block[block] >= self.per_block:
                return None
            while len(self._open) >= self.capacity:
                self._drop(next(iter(self._open)))
            record_id = secrets.token_hex(8)
            challenge = self.rng.randint(self.LOW, self.HIGH)
            self._open[record_id] = (challenge, now + self.ttl, address)
            self._held[group] += 1
            self._held_block[block] += 1
            return record_id, challenge

    def take(self, record_id: str, address: str):
        """Removes the challenge and returns its number, or None when the id is
        unknown, expired or was issued to another address. A challenge is
        spent by the first upload that quotes it, right or wrong."""
        now = self.clock()
        with self._lock:
            entry = self._drop(record_id)
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

    def _drop(self, record_id):
        entry = self._open.pop(record_id, None)
        if entry is not None:
            for counter, unit in ((self._held, client_group(entry[2])),
                                  (self._held_block, client_block(entry[2]))):
                counter[unit] -= 1
                if counter[unit] <= 0:
                    del counter[unit]
        return entry

    def _expire(self, now: float):
        # Issued in order with one lifetime, so the expired ones come first.
        while self._open:
            record_id, entry = next(iter(self._open.items()))
            if entry[1] > now:
                break
            self._drop(record_id)


class RefusalCounts:
    """Refusals are counted, not logged one by one: an attack must not turn
    into gigabytes of log. `drain()` hands over the counts since last time."""

    def __init__(self):
        self._counts = Counter()
        self._lock = threading.Lock()

    def add(self, reason: str):
        with self._lock:
            self._counts[reason] += 1

    def drain(self) -> Counter:
        with self._lock:
            counts, self._counts = self._counts, Counter()
            return counts
