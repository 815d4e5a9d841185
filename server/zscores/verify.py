"""Replays checked by the game's own verifier, and the desk where verified
replays wait for the upload they stand for.

The verifier is the game itself (`zephrant --verify FILE`): it plays the
replay headless under the game's own rules and prints one line
`score=12345 level=B3 frames=54321 hash=<16 hex>`; exit status 0 means the
replay is valid, 2 invalid, 3 made by other rules, 1 it could not be read.
It runs as a separate process with limits on CPU time, memory and open files
and a wall-clock time-out, in a scratch directory with a bare environment. At
most `workers` run at once and at most `queue` more wait; past that a replay
is turned away as busy.
"""

import os
import re
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass

_LINE = re.compile(rb"^score=(\d{1,8}) level=(\S\S) frames=(\d{1,9}) hash=([0-9a-f]{16})\s*$",
                   re.MULTILINE)


@dataclass(frozen=True)
class Verdict:
    ok: bool
    score: int = 0
    level: str = ""
    frames: int = 0
    hash: str = ""
    why: str = ""


class Verifier:
    def __init__(self, program: str, workers: int = 2, queue: int = 16,
                 cpu_seconds: int = 30, memory_mb: int | None = 1024, wall_seconds: float = 45.0):
        self.program = os.path.abspath(program)
        self.cpu_seconds = cpu_seconds
        self.memory_mb = memory_mb
        self.wall_seconds = wall_seconds
        self._running = threading.BoundedSemaphore(workers)
        self._admitted = threading.BoundedSemaphore(workers + queue)

    def verify(self, replay: bytes):
        """A Verdict, or None when every worker is busy and the queue is full."""
        if not self._admitted.acquire(blocking=False):
            return None
        try:
            with self._running:
                return self._run(replay)
        finally:
            self._admitted.release()

    def _run(self, replay: bytes) -> Verdict:
        with tempfile.TemporaryDirectory(prefix="zephrant-verify-") as scratch:
            path = os.path.join(scratch, "upload.replay")
            with open(path, "wb") as f:
                f.write(replay)
            # memory_mb None leaves the address space unbounded: a sanitizer
            # build reserves terabytes of it for shadow memory and dies under
            # any such limit (the tests run the verifier of both builds).
            memory = [] if self.memory_mb is None else [f"--as={self.memory_mb * 1024 * 1024}"]
            command = ["prlimit", f"--cpu={self.cpu_seconds}", *memory, "--nofile=64",
                       "--core=0", "--", self.program, "--verify", path]
            env = {"PATH": "/usr/bin:/bin", "HOME": scratch, "XDG_CONFIG_HOME": scratch,
                   "XDG_DATA_HOME": scratch, "SDL_VIDEODRIVER": "dummy",
                   "SDL_AUDIODRIVER": "dummy", "ALSOFT_DRIVERS": "null"}
            try:
                run = subprocess.run(command, cwd=scratch, env=env, stdin=subprocess.DEVNULL,
                                     capture_output=True, timeout=self.wall_seconds)
            except subprocess.TimeoutExpired:
                return Verdict(False, why="verifier ran out of time")
            except OSError as e:
                return Verdict(False, why=f"verifier did not start: {e.strerror}")
        if run.returncode != 0:
            reasons = {1: "unreadable", 2: "invalid", 3: "made by other rules"}
            return Verdict(False, why=reasons.get(run.returncode,
                                                  f"verifier ended with {run.returncode}"))
        found = _LINE.search(run.stdout[:4096])
        if not found:
            return Verdict(False, why="verifier said nothing usable")
        score, level, frames, digest = found.groups()
        return Verdict(True, int(score), level.decode("ascii"), int(frames),
                       digest.decode("ascii"))


@dataclass
class Verified:
    key: str
    score: int
    level: str
    hash: str
    replay: bytes
    until: float


class ReplayDesk:
    """Verified replays waiting for their upload, one per client and name.

    The game sends the replay just before the upload it stands for; the
    upload then takes it when name, level and score match exactly. While a
    replay is still being verified an upload for it waits a little."""

    def __init__(self, clock=time.monotonic, ttl: float = 600.0, capacity: int = 10000):
        self.clock = clock
        self.ttl = ttl
        self.capacity = capacity
        self._waiting = {}          # (client, name) -> Verified, or None while verifying
        self._cond = threading.Condition()

    def begin(self, client: str, name: str):
        with self._cond:
            self._expire()
            if len(self._waiting) >= self.capacity:
                self._waiting.pop(next(iter(self._waiting)))
            self._waiting[(client, name)] = None

    def finish(self, client: str, name: str, verified):
        """Hands in what verification found: a Verified, or None (nothing)."""
        with self._cond:
            if verified is None:
                self._waiting.pop((client, name), None)
            else:
                verified.until = self.clock() + self.ttl
                self._waiting[(client, name)] = verified
            self._cond.notify_all()

    def take(self, client: str, name: str, wait: float):
        """The verified replay for this upload, None when there is none, or
        "busy" when it is still being verified after `wait` seconds."""
        deadline = time.monotonic() + wait
        with self._cond:
            while (client, name) in self._waiting and self._waiting[(client, name)] is None:
                left = deadline - time.monotonic()
                if left <= 0:
                    return "busy"
                self._cond.wait(left)
            return self._waiting.pop((client, name), None)

    def _expire(self):
        now = self.clock()
        for k in [k for k, v in self._waiting.items() if v is not None and v.until <= now]:
            del self._waiting[k]
