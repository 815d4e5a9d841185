#!/usr/bin/python3
"""The board and a replay in a real browser: a score server holding the
regression replays, headless Chromium driven through its DevTools protocol.
Checks the board's table, clicks "watch" and holds the replay's picture at
the moment the desktop's reference frame shows (tests/gl/web_reference_test),
which it must be close to. Leaves board.png and watch.png in FRAMES_DIR and,
with --bench, prints the player's figures.

    web_browser.py WEB_BUILD_DIR FRAMES_DIR [--bench]
"""

import base64
import gzip
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "server"))
from zscores.board import ScoreBoard  # noqa: E402

REFERENCE = "web_reference_fast_chasers_250.png"
FRAME = 250 + 1           # the start-up screen is the page's first frame


def recorded(replay):
    """(level, score) the desktop verifier reached, from the .expected file."""
    with open(os.path.join(ROOT, "tests", "replays", replay + ".expected")) as f:
        fields = dict(kv.split("=", 1) for kv in f.read().split("\n")[1].split())
    return fields["level"], int(fields["score"])


GAMES = sorted(((name, replay, *recorded(replay)) for name, replay in
                [("Zed", "fast_chasers"), ("Bo", "game_over"), ("Ann", "bot_level1")]),
               key=lambda g: -g[3])


