"""The game's own verifier, run on one replay at a time.

The verifier is the game itself (`zephrant --verify FILE`): it plays the
replay headless under the game's own rules and prints one line of
`name=value` fields, among them `score=12345 level=B3 frames=54321
hash=<16 hex>` and, from builds that match games, `fingerprint=<16 hex>`
and `plays=<16 hex>,<16 hex>,...` (one digest for each level played, `-`
when none counts); fields are read by name and others are passed over. Exit status 0 means the
replay is valid, 2 invalid, 3 made by other rules, 1 it could not be read.

It runs as a separate process with limits on CPU time, memory and open files
and a wall-clock time-out, in a scratch directory with a bare environment.
The CPU time it took is measured (the fair share of the queue counts it).
"""

import math
import os
import re
import signal
import subprocess
import tempfile
import threading

from .queue import MAX_FRAMES, Verdict

_FIELD = re.compile(rb"([a-z_]+)=(\S+)")
_NEEDED = {b"score": rb"\d{1,8}", b"level": rb"\S\S", b"frames": rb"\d{1,9}",
           b"hash": rb"[0-9a-f]{16}"}
_HEX16 = re.compile(rb"[0-9a-f]{16}")
_PLAYS = re.compile(rb"-|[0-9a-f]{16}(?:,[0-9a-f]{16})*")
OUTPUT_BYTES = 16384    # the line with a digest for each of the 156 levels fits


def read_line(output: bytes):
    """The verifier's fields as a dict of bytes, or None without the needed
    ones."""
    for line in output[:OUTPUT_BYTES].splitlines():
        fields = dict(_FIELD.findall(line))
        if all(k in fields and re.fullmatch(v, fields[k]) for k, v in _NEEDED.items()):
            return fields
    return None


def read_plays(field):
    """The level digests of a `plays` field: a tuple, empty for `-`; None
    when there is no such field (an older verifier) or it is not one."""
    if field is None or not _PLAYS.fullmatch(field):
        return None
    return () if field == b"-" else tuple(field.decode("ascii").split(","))

class Verifier:
    def __init__(self, program: str, cpu_seconds: int = 30, memory_mb: int | None = 1024,
                 wall_seconds: float = 45.0):
        self.program = os.path.abspath(program)
        self.cpu_seconds = cpu_seconds
        self.memory_mb = memory_mb
        self.wall_seconds = wall_seconds
        self._running = set()
        self._lock = threading.Lock()

    def limits(self, frames: int):
        """(CPU seconds, wall seconds) for a replay that claims `frames`: a
        real game costs the verifier a few microseconds a frame, the worst
        replays some 80, so 100 a frame and a second more is never too
        little for an honest game, and stops a dishonest one early."""
        cpu = min(self.cpu_seconds, 1 + math.ceil(frames / 10_000))
        return cpu, min(self.wall_seconds, 5.0 + 3 * cpu)

    def run(self, replay: bytes, frames: int = 1 << 31,
            stop: threading.Event = None, apart: bool = False) -> Verdict:
        """Plays the replay; with `stop` set before it starts (a worker being
        stopped, which then cancels), nothing is started. `apart`: an
        earlier try was cut short, so this one runs with the full limits,
        while what its frames allow still decides whether it cost too much.
        The verdict says `retry` when the replay could not be played to the
        end for a reason that is not the replay's own."""
        allowed, _ = self.limits(frames)
        cpu_limit, wall = self.limits(MAX_FRAMES if apart else frames)
        with tempfile.TemporaryDirectory(prefix="zephrant-verify-") as scratch:
            path = os.path.join(scratch, "upload.replay")
            with open(path, "wb") as f:
                f.write(replay)
            # memory_mb None leaves the address space unbounded: a sanitizer
            # build reserves terabytes of it for shadow memory and dies under
            # any such limit (the tests run the verifier of both builds).
            memory = [] if self.memory_mb is None else [f"--as={self.memory_mb * 1024 * 1024}"]
            command = ["prlimit", f"--cpu={cpu_limit}", *memory, "--nofile=64",
                       "--core=0", "--", self.program, "--verify", path]
            env = {"PATH": "/usr/bin:/bin", "HOME": scratch, "XDG_CONFIG_HOME": scratch,
                   "XDG_DATA_HOME": scratch, "SDL_VIDEODRIVER": "dummy",
                   "SDL_AUDIODRIVER": "dummy", "ALSOFT_DRIVERS": "null"}
            out_path = os.path.join(scratch, "out")
            with open(out_path, "w+b") as out:
                code, cpu, timed_out = self._spawn(command, scratch, env, out, wall, stop)
                if code is None:
                    return Verdict(False, why="verifier did not start", retry=True)
                out.seek(0)
                output = out.read(OUTPUT_BYTES)
        # Past the CPU time its frames allow, a replay is at fault however
        # it ended; short of it, a verifier killed or out of wall time was
        # held back by something else (a busy machine, a kill), and tries again.
        if code in (-signal.SIGXCPU, -signal.SIGKILL) and cpu >= cpu_limit - 0.5 \
                or timed_out and cpu >= allowed - 0.5:
            return Verdict(False, why="verifier ran out of CPU time", cpu=cpu)
        if timed_out:
            return Verdict(False, why="verifier ran out of time", cpu=cpu, retry=True)
        if code != 0:
            reasons = {1: "unreadable", 2: "invalid", 3: "made by other rules"}
            if code not in reasons:
                return Verdict(False, why=f"verifier ended with {code}", cpu=cpu, retry=True)
            why = reasons[code]
            detail = output.decode("ascii", "replace").strip().splitlines()
            if code == 2 and detail:      # the verifier's "invalid: <why>" line
                why = detail[0][:120] if detail[0].startswith("invalid") \
                    else f"{why}: {detail[0][:120]}"
            return Verdict(False, why=why, cpu=cpu)
        fields = read_line(output)
        if fields is None:
            return Verdict(False, why="verifier said nothing usable", cpu=cpu, retry=True)
        fingerprint = fields.get(b"fingerprint", b"")
        return Verdict(True, int(fields[b"score"]), fields[b"level"].decode("ascii"),
                       int(fields[b"frames"]), fields[b"hash"].decode("ascii"),
                       fingerprint.decode("ascii") if _HEX16.fullmatch(fingerprint) else "",
                       cpu=cpu, plays=read_plays(fields.get(b"plays")))


    def _spawn(self, command, scratch, env, out, wall, stop):
        """(exit code or -signal, CPU seconds, timed out); code None when it
        could not start. The child's own CPU time comes from wait4."""
        with self._lock:
            if stop is not None and stop.is_set():
                return None, 0.0, False
            try:
                proc = subprocess.Popen(command, cwd=scratch, env=env, stdin=subprocess.DEVNULL,
                                        stdout=out, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
            except OSError:
                return None, 0.0, False
            self._running.add(proc.pid)
        expired = threading.Event()

        def kill():
            expired.set()
            self._kill(proc.pid)
        timer = threading.Timer(wall, kill)
        timer.daemon = True         # never keeps a stopping program alive
        timer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
            with self._lock:
                self._running.discard(proc.pid)
        proc.returncode = os.waitstatus_to_exitcode(status)
        return proc.returncode, usage.ru_utime + usage.ru_stime, expired.is_set()

    @staticmethod
    def _kill(pid):
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def cancel(self):
        """Ends every verification under way."""
        with self._lock:
            for pid in self._running:
                self._kill(pid)
