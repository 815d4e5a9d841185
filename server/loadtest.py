#!/usr/bin/python3
"""Repeats each attack on the score board against a real server on this
machine, while an honest player keeps synchronising, and prints figures.

    python3 server/loadtest.py [--seconds 5] [--only NAME]

Bounded: every attack runs for --seconds (default 5) with a fixed number of
threads, against a server on a free loopback port with a throw-away board.
Attackers use addresses 127.x.y.z (Linux routes all of 127/8 to the loopback
interface), the honest player 127.0.0.1. The server verifies replays with a
stand-in verifier (a replay here is the text "score level"), so the figures
are the server's own; the game's verifier costs what the replays cost.

For each attack: the attacker's requests per second, how many of the honest
player's exchanges (board, challenge, replay, upload) were served with a
proper reply, how long they took, and how many of its scores were lost (an
upload answered without "bof", or neither stored nor refused as busy).
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import struct
import zlib

SERVER_DIR = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, SERVER_DIR)

from zscores import rules  # noqa: E402
from zscores.cli import DEFAULT_CONSTANTS  # noqa: E402

CONSTANTS = rules.read_challenge_constants(DEFAULT_CONSTANTS)
HOST = "score.example"
STAND_IN_VERIFIER = """#!/bin/sh
# Believes the replay's header: its score and level are what it reached.
score=$(od -An -tu4 -j8 -N4 "$2" | tr -d ' ')
level=$(dd if="$2" bs=1 skip=12 count=2 2>/dev/null)
echo "score=$score level=$level frames=1 hash=$(md5sum < "$2" | cut -c1-16)"
"""


def stand_in_replay(score, level="A1", salt=b""):
    """Bytes that pass the server's cheap checks, for the stand-in verifier."""
    payload = zlib.compress(b"stand-in replay " + salt)
    return (b"ZRPL" + struct.pack("<HHI", 1, 1, score) + level.encode() +
            struct.pack("<HIQII", 0, 1, 0, 16 + len(salt), len(payload)) + payload)

def game_get(script):
    return f"GET http://{HOST}/netscores/zephrant/{script} HTTP/1.0\r\n\n\r\n".encode()


def game_post(body):
    return (f"POST http://{HOST}/netscores/zephrant/updateScores.php HTTP/1.0\r\n"
            f"Host: Brimwax\r\nContent-Length: {len(body) + 5}\r\n"
            f"Content-Type: application/x-www-form-urlencoded\r\n\r\n{body}\r\n\n\r\n").encode()


def replay_post(key, name, replay: bytes):
    return (f"POST http://{HOST}/netscores/zephrant/replay.php HTTP/1.0\r\n"
            f"Host: {HOST}\r\nContent-Length: {len(replay)}\r\n"
            f"Content-Type: application/octet-stream\r\nX-Zephrant-Key: {key}\r\n"
            f"X-Zephrant-Name: {name}\r\n\r\n").encode() + replay


def exchange(port, data, source="127.0.0.1", timeout=10.0):
    """(lines after bof or None, seconds); None lines when no bof came."""
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                      source_address=(source, 0)) as s:
            s.sendall(data)
            out = b""
            while chunk := s.recv(65536):
                out += chunk
    except OSError:
        return None, time.monotonic() - started
    lines = out.replace(b"\r", b"").split(b"\n")
    for i, line in enumerate(lines):
        if b"bof" in line:
            return [l.decode("latin-1") for l in lines[i + 1:] if l], time.monotonic() - started
    return None, time.monotonic() - started