def wait_for(what, check, timeout=120.0):
    """Polls `check` until it gives something true; fails after `timeout`."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


class Browser:
    def __init__(self, profile):
        self.proc = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--use-angle=swiftshader",
             "--enable-unsafe-swiftshader", "--remote-debugging-port=0",
             "--window-size=900,760",
             f"--user-data-dir={profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        port = wait_for("Chromium's DevTools port", lambda: os.path.exists(port_file) and
                        open(port_file).read().split("\n")[0].strip())
        pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json"))
        page = next(p for p in pages if p["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60)
        self.next_id = 0
        self.call("Page.enable")

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError(f"{method}: {message['error']}")
                return message.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, path, clip=None):
        params = {"format": "png"}
        if clip:
            params["clip"] = {**clip, "scale": 1}
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", **params)["data"]))

    def click(self, selector):
        """A real mouse click in the middle of the element."""
        box = self.js(f"(() => {{ const r = document.querySelector({json.dumps(selector)})"
                      ".getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2];"
                      " })()")
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1],
                      button="left", clickCount=1)

    def close(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


# The canvas read back in the page: the WebGL picture as RGBA bytes.
CANVAS_PIXELS = """(() => {
  const c = document.getElementById('canvas'), t = document.createElement('canvas');
  t.width = c.width; t.height = c.height;
  const g = t.getContext('2d'); g.drawImage(c, 0, 0);
  const d = g.getImageData(0, 0, t.width, t.height).data;
  let s = ''; for (let i = 0; i < d.length; i += 8192)
    s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));
  return btoa(s);
})()"""


def block_means(rgba, width, height, block=20):
    """Mean brightness of each block x block square (rows from the top)."""
    means = []
    for by in range(0, height - height % block, block):
        for bx in range(0, width, block):
            total = 0
            for y in range(by, by + block):
                row = rgba[(y * width + bx) * 4:(y * width + bx + block) * 4]
                total += sum(row) - sum(row[3::4])
            means.append(total / (block * block * 3))
    return means


def main(argv):
    web_dir, frames_dir = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    bench = "--bench" in argv
    if not os.path.exists(os.path.join(web_dir, "zephrant-web.wasm")):
        print(f"no web build in {web_dir}")
        return 77
    if not shutil.which("chromium"):
        print("no chromium (scripts/setup.sh installs it)")
        return 77
    tmp = tempfile.mkdtemp(prefix="zweb-")
    server = browser = None
    try:
        db = os.path.join(tmp, "scores.db")
        board = ScoreBoard(db)
        for name, replay, level, score in GAMES:
            with open(os.path.join(ROOT, "tests", "replays", replay + ".zrp"), "rb") as f:
                board.submit(name, level, score, "127.0.0.1", replay=f.read(), replay_hash=replay)
        board.submit("<b>NoReplay", "A1", 99, "127.0.0.2")
        board.close()
        server = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "server", "zephrant_server.py"), "--port", "0",
             "--print-port", "--unverified", "--quiet", "--db", db, "--web-player", web_dir],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = int(server.stdout.readline().split()[1])
        base = f"http://127.0.0.1:{port}"
        browser = Browser(os.path.join(tmp, "profile"))

        # The board: every game in rank order, the line without a replay
        # without links, its name shown as text.
        browser.call("Page.navigate", url=base + "/")
        rows = wait_for("the board's rows", lambda: browser.js(
            "document.readyState == 'complete' && [...document.querySelectorAll('tr')].slice(1)"
            ".map(r => [...r.cells].map(c => c.textContent.trim()))"))
        want = [[str(i + 1), n, lv, str(s)] for i, (n, _, lv, s) in enumerate(GAMES)]
        got = [r[:4] for r in rows]
        assert got == want + [["4", "<b>NoReplay", "A1", "99"]], got
        assert [r[5] for r in rows] == ["watch .zrp"] * 3 + [""], rows
        browser.screenshot(os.path.join(frames_dir, "board.png"))

        # Watch the best game: the click goes to the watch page, whose player
        # holds the picture at the reference moment.
        browser.call("Page.addScriptToEvaluateOnNewDocument",
                     source=f"var zephrantHoldAtFrame = {FRAME};")
        clicked = time.monotonic()
        browser.click(f"a[href='/watch/{1 + [g[1] for g in GAMES].index('fast_chasers')}']")
        wait_for("the first frame", lambda: browser.js(
            "typeof Module == 'object' && Module.framesShown >= 1"), timeout=300)
        first = time.monotonic() - clicked
        started = browser.js("Module.frameTimes")
        wait_for(f"frame {FRAME}", lambda: browser.js(f"Module.framesShown == {FRAME}"),
                 timeout=300)
        shown = base64.b64decode(browser.js(CANVAS_PIXELS))
        browser.screenshot(os.path.join(frames_dir, "watch.png"),
                           {"x": 0, "y": 0, "width": 900, "height": 760})
        lit = sum(1 for i in range(0, len(shown), 4 * 97) if sum(shown[i:i + 3]) > 96)
        assert lit > 500, f"the canvas is nearly blank ({lit} lit samples)"

        reference = os.path.join(frames_dir, REFERENCE)
        if os.path.exists(reference):
            with open(reference, "rb") as f:
                data = base64.b64encode(f.read()).decode()
            want = base64.b64decode(browser.js(
                "(async () => { const i = new Image(); i.src = 'data:image/png;base64," + data +
                "'; await i.decode(); const t = document.createElement('canvas');"
                " t.width = 800; t.height = 600; const g = t.getContext('2d');"
                " g.drawImage(i, 0, 0); const d = g.getImageData(0, 0, 800, 600).data;"
                " let s = ''; for (let k = 0; k < d.length; k += 8192)"
                " s += String.fromCharCode.apply(null, d.subarray(k, k + 8192));"
                " return btoa(s); })()"))
            # The play field: the status panel's colours cycle with the clock,
            # not with the game, and a watched game has its "REPLAY" note at
            # the top left (blocks of 20 pixels, 40 to a row).
            a, b = block_means(shown, 800, 550), block_means(want, 800, 550)
            diffs = sorted(abs(x - y) for k, (x, y) in enumerate(zip(a, b))
                           if not (k % 40 < 6 and k // 40 < 3))
            mean = sum(diffs) / len(diffs)
            print(f"against the desktop's frame: mean block difference {mean:.1f}, "
                  f"90th percentile {diffs[len(diffs) * 9 // 10]:.1f}, worst {diffs[-1]:.1f}")
            assert mean < 4 and diffs[len(diffs) * 9 // 10] < 12 and diffs[-1] < 40, \
                "far from the desktop's frame"
        else:
            raise AssertionError(f"no {REFERENCE}: the web_reference test makes it")

        # Sound, once the visitor has clicked (the click on "watch" may count).
        browser.click("#canvas")
        wait_for("the sound to start", lambda: browser.js("Module.soundOn()"), timeout=30)

        if bench:
            browser.js("zephrantHoldAtFrame = -1")
            n0, t0 = browser.js("Module.framesShown"), time.monotonic()
            time.sleep(5)
            n1, t1 = browser.js("Module.framesShown"), time.monotonic()
            size = sum(len(gzip.compress(open(os.path.join(web_dir, f), "rb").read(), 9))
                       for f in ("zephrant-web.js", "zephrant-web.wasm"))
            print(f"web build: {size / 1e6:.2f} MB gzipped")
            print(f"click to first frame: {first:.2f} s (in the page: "
                  f"{started[1] / 1000:.2f} s after navigation start)")
            print(f"frame rate in headless Chromium: {(n1 - n0) / (t1 - t0):.1f} fps")
        print("board and replay shown; screenshots in", frames_dir)
        return 0
    finally:
        if browser:
            browser.close()
        if server:
            server.terminate()
            server.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
