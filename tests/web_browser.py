#!/usr/bin/python3
"""The board and a replay in a real browser: a score server holding the
regression replays, headless Chromium driven through its DevTools protocol.
Checks the board's table, clicks "watch" and holds the replay's picture at
the moment the desktop's reference frame shows (tests/gl/web_reference_test),
which it must be close to. Then lets it play and looks as a visitor does:
the canvas at the browser's animation frames must (nearly) always hold a
picture, and screenshots of the page in play must match the desktop's frame
of the same moment. Leaves board.png, watch.png and play-N.png in FRAMES_DIR
and, with --bench, prints the player's figures.

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
import urllib.parse
import urllib.request

import websocket

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "server"))
from zscores.board import ScoreBoard  # noqa: E402

REFERENCE = "web_reference_fast_chasers_250.png"
BLOCKS = "web_reference_fast_chasers.blocks"   # block means of the desktop's frames 1, 2...
FRAME = 250 + 1           # the start-up screen is the page's first frame
BLOCK_ROW, BLOCK_ROWS = 40, 27                 # 20-pixel blocks of the top 540 rows


def recorded(replay):
    """(level, score) the desktop verifier reached, from the .expected file."""
    with open(os.path.join(ROOT, "tests", "replays", replay + ".expected")) as f:
        fields = dict(kv.split("=", 1) for kv in f.read().split("\n")[1].split())
    return fields["level"], int(fields["score"])


LONG_NAME = "Wwwwwwwwwwwwwwwwwwww"   # 20 wide letters

GAMES = sorted(((name, replay, *recorded(replay)) for name, replay in
                [("Zed", "fast_chasers"), ("Bo", "game_over"), ("Ann", "bot_level1")]),
               key=lambda g: -g[3])


def watch_id(replay):
    """The board's id of the game with this replay (stored in GAMES' order)."""
    return 1 + [g[1] for g in GAMES].index(replay)


class Navigated(AssertionError):
    """The page asked was replaced by the next one while it answered."""


def wait_for(what, check, timeout=120.0):
    """Polls `check` until it gives something true; fails after `timeout`.
    A page still navigating after a click counts as not there yet."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = check()
        except Navigated:
            value = None
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