class Honest(threading.Thread):
    """A player synchronising again and again: board, replay, challenge,
    upload (retried on busy statuses like the game does), board."""

    def __init__(self, port, stop):
        super().__init__(daemon=True)
        self.port, self.stop = port, stop
        self.exchanges = self.served = self.lost = self.stored = self.kept = 0
        self.worst = 0.0
        self.key = os.urandom(16).hex()
        self.score = 1000

    def call(self, data):
        lines, took = exchange(self.port, data, self.source)
        self.exchanges += 1
        self.worst = max(self.worst, took)
        if lines is not None:
            self.served += 1
        return lines

    def run(self):
        # A new player for every synchronisation, each from its own address,
        # so that the per-client limits meant for attackers do not count.
        player = 0
        while not self.stop.is_set():
            player += 1
            self.source = f"127.1.{player // 250}.{player % 250 + 1}"
            self.name = f"Honest{player}"
            self.key = os.urandom(16).hex()
            self.score += 1
            self.call(game_get("getScores.php"))
            self.call(replay_post(self.key, self.name, stand_in_replay(self.score)))
            status = None
            for _ in range(6):
                lines = self.call(game_get("challenge.php"))
                if lines is None or len(lines) < 2:
                    status = None
                    continue
                body = (f"recID={lines[0]}&solution={CONSTANTS.solution(int(lines[1]))}"
                        f"&name={self.name}&level=A1&score={self.score}")
                lines = self.call(game_post(body))
                status = lines[0] if lines else None
                if status is not None and status <= "5":
                    break
                time.sleep(0.2)
            if status in (rules.STORED, rules.NOT_BETTER, rules.OFF_THE_BOARD,
                          rules.VERIFYING):
                self.stored += 1
            elif status is not None and status > "5":
                self.kept += 1      # refused with a status: the game keeps the entry
            else:
                self.lost += 1
            time.sleep(0.05)


def run_threads(count, target):
    """`count` threads calling target(i, tally) until stopped; tally(n) counts
    the attacker's requests as they are made."""
    stop = threading.Event()
    sent = [0]
    lock = threading.Lock()

    def tally(n=1):
        with lock:
            sent[0] += n

    def loop(i):
        while not stop.is_set():
            target(i, tally)

    threads = [threading.Thread(target=loop, args=(i,), daemon=True) for i in range(count)]
    return stop, sent, threads


def addr(i, base=10):
    return f"127.{base}.{(i // 250) % 250}.{i % 250 + 1}"


# -- the attacks ------------------------------------------------------------

def upload_without_replay(port, source, name, level, score, tally):
    """A challenge answered right and a score sent, as curl would."""
    lines, _ = exchange(port, game_get("challenge.php"), source)
    tally()
    if lines and len(lines) >= 2 and lines[0] != rules.BUSY_RECORD_ID:
        body = (f"recID={lines[0]}&solution={CONSTANTS.solution(int(lines[1]))}"
                f"&name={name}&level={level}&score={score}")
        exchange(port, game_post(body), source)
        tally()


def forged_scores(port):
    """Challenge answered right, score made up, no replay (the curl attack)."""
    def hit(i, tally):
        upload_without_replay(port, addr(i), f"Forger{i % 7}", "Z6", 9999999, tally)
    return 8, hit


def replayed_replay(port):
    """A stored game's replay sent again under other names and keys, then
    its score uploaded."""
    victim = os.urandom(16).hex()
    exchange(port, replay_post(victim, "Victim", stand_in_replay(1500)), "127.0.0.2")
    upload_without_replay(port, "127.0.0.2", "Victim", "A1", 1500, lambda: None)

    def hit(i, tally):
        source = addr(i, 20)
        exchange(port, replay_post(f"{i:032x}", f"Thief{i % 50}", stand_in_replay(1500)),
                 source)
        tally()
        upload_without_replay(port, source, f"Thief{i % 50}", "A1", 1500, tally)
    return 8, hit


def board_flood(port):
    """500 addresses each uploading a made-up score for a name of its own."""
    counter = [0]

    def hit(i, tally):
        counter[0] += 1
        upload_without_replay(port, addr(counter[0] % 500, 30), f"Flood{counter[0] % 500}",
                              "A1", 5000000, tally)
    return 16, hit


def slow_clients(threads, addresses, base):
    def hit(i, tally):
        try:
            with socket.create_connection(("127.0.0.1", port_of[0]), timeout=15,
                                          source_address=(addr(i % addresses, base), 0)) as s:
                tally()
                for byte in b"GET /netscores/zephrant/getScores.php HTTP/1.0\r\n":
                    s.send(bytes([byte]))
                    time.sleep(1.0)
        except OSError:
            pass
    return threads, hit


