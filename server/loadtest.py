#!/usr/bin/python3
"""Repeats each attack on the score board against a real server on this
machine, while an honest player keeps synchronising, and prints figures.

    python3 server/loadtest.py [--seconds 5] [--only NAME]
    python3 server/loadtest.py --scaleout [--seconds 20] [--workers 1 2 4]

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
import sqlite3
import subprocess
import sys
import tempfile
import threading
import struct
import time
import zlib
from contextlib import closing

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


# -- verification under attack, with the game's own verifier ------------------

BUILD_DIR = os.path.join(SERVER_DIR, os.pardir, "build")
REPLAY_HEAD = struct.Struct("<4sHH I 2s H I Q I I")


def _varint(value):
    out = bytearray()
    while True:
        low, value = value & 0x7F, value >> 7
        out.append(low | (0x80 if value else 0))
        if not value:
            return bytes(out)


def _read_varint(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def costly_replay(base: bytes, name: str) -> bytes:
    """The costliest replay an attacker can make from a lost game of its own:
    the name entry is never left (what is typed there, and after, is cut)
    and the clock runs on 100 ms a frame, five ticks of the game-over
    sequence each, for the most frames a replay may claim. About 1.5 KiB."""
    head = REPLAY_HEAD.unpack_from(base)
    payload = zlib.decompress(base[REPLAY_HEAD.size:])
    name_at = 6
    after_name = name_at + 1 + 2 * payload[name_at]
    reads, at = _read_varint(payload, after_name)
    steps = []
    for _ in range(reads):
        step, at = _read_varint(payload, at)
        steps.append(step)
    events, at = _read_varint(payload, at)
    kept, cut = bytearray(), None       # up to the first typed character: the name entry's
    for i in range(events):
        start = at
        _, at = _read_varint(payload, at)
        kind = payload[at]
        at += 1
        if kind <= 3:
            _, at = _read_varint(payload, at)
        cut = i if cut is None and kind == 3 else cut
        if cut is None:
            kept += payload[start:at]
    cut = events if cut is None else cut
    frames = 1_296_000
    steps += [100] * frames
    body = (payload[:name_at] + bytes([len(name)]) + name.encode("utf-16-le") +
            _varint(len(steps)) + b"".join(_varint(s) for s in steps) +
            _varint(cut) + bytes(kept) + payload[at:])
    packed = zlib.compress(body, 9)
    return REPLAY_HEAD.pack(b"ZRPL", head[1], head[2], head[3], head[4], 0, frames, head[7],
                            len(body), len(packed)) + packed


def record_games(count: int, folder: str, frames: int = 0) -> list:
    """`count` real games of their own, played by the game's bot through the
    whole flow (the scenario tests' recorder), as bytes; with `frames`, games
    of at least about that many frames (the bot paints longer)."""
    env = dict(os.environ, ZEPHRANT_LOAD_GAMES=folder, ZEPHRANT_LOAD_GAME_COUNT=str(count),
               ZEPHRANT_LOAD_GAME_FRAMES=str(int(frames * 1.45)),
               SDL_VIDEODRIVER="offscreen", SDL_AUDIODRIVER="dummy", ALSOFT_DRIVERS="null")
    subprocess.run([os.path.join(BUILD_DIR, "tests", "scenario_tests"),
                    "--gtest_filter=LoadGames.*"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    games = []
    for i in range(count):
        with open(os.path.join(folder, f"game{i}.zrp"), "rb") as f:
            games.append(f.read())
    return games


def upload(port, source, name, level, score):
    """Challenge and upload as the game does them, retried on errors: the
    last status, or None when no reply came."""
    status = None
    for _ in range(6):
        lines, _ = exchange(port, game_get("challenge.php"), source)
        if not lines or len(lines) < 2:
            continue
        body = (f"recID={lines[0]}&solution={CONSTANTS.solution(int(lines[1]))}"
                f"&name={name}&level={level}&score={score}")
        lines, _ = exchange(port, game_post(body), source)
        status = lines[0] if lines else None
        if status is not None and status <= "5":
            return status
        time.sleep(1.0)
    return status


def verification_round(attackers: int, games: list, args, scratch: str, verifier: str):
    db = os.path.join(scratch, f"verify{attackers}.db")
    with open(os.path.join(scratch, f"verify{attackers}.log"), "w") as log:
        proc, port = start_server(db, verifier, log)
    stop = threading.Event()
    sent = {"replays": 0, "queued": 0}
    lock = threading.Lock()
    base = open(os.path.join(SERVER_DIR, os.pardir, "tests", "replays", "game_over.zrp"),
                "rb").read()

    def attack(i):
        source = f"127.{20 + i // 200}.{i % 200}.1"      # every attacker its own /24
        n = 0
        while not stop.is_set():
            n += 1
            name = f"X{i}n{n}"[:20]
            replay = costly_replay(base, name)
            lines, _ = exchange(port, replay_post(os.urandom(16).hex(), name, replay), source)
            with lock:
                sent["replays"] += 1
                sent["queued"] += bool(lines) and lines[0] == rules.VERIFYING
            if lines and lines[0] == rules.VERIFYING:
                upload(port, source, name, "A2", int.from_bytes(replay[8:12], "little"))
            else:
                stop.wait(0.5)

    accepted, answered = {}, {}     # name -> time the upload was answered "accepted"

    def honest(i):
        source, key = f"127.1.{i}.1", os.urandom(16).hex()
        stop.wait(i * args.every / args.honest)       # players spread over the period
        j = 0
        while not stop.is_set():
            game = games[(i + j * args.honest) % len(games)]
            name, j = f"Honest{i}u{j}", j + 1
            score, level = int.from_bytes(game[8:12], "little"), game[12:14].decode()
            started = time.monotonic()
            exchange(port, replay_post(key, name, game), source)
            status = upload(port, source, name, level, score)
            with lock:
                answered[name] = status
                if status is not None and status <= "5":
                    accepted[name] = started
            stop.wait(args.every - (time.monotonic() - started))

    seen = {}

    def watch_board():
        while not (players_done.is_set() and set(accepted) <= set(seen)) \
                and not watch_stop.is_set():
            lines, _ = exchange(port, game_get("getScores.php"))
            now = time.monotonic()
            for line in lines or []:
                name = line.split(",", 1)[0]
                if name.startswith("Honest") and name not in seen:
                    seen[name] = now
            time.sleep(0.25)

    watch_stop, players_done = threading.Event(), threading.Event()
    threads = [threading.Thread(target=attack, args=(i,), daemon=True) for i in range(attackers)]
    threads += [threading.Thread(target=honest, args=(i,), daemon=True)
                for i in range(args.honest)]
    watcher = threading.Thread(target=watch_board, daemon=True)
    for t in threads + [watcher]:
        t.start()
    time.sleep(args.seconds)
    stop.set()
    for t in threads:
        t.join(timeout=60)
    players_done.set()
    watcher.join(timeout=args.drain)       # the honest ones still queued reach the board
    watch_stop.set()
    proc.terminate()
    proc.wait(timeout=30)
    waits = sorted(seen[n] - accepted[n] for n in accepted if n in seen)
    with closing(sqlite3.connect(db)) as con:
        cpu = {who: (count, worst) for who, count, worst in con.execute(
            "SELECT substr(name, 1, 1), COUNT(*), MAX(cpu) FROM replays"
            " WHERE cpu IS NOT NULL GROUP BY substr(name, 1, 1)")}
        refused = con.execute("SELECT COUNT(*) FROM replays WHERE state = 'refused'"
                              " AND name LIKE 'Honest%'").fetchone()[0]
    median = waits[len(waits) // 2] if waits else float("nan")
    print(f"{attackers:9} {sent['replays']:>6}/{sent['queued']:<6} "
          f"{len(accepted):>4}/{len(answered):<4} {len(seen):8} {median:8.1f} "
          f"{(waits[-1] if waits else float('nan')):7.1f} {len(accepted) - len(seen):5} "
          f"{refused:7} {cpu.get('H', (0, 0))[1]:7.2f} {cpu.get('X', (0, 0))[1]:7.2f}"
          f" ({cpu.get('X', (0, 0))[0]} done)", flush=True)


def verification_bench(args) -> int:
    verifier = os.path.abspath(os.path.join(BUILD_DIR, "zephrant"))
    scratch = tempfile.mkdtemp(prefix="zephrant-verify-load-")
    try:
        per_player = int(args.seconds // args.every) + 2
        games = record_games(args.honest * per_player, scratch, args.frames)
        lengths = sorted(REPLAY_HEAD.unpack_from(g)[6] for g in games)
        print(f"{len(games)} recorded games of {lengths[0]}..{lengths[-1]} frames;"
              f" {args.honest} honest players upload one every"
              f" {args.every:.0f} s for {args.seconds:.0f} s while the attackers send the"
              f" costliest replays they can, each with a fresh key")
        print(f"{'attackers':>9} {'sent/queued':>13} {'accepted':>9} {'on board':>8}"
              f" {'median s':>8} {'worst s':>7} {'lost':>5} {'refused':>7}"
              f" {'cpu hon':>7} {'cpu att':>7}")
        print("(times in seconds; cpu: the most one verification took)")
        for attackers in args.attackers:
            verification_round(attackers, games, args, scratch, verifier)
    finally:
        if args.keep:
            print(f"boards and logs kept in {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return 0


# -- verification workers in processes of their own, on both back ends --------

def longest_replay():
    """The regression replay with the most frames: (bytes, score, level)."""
    folder = os.path.join(SERVER_DIR, os.pardir, "tests", "replays")
    games = []
    for name in os.listdir(folder):
        if name.endswith(".zrp"):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            games.append((REPLAY_HEAD.unpack_from(data)[6], data))
    data = max(games)[1]
    return data, int.from_bytes(data[8:12], "little"), data[12:14].decode("ascii")


def scaleout_round(target: str, workers: int, game, args, verifier: str, log):
    """One board, a web front with no workers of its own, `workers`
    zephrant_verifyd processes of one worker each, and three times as many
    players as workers sending the same real game from fresh addresses, each
    waiting for its verdict before the next. The game belongs to one key and
    one name, so every copy is verified and put to the board (which answers
    that its line holds the score already); the front is the
    test server (the real one with each key's and client's rate limits
    raised). Returns (verified per second, upload-to-board seconds of each
    score, CPU seconds a verification took on the median)."""
    from zscores import db as database
    replay, score, level = game
    server = subprocess.Popen([sys.executable, os.path.join(SERVER_DIR, "testserver.py"),
                               "--verified", "--db", target, "--quiet",
                               "--verify-workers", "0", "--verifier", verifier],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    daemons = []
    try:
        port = int(server.stdout.readline().split()[1])
        for _ in range(workers):
            daemons.append(subprocess.Popen(
                [sys.executable, os.path.join(SERVER_DIR, "zephrant_verifyd.py"), "--db", target,
                 "--workers", "1", "--verifier", verifier, "--poll", "0.1", "--quiet"],
                stdout=subprocess.PIPE, stderr=log, text=True))
        for d in daemons:
            d.stdout.readline()                 # READY
        stop = threading.Event()

        def player(i):
            n = 0
            # Another name, or another key, would make each copy a second
            # line of one game, which is refused.
            with database.connect(target) as db:
                while not stop.is_set():
                    n += 1
                    # A fresh address each time: one client's limits never
                    # hold the queue back.
                    source = f"127.{40 + i}.{n // 250 % 250}.{1 + n % 250}"
                    lines, _ = exchange(port, replay_post("5c" * 16, "Bench", replay), source)
                    if not lines or lines[0] != rules.VERIFYING:
                        time.sleep(0.5)
                        continue
                    upload(port, source, "Bench", level, score)
                    while not stop.is_set() and db.execute(
                            "SELECT 1 FROM replays WHERE address = ? AND state = 'done'",
                            (source,)).fetchone() is None:
                        time.sleep(0.1)

        threads = [threading.Thread(target=player, args=(i,), daemon=True)
                   for i in range(3 * workers)]
        for t in threads:
            t.start()
        time.sleep(args.warmup)
        started = time.time()
        time.sleep(args.seconds)
        ended = time.time()
        stop.set()
        for t in threads:
            t.join(timeout=30)
    finally:
        for proc in [*daemons, server]:
            proc.terminate()
        for proc in [*daemons, server]:
            proc.wait(timeout=30)
            proc.stdout.close()
    with database.connect(target) as db:
        rows = db.execute("SELECT uploaded, finished, cpu FROM replays WHERE state = 'done'"
                          " AND finished >= ? AND finished < ?", (started, ended)).fetchall()
    waits = sorted(max(0.0, finished - uploaded) for uploaded, finished, _ in rows)
    cpus = sorted(cpu for _, _, cpu in rows if cpu is not None)
    return len(rows) / (ended - started), waits, cpus[len(cpus) // 2] if cpus else 0.0


def scaleout_bench(args) -> int:
    import pgcluster
    verifier = os.path.join(BUILD_DIR, "zephrant-verify")
    if not os.access(verifier, os.X_OK):
        print(f"loadtest: {verifier}: build zephrant-verify first", file=sys.stderr)
        return 2
    game = longest_replay()
    frames = REPLAY_HEAD.unpack_from(game[0])[6]
    scratch = tempfile.mkdtemp(prefix="zephrant-scaleout-")
    cluster = pgcluster.Cluster(durable=True).start()
    print(f"real replay: {frames} frames, {game[2]} {game[1]}; {os.cpu_count()} cores, load"
          f" {os.getloadavg()[0]:.1f}; {args.seconds:.0f} s a round after {args.warmup:.0f} s;"
          f" PostgreSQL {os.path.basename(os.path.dirname(cluster.bin))} with fsync on")
    print(f"{'board':10} {'workers':>7} {'verified/s':>10} {'scores':>6} {'to board: median':>16}"
          f" {'90%':>6} {'worst':>6} {'cpu s/replay':>12}")
    try:
        with open(os.path.join(scratch, "servers.log"), "w") as log:
            for workers in args.workers:
                for backend in ("sqlite", "postgresql"):
                    target = os.path.join(scratch, f"w{workers}.db") if backend == "sqlite" \
                        else cluster.create_database(f"w{workers}")
                    rate, waits, cpu = scaleout_round(target, workers, game, args, verifier, log)
                    pick = lambda q: waits[min(len(waits) - 1, int(q * len(waits)))] \
                        if waits else float("nan")
                    print(f"{backend:10} {workers:7} {rate:10.2f} {len(waits):6} {pick(0.5):16.2f}"
                          f" {pick(0.9):6.2f} {pick(1.0):6.2f} {cpu:12.2f}", flush=True)
        print(f"load at the end {os.getloadavg()[0]:.1f}: the machine is shared, so these"
              f" figures are noisy")
    finally:
        cluster.stop()
        if args.keep:
            print(f"boards and log kept in {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return 0


# -- the queue's fair order, simulated over its own code ------------------------

def simulate_round(attackers: int, frames: int, args) -> str:
    """`args.minutes` of a flood, on a clock of its own: the real queue
    (claims, verdicts, caps) on a throw-away SQLite board, two workers, every attacking
    /24 keeping four clients' queues full of replays that hold a worker for
    45 s (the wall-time cap) and cost 30 s of CPU, and `args.honest` players
    uploading a game of `frames` frames every `args.every` seconds (or as
    soon as the next is played), each verified in 0.3 s and 5 µs a frame. The honest times from upload to
    verdict, and the uploads refused as "full"."""
    import heapq
    from zscores.queue import MAX_FRAMES, Claim, ReplayQueue, Verdict
    now = [0.0]
    scratch = tempfile.mkdtemp(prefix="zephrant-simulate-")
    queue = ReplayQueue(os.path.join(scratch, "q.db"), clock=lambda: now[0], lease=3600)
    honest, waits, refused, serial = {}, [], [0], [0]

    def send(address, claimed, score):
        serial[0] += 1
        key = f"{serial[0]:032x}"
        status, _ = queue.enqueue(address, key, f"K{serial[0]}", os.urandom(24),
                                  Claim(score, "A1", claimed))
        if status != rules.VERIFYING:
            return None
        return queue.db.execute("SELECT MAX(id) FROM replays").fetchone()[0]

    attack = [f"127.{20 + i // 200}.{i % 200}.{c}" for i in range(attackers) for c in (1, 2, 3, 4)]
    for _ in range(16):
        for address in attack:
            send(address, MAX_FRAMES, 1)
    events = [(i * args.every / args.honest, "honest", i) for i in range(args.honest)]
    events += [(0.0, "worker", w) for w in range(2)]
    heapq.heapify(events)
    idle = set()
    end = args.minutes * 60
    while events:
        at, kind, what = heapq.heappop(events)
        now[0] = at
        if kind == "honest" and at < end:
            row = send(f"127.1.{what}.1", frames, 100)
            if row is None:
                refused[0] += 1
            else:
                honest[row] = at
            # A player cannot send games faster than they are played (50 a second).
            heapq.heappush(events, (at + max(args.every, frames / 50), "honest", what))
            for w in idle:          # an arrival wakes the idle workers
                heapq.heappush(events, (at, "worker", w))
            idle.clear()
        elif kind == "worker" and (at < end or any(r not in dict(waits) for r in honest)):
            job = queue.claim(f"sim:{what}")
            if job is None:
                idle.add(what)
                continue
            mine = job.id in honest
            took = 0.3 + job.frames * 5e-6 if mine else 45.0
            heapq.heappush(events, (at + took, "done", (what, job, mine, took)))
        elif kind == "done":
            w, job, mine, took = what
            queue.finish(job, Verdict(True, 100 if mine else 1, "A1", job.frames,
                                      os.urandom(8).hex(), cpu=took if mine else 30.0))
            if mine:
                waits.append((job.id, at - honest[job.id]))
            else:               # the attacker sends another at once
                address = queue.db.execute("SELECT address FROM replays WHERE id = ?",
                                           (job.id,)).fetchone()[0]
                send(address, MAX_FRAMES, 1)
            heapq.heappush(events, (at, "worker", w))
        if at > end + 3600:
            break
    queue.close()
    shutil.rmtree(scratch, ignore_errors=True)
    times = sorted(t for _, t in waits)
    median = times[len(times) // 2] if times else float("nan")
    return (f"{attackers:9} {frames:8} {len(honest):>5}/{len(honest) + refused[0]:<5}"
            f" {len(times):8} {median:8.1f} {(times[-1] if times else float('nan')):8.1f}"
            f" {len(honest) - len(times):5}")


def simulate_bench(args) -> int:
    print(f"{args.minutes:.0f} simulated minutes; {args.honest} honest players upload one game"
          f" every {args.every:.0f} s; attackers keep 64 replays a /24 queued")
    print(f"{'attackers':>9} {'frames':>8} {'accepted':>11} {'verified':>8} {'median s':>8}"
          f" {'worst s':>8} {'lost':>5}")
    for attackers in args.attackers:
        for frames in args.game_frames:
            started = time.monotonic()
            line = simulate_round(attackers, frames, args)
            print(f"{line}   ({time.monotonic() - started:.0f} s to run)", flush=True)
    return 0


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="attacks on the score board, with figures")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--only", choices=sorted(ATTACKS))
    parser.add_argument("--verification", action="store_true",
                        help="instead: honest players' real games verified by the built game "
                             "while attackers send the costliest replays")
    parser.add_argument("--attackers", type=int, nargs="+", default=[1, 50],
                        help="attacking addresses, one round each (default 1 50)")
    parser.add_argument("--honest", type=int, default=10, help="honest players (default 10)")
    parser.add_argument("--every", type=float, default=30.0,
                        help="seconds between one honest player's uploads (default 30)")
    parser.add_argument("--drain", type=float, default=300.0,
                        help="seconds the last honest scores get to reach the board "
                             "(default 300)")
    parser.add_argument("--frames", type=int, default=0,
                        help="honest games of at least about this many frames (default: the"
                             " bot's short games)")
    parser.add_argument("--keep", action="store_true",
                        help="keep the verification rounds' boards and logs")
    parser.add_argument("--simulate", action="store_true",
                        help="instead: the queue's fair order under a flood, simulated over its"
                             " own code on a clock of its own")
    parser.add_argument("--minutes", type=float, default=30.0,
                        help="simulated minutes (default 30)")
    parser.add_argument("--game-frames", type=int, nargs="+", default=[40_000, 200_000],
                        help="honest games' frames, one simulated round each (default 40000 200000)")
    parser.add_argument("--scaleout", action="store_true",
                        help="instead: verified uploads per second and upload-to-board time "
                             "with 1, 2, 4 zephrant_verifyd processes, on SQLite and PostgreSQL")
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2, 4],
                        help="worker processes, one round each (default 1 2 4)")
    parser.add_argument("--warmup", type=float, default=3.0,
                        help="seconds a round runs before it is measured (default 3)")
    args = parser.parse_args(argv)
    if args.simulate:
        return simulate_bench(args)
    if args.scaleout:
        if args.seconds == 5.0:
            args.seconds = 20.0
        return scaleout_bench(args)
    if args.verification:
        if args.seconds == 5.0:
            args.seconds = 180.0
        return verification_bench(args)
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
