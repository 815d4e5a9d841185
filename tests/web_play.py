#!/usr/bin/python3
"""The whole game played in a page, as a visitor plays it: a score server
that verifies every upload serves /play to headless Chromium, where real key
presses play a game to its end (the first level won, then lost to the
chasers), type a name, open the tables and press S.
The game's exchange goes to the server through the page; the line must reach
the board at /, once its replay verified, and play on its watch page. The
local table must come back after a reload, from the browser's storage.
Screenshots of the page in play and in the replay (play-N.png, watch-N.png,
table.png) go to FRAMES_DIR; with --bench it prints the time from S to the
line on the board. It waits on what the game prints and plays (the page
keeps its lines and counts its sounds) and on the frames it shows, never on
the clock.

    web_play.py WEB_BUILD_DIR VERIFIER FRAMES_DIR [--bench]
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_browser import PNG_BLOCKS, ROOT, Browser, shut_down, wait_for  # noqa: E402

NAME = "Web Tester"
LEFT, UP, RIGHT, DOWN = ("ArrowLeft", 37), ("ArrowUp", 38), ("ArrowRight", 39), ("ArrowDown", 40)
# The first level's figure is one closed line: held one at a time, each of
# these keys runs the ship to the next corner, painting so many new cells.
# Round it once in order, and the level is won with a few hundred points.
TOUR = [(RIGHT, 9), (DOWN, 21), (LEFT, 9), (UP, 9), (RIGHT, 30), (DOWN, 9),
        (LEFT, 9), (UP, 20), (RIGHT, 9), (DOWN, 9), (LEFT, 29), (UP, 8)]
# Two arrows held at once take the ship round the figure in steps (it turns
# whenever it can), towards one corner and then another.
STEERING = [(RIGHT, DOWN), (LEFT, UP), (RIGHT, UP), (LEFT, DOWN)]

# What the game prints, kept in the page for the test to read.
KEEP_LOG = """window.zephrantLog = []; (function () {
  const log = console.log.bind(console);
  console.log = function (t) { window.zephrantLog.push(String(t).trimEnd()); log(t); };
})();"""

# A file as the browser's storage holds it (base64), or null.
STORED = """(path) => new Promise(done => {
  const open = indexedDB.open('/save');
  open.onerror = () => done(null);
  open.onsuccess = () => {
    try {
      const get = open.result.transaction(['FILE_DATA']).objectStore('FILE_DATA').get(path);
      get.onsuccess = () => done(get.result && get.result.contents ?
        btoa(String.fromCharCode.apply(null, get.result.contents)) : null);
      get.onerror = () => done(null);
    } catch (e) { done(null); }
  };
})"""


class Player(Browser):
    """The browser, with keys pressed as a visitor presses them."""

    def key(self, key, code, text=None, down=True, up=True):
        named = "Space" if key == " " else key if len(key) > 1 else f"Key{key.upper()}"
        params = {"key": key, "code": named,
                  "windowsVirtualKeyCode": code}
        if down:
            self.call("Input.dispatchKeyEvent", type="keyDown", text=text or "", **params)
        if up:
            self.call("Input.dispatchKeyEvent", type="keyUp", **params)

    def frames(self):
        return self.js("typeof Module == 'object' && Module.framesShown || 0")

    def after_frames(self, n, what, until=lambda: False):
        """Waits until the game has drawn `n` more frames, or until `until`
        holds; gives whether it does."""
        target = self.frames() + n
        wait_for(what, lambda: until() or self.frames() >= target, timeout=300)
        return until()

    def lit_blocks(self, path):
        """A screenshot of the canvas as the page shows it, saved to `path`:
        how many of its 20-pixel blocks hold a picture."""
        box = self.js("(() => { const r = document.getElementById('canvas')"
                      ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
        shot = self.call("Page.captureScreenshot", format="png", clip={
            "x": box[0], "y": box[1], "width": box[2], "height": box[3],
            "scale": 800 / box[2]})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot))
        return sum(1 for b in self.js(f"({PNG_BLOCKS})({json.dumps(shot)})") if b > 8)

    def printed(self, line):
        """How often the game has printed lines that start so."""
        return self.js(f"zephrantLog.filter(t => t.startsWith({json.dumps(line)})).length")

    def played(self, sound):
        """How often the game has set this sound going."""
        return self.js(f"(Module.soundsPlayed || {{}})[{json.dumps(sound)}] || 0")

    def pickups(self):
        """The cells painted so far: the game plays a pickup sound for each."""
        return self.played("snd_pickup.ogg")

    def saved(self, path):
        return self.js(f"(() => {{ try {{ return btoa(String.fromCharCode.apply(null, "
                       f"FS.readFile({json.dumps(path)}))); }} catch (e) {{ return null; }} }})()")


def board(base):
    with urllib.request.urlopen(base + "/api/board.json", timeout=60) as r:
        return json.load(r)["lines"]


def play_to_the_end(browser, frames_dir):
    """Plays until the game asks for a name. Every first level is rounded
    cell by cell, the arrow held until the game has played the pickup sound
    of each new cell; after it, and whenever a game goes astray, the ship is
    steered about, with SPACE once (a gap in play) and where the game waits
    for it (the next level, and after a game without a high score the title
    and a new game), until the chasers have taken its health. The arrows are
    let go while a level is built, so the ship starts it at rest.
    Screenshots in play show the game."""
    shots, blank, turn, builds = 0, [], 0, browser.printed("creating level")
    gaps, titles = 0, browser.played("music_title.ogg")
    end = time.monotonic() + 1800

    def look():
        nonlocal shots
        path = os.path.join(frames_dir, f"play-{shots}.png")
        if browser.lit_blocks(path) < 40:
            blank.append(path)
        shots += 1

    def hold(keys, until, what):
        for key, code in keys:
            browser.key(key, code, up=False)
        wait_for(what, lambda: until() or browser.js("Module.typing"), timeout=300)
        for key, code in keys:
            browser.key(key, code, down=False)

    while not browser.js("Module.typing"):
        assert time.monotonic() < end, "no game reached the table"
        if browser.printed("creating level") > builds:
            builds += 1
            wait_for("the level to be built", lambda: browser.printed("max bonus: ") >= builds,
                     timeout=300)
            if browser.js("zephrantLog.filter(t => t.startsWith('max bonus: ')).pop()") \
                    == "max bonus: 1204":
                gaps, titles = browser.played("snd_make_gap.ogg"), browser.played("music_title.ogg")
                painted = browser.pickups()
                for key, cells in TOUR:
                    painted += cells
                    hold([key], lambda: browser.pickups() >= painted,
                         "the ship to paint its way to the corner")
                    look()
            continue
        # One gap a game: a gap held open behind a ship that waits in a
        # corner keeps the chasers away from it.
        if turn % 4 == 0 and (browser.played("snd_make_gap.ogg") == gaps or
                              browser.played("music_title.ogg") > titles):
            browser.key(" ", 32, " ")
        target = browser.frames() + 150
        hold(STEERING[turn % len(STEERING)], lambda: browser.frames() >= target or
             browser.printed("creating level") > builds, "the ship to move")
        turn += 1
        if turn % 4 == 0:
            look()
    assert shots >= 3 and not blank, f"{len(blank)} of {shots} screenshots in play blank: {blank}"
    return shots


def main(argv):
    web_dir, verifier, frames_dir = (os.path.abspath(a) for a in argv[1:4])
    bench = "--bench" in argv
    if not os.path.exists(os.path.join(web_dir, "zephrant-web.wasm")):
        print(f"no web build in {web_dir}")
        return 77
    if not shutil.which("chromium"):
        print("no chromium (scripts/setup.sh installs it)")
        return 77
    os.makedirs(frames_dir, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="zplay-")
    server = browser = None
    try:
        server = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "server", "zephrant_server.py"), "--port", "0",
             "--print-port", "--db", os.path.join(tmp, "scores.db"),
             "--verifier", verifier, "--verify-workers", "1", "--web-player", web_dir],
            stdout=subprocess.PIPE, stderr=open(os.path.join(tmp, "server.log"), "w"), text=True)
        base = f"http://127.0.0.1:{int(server.stdout.readline().split()[1])}"
        browser = Player(os.path.join(tmp, "profile"))
        browser.call("Page.addScriptToEvaluateOnNewDocument", source=KEEP_LOG)

        # The board offers the game; the game starts, and a click lets the
        # sound out and gives it the keys.
        browser.call("Page.navigate", url=base + "/")
        wait_for("the board", lambda: browser.js("document.readyState == 'complete'"))
        browser.click("a[href='/play']")
        wait_for("the first frame", lambda: browser.frames() >= 1, timeout=300)
        first = browser.saved("/save/vek.hsf")
        browser.click("#canvas")
        wait_for("the sound to start", lambda: browser.js("Module.soundOn()"), timeout=30)
        shots = play_to_the_end(browser, frames_dir)

        titles = browser.played("music_title.ogg")
        for _ in range(22):         # a SPACE that came as the entry opened
            browser.key("Backspace", 8)
        for c in NAME:
            browser.key(c, ord(c.upper()), c)
        browser.key("Enter", 13, "\r")
        wait_for("the name entry to end", lambda: not browser.js("Module.typing"))
        # "Press SPACE for title screen" comes 50 frames after the entry at
        # the latest; a SPACE typed in the name may have answered it already.
        # The title starts its music.
        at_title = lambda: browser.played("music_title.ogg") > titles  # noqa: E731
        browser.after_frames(100, "the prompt for the title screen", at_title)
        if not at_title():
            browser.key(" ", 32, " ")
            wait_for("the title screen", at_title, timeout=300)
        browser.key("h", 72, "h")
        browser.after_frames(30, "the tables")
        syncs = browser.printed("GETTING REMOTE SCORES!!!")
        while True:
            browser.key("s", 83, "s")
            pressed = time.monotonic()
            if browser.after_frames(60, "the synchronisation to start",
                                    lambda: browser.printed("GETTING REMOTE SCORES!!!") > syncs):
                break
        wait_for("the synchronisation", lambda: "SAVING SCORES TO DISK!!!" in
                 browser.js("zephrantLog"), timeout=300)
        log = browser.js("zephrantLog")
        line = wait_for("the line on the board", lambda: next(
            (l for l in board(base) if l["name"] == NAME), None), timeout=300)
        on_board = time.monotonic() - pressed
        print(f"played: {shots} screenshots in play, {line['score']} points at {line['level']};"
              f" {[t for t in log if t.startswith('REPLAY:')]}")
        # The game prints its last line before it saves the table, and its
        # storage takes each save a moment later: the storage must come to
        # hold the table the game holds.
        def in_storage():
            game = browser.saved("/save/vek.hsf")
            return game if game == browser.js(f"({STORED})('/save/vek.hsf')") else None
        kept = wait_for("the table to reach the browser's storage", in_storage)
        assert kept != first, "the table was not saved"

        # The line on the board, and its replay playing on its watch page.
        browser.call("Page.navigate", url=base + "/")
        wait_for("the board", lambda: browser.js("document.readyState == 'complete'"))
        browser.click(f"a[href='{line['watch']}']")
        wait_for("the replay", lambda: browser.frames() >= 1, timeout=300)
        for n in range(3):
            browser.after_frames(100, "the replay to play")
            assert browser.lit_blocks(os.path.join(frames_dir, f"watch-{n}.png")) >= 40, \
                "the replay is blank"

        # Back to the game: the table is the one the storage holds. The game
        # may have saved once more after the table was read above (the
        # storage takes each save a moment later), so the storage is read
        # again here, from the watch page of the same site.
        stored = browser.js(f"({STORED})('/save/vek.hsf')")
        assert stored and stored != first, "the table is not in the browser's storage"
        kept = stored
        browser.call("Page.navigate", url=base + "/play")
        # The watch page stays alive at its end: look at the new page's frames.
        wait_for("the first frame", lambda: browser.js("location.pathname") == "/play" and
                 browser.frames() >= 1, timeout=300)
        assert browser.saved("/save/vek.hsf") == kept, "the table did not survive the reload"
        assert browser.js("FS.readdir('/save/vek.replays').length > 2"), "no replays kept"
        browser.click("#canvas")
        browser.key("h", 72, "h")
        browser.after_frames(40, "the tables")
        browser.lit_blocks(os.path.join(frames_dir, "table.png"))
        if bench:
            print(f"time from S to the line on the board: {on_board:.2f} s")
        print("a game played in the page reached the board; screenshots in", frames_dir)
        return 0
    except AssertionError:
        if browser:
            browser.lit_blocks(os.path.join(frames_dir, "failed.png"))
            print("the game's last lines:", browser.js("zephrantLog.slice(-20)"))
            print("replays:", browser.js("FS.analyzePath('/save/vek.replays').exists && "
                                         "FS.readdir('/save/vek.replays').map(f => [f, "
                                         "FS.stat('/save/vek.replays/' + f).size])"))
        with open(os.path.join(tmp, "server.log")) as log:
            print("the server's last lines:", *log.readlines()[-20:], sep="\n")
        raise
    finally:
        shut_down(browser, server, tmp)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