port_of = [0]


def slow_connections(port):
    """64 connections from 8 addresses at a time, each sending a byte a second."""
    port_of[0] = port
    return slow_clients(64, 8, 40)


def slow_connections_wide(port):
    """400 such connections from 50 addresses: more than the whole pool."""
    port_of[0] = port
    return slow_clients(400, 50, 45)


def challenge_hoard(port):
    """Challenges fetched and never answered, from 50 addresses."""
    def hit(i, tally):
        exchange(port, game_get("challenge.php"), addr(i % 50, 50))
        tally()
    return 16, hit


def honest_crowd(port):
    """300 players at once, each fetching the board."""
    def hit(i, tally):
        exchange(port, game_get("getScores.php"), addr(i % 300, 60))
        tally()
    return 300, hit


def garbage_requests(port):
    """Broken request lines and a Content-Length of non-ASCII digits."""
    junk = [b"\xff\xfe garbage\r\n\r\n", b"GET /\r\n\r\n",
            b"POST /netscores/zephrant/updateScores.php HTTP/1.0\r\n"
            b"Content-Length: \xc2\xb2\r\n\r\n"]

    def hit(i, tally):
        exchange(port, junk[i % len(junk)], addr(i % 100, 70))
        tally()
    return 8, hit


ATTACKS = {"forged-scores": forged_scores, "replayed-replay": replayed_replay,
           "board-flood": board_flood, "slow-connections": slow_connections,
           "slow-connections-wide": slow_connections_wide,
           "challenge-hoard": challenge_hoard, "honest-crowd": honest_crowd,
           "garbage-requests": garbage_requests}


def start_server(db, verifier, log):
    proc = subprocess.Popen([sys.executable, os.path.join(SERVER_DIR, "zephrant_server.py"),
                             "--port", "0", "--print-port", "--db", db, "--verifier", verifier],
                            stdout=subprocess.PIPE, stderr=log, text=True)
    port = int(proc.stdout.readline().split()[1])
    return proc, port


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="attacks on the score board, with figures")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--only", choices=sorted(ATTACKS))
    args = parser.parse_args(argv)
    scratch = tempfile.mkdtemp(prefix="zephrant-load-")
    verifier = os.path.join(scratch, "verifier")
    with open(verifier, "w") as f:
        f.write(STAND_IN_VERIFIER)
    os.chmod(verifier, 0o755)
    print(f"{'attack':21} {'attack req/s':>12} {'honest served':>14} {'worst s':>8}"
          f" {'stored':>6} {'kept':>5} {'lost':>5} {'log bytes':>9} {'forged':>6}  board")
    try:
        for name, make in ATTACKS.items():
            if args.only and name != args.only:
                continue
            db = os.path.join(scratch, f"{name}.db")
            log_path = os.path.join(scratch, f"{name}.log")
            with open(log_path, "w") as log:
                proc, port = start_server(db, verifier, log)
                try:
                    count, hit = make(port)
                    stop, sent, threads = run_threads(count, hit)
                    honest_stop = threading.Event()
                    honest = Honest(port, honest_stop)
                    for t in threads:
                        t.start()
                    time.sleep(min(1.0, args.seconds / 4))    # the attack is under way
                    honest.start()
                    started = time.monotonic()
                    time.sleep(args.seconds)
                    honest_stop.set()
                    stop.set()
                    rate = sent[0] / (time.monotonic() - started + 1.0)
                    honest.join(timeout=30)
                    board, _ = exchange(port, game_get("getScores.php"))
                finally:
                    proc.terminate()
                    proc.wait(timeout=10)
            top = (board or ["-"])[0] if board is not None else "no bof"
            forged = sum(1 for line in board or [] if not line.startswith(("Honest", "Victim")))
            print(f"{name:21} {rate:12.0f} {honest.served:>6}/{honest.exchanges:<7}"
                  f" {honest.worst:8.2f} {honest.stored:6} {honest.kept:5} {honest.lost:5}"
                  f" {os.path.getsize(log_path):9} {forged:6}  {top} ({len(board or [])} lines)",
                  flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