class Browser:
    def __init__(self, profile):
        self.profile = profile
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
        # A page's answer waits for its main thread, which a machine busy
        # with twenty other programs can leave unrun for minutes: the bound
        # only stops a browser that has hung for good.
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=600)
        self.next_id = 0
        self.call("Page.enable")

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    gone = "navigated" in message["error"].get("message", "")
                    raise (Navigated if gone else AssertionError)(f"{method}: {message['error']}")
                return message.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            gone = "context was destroyed" in str(result["exceptionDetails"])
            raise (Navigated if gone else AssertionError)(
                f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, path, clip=None, whole=False):
        params = {"format": "png"}
        if whole:   # the whole page, not only what the window shows of it
            clip = {"x": 0, "y": 0, **self.js("({width: document.documentElement.scrollWidth,"
                                             " height: document.documentElement.scrollHeight})")}
            params["captureBeyondViewport"] = True
        if clip:
            params["clip"] = {**clip, "scale": 1}
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", **params)["data"]))

    def click(self, selector):
        """A real mouse click in the middle of the element, scrolled into
        view when it is not."""
        box = self.js(f"(() => {{ const e = document.querySelector({json.dumps(selector)});"
                      " let r = e.getBoundingClientRect(); if (r.bottom > innerHeight)"
                      " e.scrollIntoView({block: 'nearest'}), r = e.getBoundingClientRect();"
                      " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1],
                      button="left", clickCount=1)

    def key(self, key):
        """A real key press and release on whatever has the focus."""
        code = {"Escape": 27, "Tab": 9}.get(key) or ord(key.upper())
        text = key if len(key) == 1 else ""
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, text=text if kind == "keyDown"
                      else "", windowsVirtualKeyCode=code, nativeVirtualKeyCode=code)

    def gpu_milliseconds(self):
        """CPU time Chromium's GPU process (where software WebGL draws) has
        used so far, in ms: on a busy machine a steadier figure than frames
        a second."""
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    args = f.read()  # Chromium's children give theirs as one string
                if b"--type=gpu-process" not in args or \
                        f"--user-data-dir={self.profile} ".encode() not in args:
                    continue
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                return (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf("SC_CLK_TCK")
            except (OSError, ValueError):
                continue
        return None

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


# Samples the canvas at the browser's next `n` animation frames: for each,
# the game's frame count and the share of lit pixels in the play field.
SAMPLE_FRAMES = """((n) => new Promise(done => {
  const c = document.getElementById('canvas'), t = document.createElement('canvas');
  t.width = 80; t.height = 54;
  const g = t.getContext('2d', {willReadFrequently: true}), out = [];
  const look = () => {
    g.drawImage(c, 0, 0, 800, 540, 0, 0, 80, 54);
    const d = g.getImageData(0, 0, 80, 54).data;
    let lit = 0;
    for (let i = 0; i < d.length; i += 4) lit += d[i] + d[i + 1] + d[i + 2] > 96;
    out.push([Module.framesShown, lit / (80 * 54)]);
    if (out.length < n) requestAnimationFrame(look); else done(out);
  };
  requestAnimationFrame(look);
}))"""

# A PNG (base64) decoded in the page, as block means of its top 540 rows.
PNG_BLOCKS = """(async (data) => {
  const i = new Image(); i.src = 'data:image/png;base64,' + data; await i.decode();
  const t = document.createElement('canvas'); t.width = 800; t.height = 600;
  const g = t.getContext('2d'); g.drawImage(i, 0, 0, 800, 600);
  const d = g.getImageData(0, 0, 800, 540).data, out = [];
  for (let by = 0; by < 540; by += 20) for (let bx = 0; bx < 800; bx += 20) {
    let s = 0;
    for (let y = by; y < by + 20; ++y) for (let x = bx; x < bx + 20; ++x) {
      const k = (y * 800 + x) * 4; s += d[k] + d[k + 1] + d[k + 2];
    }
    out.push(Math.floor(s / 1200));
  }
  return out;
})"""


# The frame the page shows now, once the browser has painted it: a frame is
# finished a little before the animation frame that shows it.
AFTER_A_PAINT = """new Promise(done => { const n = Module.framesShown;
  requestAnimationFrame(() => requestAnimationFrame(() => done(n))); })"""

# The frame shown after the page has painted N more times.
def after_paints(n):
    return f"""new Promise(done => {{ let left = {n};
  const next = () => --left > 0 ? requestAnimationFrame(next) : done(Module.framesShown);
  requestAnimationFrame(next); }})"""

# A PNG (base64) decoded in the page, as RGBA bytes (base64).
PNG_PIXELS = """(async (data) => {
  const i = new Image(); i.src = 'data:image/png;base64,' + data; await i.decode();
  const t = document.createElement('canvas'); t.width = 800; t.height = 600;
  const g = t.getContext('2d'); g.drawImage(i, 0, 0);
  const d = g.getImageData(0, 0, 800, 600).data;
  let s = ''; for (let k = 0; k < d.length; k += 8192)
    s += String.fromCharCode.apply(null, d.subarray(k, k + 8192));
  return btoa(s);
})"""

# The share of lit pixels in the canvas's status panel (its bottom 50 rows),
# which every frame of play draws last.
PANEL_LIT = """(() => {
  const t = document.createElement('canvas'); t.width = 800; t.height = 50;
  const g = t.getContext('2d');
  g.drawImage(document.getElementById('canvas'), 0, 550, 800, 50, 0, 0, 800, 50);
  const d = g.getImageData(0, 0, 800, 50).data;
  let lit = 0; for (let i = 0; i < d.length; i += 4) lit += d[i] + d[i + 1] + d[i + 2] > 96;
  return lit / 40000;
})()"""

# What the page says over the picture when the replay has ended ("" when
# nothing).
ENDED = "(e => e.hidden ? '' : e.innerText)(document.getElementById('ended'))"

# Keys pressed on the canvas: for each, whether the page kept the browser
# from doing what it does with it.
KEYS_KEPT = """(() => {
  const c = document.getElementById('canvas'), out = {};
  for (const [key, code, mods] of [['Tab', 9, ''], ['PageDown', 34, ''], ['F5', 116, ''],
      ['ArrowLeft', 37, 'Alt'], ['p', 80, 'Ctrl'], ['ArrowDown', 40, '']]) {
    for (const type of ['keydown', 'keyup']) {
      const e = new KeyboardEvent(type, {key, bubbles: true, cancelable: true,
                                         altKey: mods == 'Alt', ctrlKey: mods == 'Ctrl'});
      Object.defineProperty(e, 'keyCode', {get: () => code});
      const let_through = c.dispatchEvent(e);
      if (type == 'keydown') out[(mods ? mods + '+' : '') + key] = !let_through;
    }
  }
  return out;
})()"""

# For `ms` milliseconds: game frames finished (shown or skipped), animation
# frames that showed a new one, and the seconds measured.
PRESENTED = """((ms) => new Promise(done => {
  const f0 = Module.framesFlipped, t0 = performance.now();
  let last = Module.framesShown, shown = 0;
  const look = (t) => {
    if (Module.framesShown != last) ++shown, last = Module.framesShown;
    if (t - t0 < ms) requestAnimationFrame(look);
    else done([Module.framesFlipped - f0, shown, (t - t0) / 1000]);
  };
  requestAnimationFrame(look);
}))"""

# The floor: WebGL on a canvas of the game's size, cleared and one quad drawn
# at every animation frame.
FLOOR_PAGE = """<!doctype html><canvas id=c width=800 height=600></canvas><script>
const gl = document.getElementById('c').getContext('webgl', {alpha: false, antialias: false,
  preserveDrawingBuffer: true});
const sh = (k, src) => { const s = gl.createShader(k); gl.shaderSource(s, src);
  gl.compileShader(s); return s; };
const p = gl.createProgram();
gl.attachShader(p, sh(gl.VERTEX_SHADER, 'attribute vec2 a; uniform float t;'
  + 'void main() { gl_Position = vec4(a * 0.5 + vec2(sin(t) * 0.3, 0.0), 0.0, 1.0); }'));
gl.attachShader(p, sh(gl.FRAGMENT_SHADER, 'void main() { gl_FragColor = vec4(1.0); }'));
gl.linkProgram(p); gl.useProgram(p);
gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, 1]),
  gl.STATIC_DRAW);
gl.enableVertexAttribArray(0); gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
var floorFrames = 0;
const frame = (t) => { gl.clear(gl.COLOR_BUFFER_BIT); gl.uniform1f(gl.getUniformLocation(p, 't'),
  t / 500); gl.drawArrays(gl.TRIANGLES, 0, 6); ++floorFrames; requestAnimationFrame(frame); };
requestAnimationFrame(frame);
</script>"""


# Counts the bytes of new texture memory the page makes (texImage2D).
COUNT_TEXELS = """var texelsMade = 0;
(() => { const make = WebGLRenderingContext.prototype.texImage2D;
  WebGLRenderingContext.prototype.texImage2D = function (...a) {
    if (a.length == 9) texelsMade += a[3] * a[4] * 4;
    return make.apply(this, a); }; })();"""


def block_difference(a, b):
    """Mean and worst difference of two frames' block means, without the
    "REPLAY" note at the top left (the status panel is below them)."""
    diffs = sorted(abs(x - y) for k, (x, y) in enumerate(zip(a, b))
                   if not (k % BLOCK_ROW < 6 and k // BLOCK_ROW < 3))
    return sum(diffs) / len(diffs), diffs[-1]


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


def b64(data):
    return base64.b64encode(data).decode()


def against_reference(shown, want):
    """The canvas held at the reference moment against the desktop's frame,
    block by block over the play field: the status panel's colours cycle
    with the clock, not with the game, and a watched game has its "REPLAY"
    note at the top left (blocks of 20 pixels, 40 to a row)."""
    a, b = block_means(shown, 800, 550), block_means(want, 800, 550)
    diffs = sorted(abs(x - y) for k, (x, y) in enumerate(zip(a, b))
                   if not (k % 40 < 6 and k // 40 < 3))
    mean = sum(diffs) / len(diffs)
    print(f"against the desktop's frame: mean block difference {mean:.1f}, "
          f"90th percentile {diffs[len(diffs) * 9 // 10]:.1f}, worst {diffs[-1]:.1f}")
    assert mean < 4 and diffs[len(diffs) * 9 // 10] < 12 and diffs[-1] < 40, \
        "far from the desktop's frame"


def canvas_clip(browser):
    """Where the canvas is on the page, as a screenshot's clip takes it."""
    box = browser.js("(() => { const r = document.getElementById('canvas')"
                     ".getBoundingClientRect(); return [r.x + scrollX, r.y + scrollY, r.width,"
                     " r.height]; })()")
    return {"x": box[0], "y": box[1], "width": box[2], "height": box[3], "scale": 800 / box[2]}


def standing(browser):
    """The picture's frame when it stayed the same over 20 of the page's paints."""
    before = browser.js("Module.framesShown")
    return browser.js(after_paints(20)) == before and before


def screenshots_in_play(browser, desktop, base, count, save):
    """Up to `count` screenshots of the canvas while the replay plays, each
    against the desktop's frames of the moment it was taken (the page's frame
    base + k is the desktop's k), until those run out. Every fifth goes to
    SAVE-N.png. Returns how many were taken and those unlike."""
    size = BLOCK_ROW * BLOCK_ROWS
    last = len(desktop) // size
    clip = canvas_clip(browser)
    shots, unlike = 0, []
    while shots < count and browser.js("Module.framesShown") - base < last - 50:
        before = browser.js(AFTER_A_PAINT) - base
        data = browser.call("Page.captureScreenshot", format="png", clip=clip)["data"]
        after = browser.js("Module.framesShown") - base
        if shots % 5 == 0:
            with open(f"{save}-{shots // 5}.png", "wb") as f:
                f.write(base64.b64decode(data))
        seen = browser.js(f"{PNG_BLOCKS}({json.dumps(data)})")
        frames = [desktop[(k - 1) * size:k * size]
                  for k in range(max(before - 1, 1), min(after + 1, last) + 1)]
        best = min((block_difference(seen, f) for f in frames), default=(999, 999))
        # Like the desktop's frame: much nearer to it than a black canvas is.
        # In motion the browser's picture can be a frame off the count it
        # reports on a busy machine, and a sprite one step away makes a
        # single block differ a lot, so only the mean counts here; a frame
        # held still is compared block by block.
        # Where a frame of the moment is itself nearly black (a level's
        # wipe ends in black), a black canvas would pass too: such a
        # screenshot tells nothing and is not counted. Held still, the
        # page's frames there are 2.5-3.5 from the desktop's, as in play:
        # the grid's glow sways with the page's own clock.
        black = min((block_difference(bytes(size), f)[0] for f in frames), default=0)
        if black >= 4:
            if best[0] >= max(4, black / 3):
                unlike.append((before, after, round(best[0], 1), round(black, 1)))
            shots += 1
        browser.js(after_paints(10))  # the next screenshot a few frames on
    return shots, unlike


def hold_a_lit_frame(browser):
    """Holds the picture at a coming frame of the replay that is not dark."""
    frame = browser.js("Module.framesFlipped")
    while True:
        frame += 25
        # (the page runs the game between calls, never within one)
        if not browser.js(f"zephrantHoldAtFrame = {frame}; Module.framesFlipped < {frame}"):
            frame = browser.js("Module.framesFlipped")
            continue
        wait_for("the frame held", lambda: browser.js(f"Module.framesShown == {frame}"),
                 timeout=300)
        if browser.js(f"{SAMPLE_FRAMES}(1)")[-1][1] > 0.05:
            return


def shut_down(browser, server, tmp):
    """The end of a browser test: the browser and the server stopped, their
    folder gone."""
    if browser:
        browser.close()
    if server:
        server.terminate()
        server.wait(10)
    shutil.rmtree(tmp, ignore_errors=True)


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
        board.submit(LONG_NAME, "A1", 98, "127.0.0.3")
        board.close()
        server = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "server", "zephrant_server.py"), "--port", "0",
             "--print-port", "--unverified", "--quiet", "--db", db, "--web-player", web_dir],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = int(server.stdout.readline().split()[1])
        base_url = f"http://127.0.0.1:{port}"
        browser = Browser(os.path.join(tmp, "profile"))

        # The board: every game in rank order, the line without a replay
        # without links, its name shown as text.
        browser.call("Page.navigate", url=base_url + "/")
        rows = wait_for("the board's rows", lambda: browser.js(
            "document.readyState == 'complete' && [...document.querySelectorAll('tr')].slice(1)"
            ".map(r => [...r.cells].map(c => c.textContent.trim()))"))
        want = [[str(i + 1), n, lv, str(s)] for i, (n, _, lv, s) in enumerate(GAMES)]
        got = [r[:4] for r in rows]
        assert got == want + [["4", "<b>NoReplay", "A1", "99"], ["5", LONG_NAME, "A1", "98"]], got
        assert [r[5] for r in rows] == ["watch .zrp"] * 3 + ["", ""], rows
        browser.screenshot(os.path.join(frames_dir, "board.png"))

        # Watch the best game: the click goes to the watch page, whose player
        # holds the picture at the reference moment.
        hold = browser.call("Page.addScriptToEvaluateOnNewDocument",
                            source=f"var zephrantHoldAtFrame = {FRAME};" +
                            COUNT_TEXELS)["identifier"]
        clicked = time.monotonic()
        browser.click(f"a[href='/watch/{watch_id('fast_chasers')}']")
        wait_for("the first frame", lambda: browser.js(
            "typeof Module == 'object' && Module.framesShown >= 1"), timeout=300)
        browser.call("Page.removeScriptToEvaluateOnNewDocument", identifier=hold)
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
        if not os.path.exists(reference):
            raise AssertionError(f"no {REFERENCE}: the web_reference test makes it")
        with open(reference, "rb") as f:
            want = base64.b64decode(browser.js(f"{PNG_PIXELS}({json.dumps(b64(f.read()))})"))
        against_reference(shown, want)

        # In play, as a visitor sees it: a picture at (nearly) every animation
        # frame, never the clear between two frames.
        browser.js("zephrantHoldAtFrame = -1")
        texels = browser.js("texelsMade")
        samples = browser.js(f"{SAMPLE_FRAMES}(150)")
        dark = [f for f, lit in samples if lit < 0.05]
        moved = samples[-1][0] - samples[0][0]
        print(f"in play: {len(samples) - len(dark)} of {len(samples)} animation frames "
              f"showed a picture over {moved} game frames")
        assert moved > 20, "the replay hardly moved"
        assert len(dark) <= len(samples) // 50, f"dark at game frames {dark[:20]}"

        # Screenshots of the page in play, each against the desktop's frames
        # of the moment it was taken.
        with open(os.path.join(frames_dir, BLOCKS), "rb") as f:
            desktop = f.read()
        shots, unlike = screenshots_in_play(browser, desktop, 1, 20,
                                            os.path.join(frames_dir, "play"))
        print(f"screenshots in play: {shots - len(unlike)} of {shots} like the desktop's frame")
        # A picture made again every frame (the grid) takes the place of the
        # one it replaces: play makes no new texture memory.
        made = browser.js("texelsMade") - texels
        assert made < 1 << 20, f"{made} bytes of new textures made in play"
        # The desktop's frames end 30 s into the replay. On a busy
        # machine a screenshot can take seconds, so fewer of them fit there;
        # each one still has to match.
        assert shots >= 3, f"only {shots} screenshots before the desktop's frames ran out"
        assert len(unlike) * 20 <= shots, f"unlike the desktop's frames: {unlike}"

        # The viewer's keys reach the player only while the picture has the
        # focus, and there the browser keeps its own keys, which the game
        # never hears (Ctrl+P does not pause); the game's keys do not scroll.
        status = lambda: browser.js("document.getElementById('status').textContent")
        title = browser.js("document.title")
        browser.key("p")
        assert status() == "Replay", status()
        kept = browser.js(KEYS_KEPT)
        assert kept == {"Tab": False, "PageDown": False, "F5": False, "Alt+ArrowLeft": False,
                        "Ctrl+p": False, "ArrowDown": True}, kept
        # The first click gives the focus (and the sound), later ones pause:
        # the picture stands still.
        browser.click("#canvas")
        wait_for("the sound to start", lambda: browser.js("Module.soundOn()"), timeout=30)
        assert browser.js("document.getElementById('hint').hidden")
        assert status() == "Replay", status()
        browser.click("#canvas")
        wait_for("the pause", lambda: status() == "Replay paused")
        held = wait_for("the picture to stand still", lambda: standing(browser), timeout=60)
        paused = []
        for n in range(2):    # (the canvas's edge, scaled, may differ by a pixel column)
            browser.js(after_paints(1 + 30 * n))
            data = browser.call("Page.captureScreenshot", format="png",
                                clip=canvas_clip(browser))["data"]
            paused.append(browser.js(f"{PNG_BLOCKS}({json.dumps(data)})"))
        assert block_difference(*paused)[1] < 2, "the paused picture moved"
        assert browser.js("Module.framesShown") == held
        browser.key("f")
        wait_for("2x", lambda: status() == "Replay paused at 2\u00d7")
        browser.key("f")
        wait_for("4x", lambda: status() == "Replay paused at 4\u00d7")

        # R plays it again from its beginning, at the pace chosen: its frame
        # k is the page's frame `base` + k. Held at the reference moment it
        # is the desktop's frame again; then in motion, four times as fast.
        base = browser.js("Module.framesFlipped")
        browser.js(f"zephrantHoldAtFrame = {base + FRAME - 1}")
        browser.key("r")
        wait_for("the replay again", lambda: status() == "Replay at 4\u00d7")
        wait_for("the reference frame again",
                 lambda: browser.js(f"Module.framesShown == {base + FRAME - 1}"), timeout=300)
        against_reference(base64.b64decode(browser.js(CANVAS_PIXELS)), want)
        browser.js("zephrantHoldAtFrame = -1")
        shots, unlike = screenshots_in_play(browser, desktop, base, 10,
                                            os.path.join(frames_dir, "play-4x"))
        print(f"screenshots at 4x: {shots - len(unlike)} of {shots} like the desktop's frame")
        assert shots >= 2 and not unlike, f"at 4x, unlike the desktop's frames: {unlike}"
        browser.key("1")
        wait_for("the recorded pace", lambda: status() == "Replay")

        # ESC stops it: the last picture stays, the page lives on and can
        # watch again; the page keeps its title, and Tab leaves the picture.
        # ESC comes at a frame held still that shows a picture: where it
        # comes on a busy machine is chance, and a level's end is dark.
        hold_a_lit_frame(browser)
        browser.key("Escape")
        browser.js("zephrantHoldAtFrame = -1")
        wait_for("the end", lambda: status().startswith("Replay ended \u2014 R watches again"))
        assert browser.js(f"{SAMPLE_FRAMES}(3)")[-1][1] > 0.05, "the last picture went dark"
        # A whole frame, though ESC came while one was being drawn.
        assert browser.js(PANEL_LIT) > 0.01, "the last picture has no status panel"
        assert browser.js(ENDED) == "Replay ended \u2014 watch again", browser.js(ENDED)
        browser.screenshot(os.path.join(frames_dir, "watch-ended.png"), whole=True)
        browser.click("#again")
        wait_for("the replay again", lambda: status() == "Replay")
        assert browser.js("document.title") == title == "Zephrant: Zed's 51821", title
        browser.key("Tab")
        assert browser.js("document.activeElement.id") != "canvas"

        # A short game watched to its end at four times its pace: its last
        # picture stays with the news that it ended; ESC then stops the
        # player, and the page still offers to watch again.
        browser.call("Page.navigate", url=f"{base_url}/watch/{watch_id('bot_level1')}")
        wait_for("the replay", lambda: browser.js(    # (frame 1 is the start-up screen)
            "typeof Module == 'object' && Module.framesShown >= 3"), timeout=300)
        browser.click("#canvas")
        browser.key("f")
        browser.key("f")
        wait_for("4x", lambda: status() == "Replay at 4\u00d7")
        wait_for("the replay's end", lambda: status().startswith("Replay ended"), timeout=300)
        assert browser.js(f"{SAMPLE_FRAMES}(3)")[-1][1] > 0.05, "the last picture went dark"
        assert browser.js(ENDED) == "Replay ended \u2014 watch again", browser.js(ENDED)
        browser.screenshot(os.path.join(frames_dir, "watch-end.png"), whole=True)
        browser.key("Escape")
        wait_for("the player to stop", lambda: status() == "Replay stopped")
        assert browser.js(f"{SAMPLE_FRAMES}(3)")[-1][1] > 0.05, "the last picture went dark"
        assert browser.js(ENDED) == "Replay stopped \u2014 watch again", browser.js(ENDED)

        # A phone: a long name wraps, nothing scrolls sideways.
        browser.call("Emulation.setDeviceMetricsOverride", width=390, height=844,
                     deviceScaleFactor=1, mobile=True)
        for path in ("/", "/player/" + urllib.parse.quote(LONG_NAME), "/watch/1"):
            browser.call("Page.navigate", url=base_url + path)
            wide = wait_for("the page", lambda: browser.js(
                "document.readyState == 'complete' && document.documentElement.scrollWidth"))
            assert wide <= 390, f"{path} is {wide} px wide on a 390 px screen"
        browser.screenshot(os.path.join(frames_dir, "phone-watch.png"))
        browser.call("Emulation.clearDeviceMetricsOverride")

        if bench:
            # Frames presented: animation frames that show a game frame not
            # shown before, beside the same count for a page that clears and
            # draws one quad a frame, in the same browser.
            gpu = browser.gpu_milliseconds()
            played, shown, seconds = browser.js(f"{PRESENTED}(5000)")
            gpu_game = browser.gpu_milliseconds()
            browser.call("Page.navigate", url="data:text/html," + urllib.parse.quote(FLOOR_PAGE))
            wait_for("the floor page", lambda: browser.js("typeof floorFrames == 'number'"))
            gpu_floor = browser.gpu_milliseconds()
            floor = browser.js("new Promise(done => { const n = floorFrames;"
                               " setTimeout(() => done(floorFrames - n), 5000); })") / 5
            if gpu is not None:
                print(f"GPU process CPU time a game frame: {(gpu_game - gpu) / max(played, 1):.1f} ms,"
                      f" the floor page {(browser.gpu_milliseconds() - gpu_floor) / floor / 5:.1f}"
                      f" ms (load average {os.getloadavg()[0]:.1f})")
            size = sum(len(gzip.compress(open(os.path.join(web_dir, f), "rb").read(), 9))
                       for f in ("zephrant-web.js", "zephrant-web.wasm"))
            print(f"web build: {size / 1e6:.2f} MB gzipped")
            print(f"click to first frame: {first:.2f} s (in the page: "
                  f"{started[1] / 1000:.2f} s after navigation start)")
            print(f"game frames in headless Chromium: {played / seconds:.1f} a second")
            print(f"frames presented: {shown / seconds:.1f} a second, "
                  f"{100 * shown / seconds / floor:.0f} % of a page drawing one quad "
                  f"a frame ({floor:.1f} a second)")
        print("board and replay shown; screenshots in", frames_dir)
        return 0
    finally:
        shut_down(browser, server, tmp)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
