"""The board on the web: pages for people and JSON for programs, served by the
same process as the game's requests (see README.md, "The board on the web").

    /                      the board: rank, name, level, score, date; paged,
                           ?q= searches names, ?page= turns pages
    /player/NAME           the stored scores of that name's family (as
                           ownership compares names: /player/zed finds Zed)
    /watch/ID              the replay of score ID playing in the page, with
                           whose game it is and its neighbours on the board
    /verified              how the board verifies scores, and what it cannot prove
    /replay/ID.zrp         the replay file
    /api/board.json        the board as JSON (?q= and ?page= as on /)
    /api/player/NAME.json  a name's scores as JSON (a miss is JSON as well)
    /style.css, /play/zephrant-web.js, /play/zephrant-web.wasm
    /play                  the whole game in the page; its exchange with
                           this server comes as POST /play/exchange (wire.py)

Every value from the board or the request is escaped where it is written,
and JSON carries "<", ">" and "&" as \\u escapes. Any query gets an answer;
fields no page reads are passed over. The pages have
their own connection to the board file, so reading them never waits on the
game's uploads.
"""

import gzip
import html
import json
import os
import threading
import time
from urllib.parse import parse_qs, quote, unquote

from . import board as boardsql
from . import rules
from .guard import RateLimiter

PAGE_LINES = 100            # board lines on one page
PLAYER_ROWS = 100           # a name's scores shown at most
PLAYER_FILES = ("zephrant-web.js", "zephrant-web.wasm")

# Seconds a reverse proxy or browser may keep what it got.
CACHE_BOARD = 30            # board, player pages and their JSON
CACHE_FOREVER = 365 * 86400  # a stored replay never changes
CACHE_PLAYER = 3600         # the web player, until the next deploy

_REPLAY = f"SELECT replay FROM scores WHERE id = ? AND {boardsql._VISIBLE}"
_LINE = f"SELECT {boardsql._LINE_COLUMNS} FROM scores WHERE id = ? AND {boardsql._VISIBLE}"

# The game's home page (the packaging's ZEPHRANT_HOMEPAGE), which offers
# the Debian package too.
HOMEPAGE = os.environ.get("ZEPHRANT_HOMEPAGE", "https://quarv.example.org/zephrant")

STYLE = b"""body{margin:0 auto;max-width:52em;padding:0 .6em;font:16px/1.4 sans-serif;
background:#101018;color:#e8e8f0}
a{color:#f0d040}h1{font-size:1.4em;margin:.6em 0}
table{border-collapse:collapse;width:100%}
th,td{padding:.25em .4em;text-align:left;white-space:nowrap}
td.n{text-align:right;font-variant-numeric:tabular-nums}
tr:nth-child(even){background:#1a1a26}
form{margin:.6em 0}input{font:inherit}
.note{color:#a0a0b0}.pages a,.pages b{margin-right:.5em}
canvas{display:block;width:min(100%,800px,calc(88vh*4/3));height:auto;background:#000}
canvas:focus{outline:2px solid #f0d040}
.player{position:relative;width:min(100%,800px,calc(88vh*4/3))}.player canvas{width:100%}
.ended{position:absolute;left:50%;top:45%;transform:translate(-50%,-50%);margin:0;
padding:.4em .8em;background:rgba(16,16,24,.9);border:1px solid #f0d040;white-space:nowrap}
h1,td:nth-child(2){overflow-wrap:anywhere}td:nth-child(2){white-space:normal}
.about{font-size:.9em;color:#a0a0b0;border-bottom:1px solid #303040;padding-bottom:.4em}
.hint{color:#101018;background:#f0d040;display:inline-block;padding:0 .4em;margin:.3em 0}
kbd{border:1px solid #606070;border-radius:3px;padding:0 .25em}
@media(max-width:34em){.date{display:none}th,td{padding:.2em}}
"""

ABOUT = ("<p class=about>Zephrant is an arcade game for Linux: steer a ship along the lines "
         "of a grid, paint every cell and keep away from the chasers. Get it from "
         f"<a href='{html.escape(HOMEPAGE, quote=True)}'>its home page</a> "
         f"(<a href='{html.escape(HOMEPAGE, quote=True)}/download'>the Debian package</a>).</p>")

VERIFIED = """<h1>How the board verifies scores</h1>
<p>The game records every game it plays: where it started, what the clock
read and which keys were pressed when. It sends that replay with each score.
The server plays the replay again through the game's own code, without a
window, and puts the score on the board only when that game ends at exactly
the score, level and state the upload claims. A replay that ends anywhere
else is refused. The same replay is what <b>watch</b> plays in your browser.</p>
<h2>What it cannot prove</h2>
<p>A verified score proves that the game, given those keys, plays exactly that
game to exactly that score. It does not prove who, or what, pressed them:</p>
<ul><li>A program that plays well makes a replay that verifies like any other.
<li>A start chosen by trying many starts offline verifies as well: every start
is one a real game could have had.
<li>A game belongs to whoever sends it here first, even when it was copied
from someone else.
<li>Names and keys prove nothing about people: one person can hold many.</ul>
<p>The operator watches the board for games like these and can take them off.</p>
<p><a href=/>The board</a></p>"""

# The watch page's own script: the keys go to the player while the canvas
# has the focus; a click on the focused picture pauses; the game's viewer
# state shows below it, and at the end "watch again" over the last picture.
WATCH_SCRIPT = """<script>
var canvas = document.getElementById('canvas'), hint = document.getElementById('hint'),
    state = document.getElementById('status'), again = document.getElementById('again'),
    ended = document.getElementById('ended'), endText = document.getElementById('endtext');
function press(code) { if (Module._zephrant_press_key) Module._zephrant_press_key(code); }
canvas.addEventListener('focus', function () { hint.hidden = true; });
canvas.addEventListener('blur', function () { hint.hidden = false; });
canvas.addEventListener('mousedown', function () {
  if (document.activeElement === canvas) press(80);
});
var stopped = false;
// The focus first: the game forgets the keys pressed before it came back.
// Once the player has stopped, the page starts it again.
again.addEventListener('click', function () {
  if (stopped) return location.reload();
  canvas.focus();
  press(82);
});
function show(text) {
  state.textContent = text ? text.charAt(0).toUpperCase() + text.slice(1) : '';
  stopped = stopped || text.indexOf('stopped') >= 0;
  ended.hidden = !stopped && text.indexOf('ended') < 0;
  endText.textContent = stopped ? 'Replay stopped' : 'Replay ended';
}
var Module = {
  arguments: ['--watch', '/replay.zrp'], replayUrl: REPLAY_URL, canvas: canvas,
  print: function (t) { console.log(t); }, printErr: function (t) { console.log(t); },
  onReplayError: function (e) { show(e); },
  onRuntimeInitialized: function () { show('replay'); },
  onViewerState: show,
  onExit: function () { show('the player has stopped'); }
};
</script>"""


class Page:
    """One answer: status, type, body, and how long it may be cached."""

    def __init__(self, code, kind, body, cache=0, extra=()):
        self.code = code
        self.kind = kind
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.cache = cache
        self.extra = list(extra)


def _date(created):
    return time.strftime("%Y-%m-%d", time.gmtime(created))


def _e(value) -> str:
    return html.escape(str(value), quote=True)


def _name_url(name: str) -> str:
    return "/player/" + quote(name, safe="")


def _shell(title: str, body: str) -> Page:
    return Page(200, "text/html; charset=utf-8",
                "<!doctype html><html lang=en><head><meta charset=utf-8>"
                "<meta name=viewport content='width=device-width,initial-scale=1'>"
                f"<title>{_e(title)}</title><link rel=stylesheet href=/style.css></head>"
                f"<body>{ABOUT}{body}</body></html>", CACHE_BOARD)


def _not_found(what: str) -> Page:
    page = _shell("Not found", f"<h1>Not found</h1><p>{_e(what)}</p><p><a href=/>The board</a>")
    page.code = 404
    page.cache = 0
    return page


class WebPages:
    def __init__(self, db_path: str, queue=None, player_dir: str = None,
                 size: int = boardsql.BOARD_LINES, per_minute: int = 120, clock=time.monotonic):
        self.rate = RateLimiter(per_minute, 60.0, clock)   # per client, as the game's requests
        self.size = size
        self.queue = queue
        self.player_dir = player_dir
        self._db = boardsql.connect(db_path)
        self._lock = threading.Lock()
        self._seen = None
        self._lines = []
        self._files = {}            # web player file -> (bytes, gzipped bytes)

    def close(self):
        with self._lock:
            self._db.close()

    # -- what the pages show ------------------------------------------------

    def lines(self):
        """[(rank, id, name, level, score, created, has_replay)] of the board,
        read again only when the board file changed."""
        with self._lock:
            version = self._db.data_version()
            if version != self._seen:
                self._seen = version
                rows = boardsql.board_lines(self._db, self.size)
                self._lines = [(rank, *row) for rank, row in enumerate(rows, 1)]
            return self._lines

    def player_rows(self, name: str):
        """The stored scores of the name's family ("zed" finds "Zed" and
        "Z.E.D"), best first."""
        with self._lock:
            return boardsql.family_scores(self._db, name, PLAYER_ROWS)

    def line(self, score_id: int):
        """(id, name, level, score, created, has_replay) of a stored score."""
        with self._lock:
            return self._db.execute(_LINE, (score_id,)).fetchone()

    def replay(self, score_id: int):
        with self._lock:
            row = self._db.execute(_REPLAY, (score_id,)).fetchone()
        return row[0] if row and row[0] else None

    def verifying(self) -> int:
        """How many uploads wait for their replay's verdict. What they claim
        is not shown: a claim is not a score until its replay plays to it."""
        return self.queue.being_verified() if self.queue is not None else 0

    @staticmethod
    def pick(lines, query):
        """The lines a query asks for: those whose name holds ?q=, as typed
        in any case or as ownership compares names ("z-e" finds "Zed"), then
        page ?page= of them. Returns (lines, page, pages, q)."""
        q = query.get("q", [""])[0].strip()[:rules.MAX_NAME]
        if q:
            low, key = q.lower(), rules.name_key(q)
            lines = [l for l in lines if low in l[2].lower() or key in rules.name_key(l[2])]
        pages = max(1, -(-len(lines) // PAGE_LINES))
        text = query.get("page", ["1"])[0]
        page = min(max(int(text), 1), pages) if text.isascii() and text.isdigit() and \
            len(text) < 6 else 1
        return lines[(page - 1) * PAGE_LINES:page * PAGE_LINES], page, pages, q

    # -- answers --------------------------------------------------------------

    def get(self, path: str, query_text: str, accepts_gzip: bool = False):
        """The page for a GET of `path`, or None when it is none of ours.
        Every query gets an answer: the fields the page reads are taken, any
        others (a shared link's tracking fields) passed over. The request
        line's limit bounds how many there can be."""
        query = parse_qs(query_text)
        if path == "/":
            return self.board_page(query)
        if path == "/style.css":
            return Page(200, "text/css; charset=utf-8", STYLE, CACHE_PLAYER)
        if path.startswith("/api/"):
            return self.api(path, query)
        if path.startswith("/player/"):
            return self.player_page(unquote(path[8:], errors="replace"))
        if path.startswith("/replay/") and path.endswith(".zrp"):
            return self.replay_file(path[8:-4])
        if path.startswith("/watch/"):
            return self.watch_page(path[7:])
        if path == "/verified":
            return _shell("Zephrant: how scores are verified", VERIFIED)
        if path in ("/play", "/play/"):
            return self.play_page()
        if path.startswith("/play/") and path[6:] in PLAYER_FILES:
            return self.player_file(path[6:], accepts_gzip)
        return None

    def api(self, path: str, query) -> Page:
        """The JSON answers; a miss is JSON too."""
        if path == "/api/board.json":
            lines, page, pages, q = self.pick(self.lines(), query)
            return self._json({"page": page, "pages": pages, "q": q,
                               "lines": [self._line_json(l) for l in lines],
                               "verifying": self.verifying()})
        if path.startswith("/api/player/") and path.endswith(".json"):
            name = unquote(path[12:-5], errors="replace")
            rows = self.player_rows(name)
            if rows:
                return self._json({"name": rows[0][1],
                                   "scores": [self._line_json((None, *r)) for r in rows]})
            return self._json({"error": "no stored scores", "name": name}, 404)
        return self._json({"error": "no such request"}, 404)

    def board_page(self, query) -> Page:
        lines, page, pages, q = self.pick(self.lines(), query)
        rows = "".join(self._row(l, rank=True) for l in lines)
        links = "".join(
            f"<b>{n}</b>" if n == page else
            f"<a href='/?page={n}{'&amp;q=' + _e(quote(q)) if q else ''}'>{n}</a>"
            for n in range(1, pages + 1))
        waiting = self.verifying()
        note = (f"<p class=note>{waiting} upload{'s' if waiting != 1 else ''} being verified"
                " (a score goes on the board when its replay plays to it)</p>"
                if waiting else "")
        found = f"<p class=note>Names holding \u201c{_e(q)}\u201d</p>" if q else ""
        return _shell("Zephrant: the board", (
            "<h1>Zephrant: the best 1000</h1>"
            "<p>Every score here was verified: the server played its replay through the "
            "game's own code to that score. <a href=/verified>How, and what that cannot "
            "prove</a>.</p>"
            "<p><a href=/play>Play it here, in the browser</a></p>"
            f"<form action=/><input name=q value='{_e(q)}' placeholder=name maxlength=20> "
            f"<button>Search</button></form>{found}{note}"
            "<table><tr><th>Rank<th>Name<th>Level<th class=n>Score<th class=date>Date<th>Replay"
            f"{rows}</table><p class=pages>{links}</p>"
            "<p class=note>JSON: <a href=/api/board.json>/api/board.json</a></p>"))

    def player_page(self, name: str) -> Page:
        rows = self.player_rows(name)
        if not rows:
            return _not_found(f"No stored scores for {name}.")
        name = rows[0][1]           # as the family's best line spells it
        ranks = {l[1]: l[0] for l in self.lines()}
        body = "".join(self._row((ranks.get(r[0], ""), *r), rank=True) for r in rows)
        return _shell(f"Zephrant: {name}", (
            f"<h1>{_e(name)}</h1><p><a href=/>The board</a></p>"
            "<table><tr><th>Rank<th>Name<th>Level<th class=n>Score<th class=date>Date<th>Replay"
            f"{body}</table><p class=note>JSON: "
            f"<a href='/api/player/{_e(quote(name, safe=''))}.json'>this list</a></p>"))

    def replay_file(self, text: str) -> Page:
        replay = self.replay(int(text)) if text.isascii() and text.isdigit() and \
            len(text) < 12 else None
        if replay is None:
            return _not_found("No such replay.")
        return Page(200, "application/octet-stream", replay, CACHE_FOREVER,
                    [("Content-Disposition", f'attachment; filename="zephrant-{text}.zrp"')])

    def watch_page(self, text: str) -> Page:
        line = self.line(int(text)) if text.isascii() and text.isdigit() and \
            len(text) < 12 else None
        if line is None or not line[5]:
            return _not_found("No such replay.")
        score_id, name, level, score, created, _ = line
        board = self.lines()
        at = next((i for i, l in enumerate(board) if l[1] == score_id), None)
        if at is None:
            rank = "not one of the board's lines (the name has a better score, or it is " \
                   f"below the best {len(board)})"
            near = ""
        else:
            rank = f"rank {at + 1} on the board"
            near = " \u00b7 ".join(
                f"{arrow} <a href='{_e(link)}'>{_e(l[0])}. {_e(l[2])}, {l[4]}</a>"
                for arrow, l in (("\u2190", board[at - 1] if at > 0 else None),
                                 ("\u2192", board[at + 1] if at + 1 < len(board) else None))
                if l for link in [f"/watch/{l[1]}" if l[6] else _name_url(l[2])])
            near = f"<p>Next to it: {near}</p>" if near else ""
        keys = ("<kbd>P</kbd> or <kbd>Space</kbd> pauses (so does a click on the picture), "
                "<kbd>F</kbd> plays faster (2\u00d7, 4\u00d7, then 1\u00d7 again), "
                "<kbd>1</kbd> at the recorded pace, <kbd>R</kbd> from the beginning, "
                "<kbd>Esc</kbd> stops it")
        script = WATCH_SCRIPT.replace("REPLAY_URL", f"'/replay/{score_id}.zrp'")
        return _shell(f"Zephrant: {name}'s {score}", (
            f"<h1><a href='{_e(_name_url(name))}'>{_e(name)}</a>: {score}</h1>"
            f"<p>Level {_e(level)}, played {_date(created)}, {rank}. "
            f"<a href=/>The board</a> \u00b7 "
            f"<a href='/replay/{score_id}.zrp' download>Download the replay</a></p>{near}"
            "<div class=player><canvas id=canvas width=800 height=600 tabindex=0></canvas>"
            "<p class=ended id=ended hidden><span id=endtext></span> \u2014 "
            "<button id=again>watch again</button></p></div>"
            "<p><span class=hint id=hint>Click the picture to control the replay</span> "
            "<span class=note id=status>Loading the player\u2026</span></p>"
            f"<p class=note>Keys, while the picture has the focus: {keys}. "
            "A click on the picture turns the sound on.</p>"
            f"{script}<script src=/play/zephrant-web.js></script>"))

    def play_page(self) -> Page:
        """The whole game in the page. Its tables and replays stay in the
        browser's storage; S on its board talks to this server through
        /play/exchange (wire.py)."""
        return _shell("Zephrant: play", (
            "<p><a href=/>The board</a></p>"
            "<canvas id=canvas width=800 height=600 tabindex=0></canvas>"
            "<p class=note id=status>Loading the game\u2026</p>"
            "<p class=note>SPACE starts, the arrow keys steer, SPACE in play opens a gap. "
            "H shows the tables; S there sends your best game to this board, where it "
            "appears once its replay has been verified. Your tables and replays stay in "
            "this browser.</p>"
            "<script>(function(){var c=document.getElementById('canvas'),"
            "s=document.getElementById('status'),ready='Click the picture to play, "
            "with sound.',lost='';"
            "function say(){s.textContent=lost+(Module.typing?'Type your name, ENTER ends it.'"
            ":ready)}"
            "c.addEventListener('click',function(){c.focus()});"
            "window.Module={keepFiles:true,arguments:[],canvas:c,"
            "print:function(t){console.log(t)},printErr:function(t){console.log(t)},"
            "onStorageError:function(e){lost='This browser keeps no files here, so your "
            "scores last only this visit ('+e+'). '},"
            "onRuntimeInitialized:function(){c.focus();say();setInterval(say,500)}}})()"
            "</script><script src=/play/zephrant-web.js></script>"))

    def player_file(self, name: str, accepts_gzip: bool) -> Page:
        kind = "application/wasm" if name.endswith(".wasm") else "text/javascript"
        with self._lock:
            if name not in self._files:
                path = os.path.join(self.player_dir or "", name)
                try:
                    with open(path, "rb") as f:
                        data = f.read()
                except OSError:
                    return _not_found("The web player is not built here.")
                self._files[name] = (data, gzip.compress(data, 9))
            data, packed = self._files[name]
        extra = [("Vary", "Accept-Encoding")]
        if accepts_gzip:
            return Page(200, kind, packed, CACHE_PLAYER, extra + [("Content-Encoding", "gzip")])
        return Page(200, kind, data, CACHE_PLAYER, extra)

    # -- pieces -------------------------------------------------------------

    @staticmethod
    def _row(line, rank: bool) -> str:
        place, score_id, name, level, score, created, has_replay = line
        replay = (f"<a href=/watch/{score_id}>watch</a> "
                  f"<a href=/replay/{score_id}.zrp download>.zrp</a>" if has_replay else "")
        return (f"<tr><td class=n>{_e(place)}<td><a href='{_e(_name_url(name))}'>{_e(name)}</a>"
                f"<td>{_e(level)}<td class=n>{score}<td class=date>{_date(created)}"
                f"<td>{replay}")

    @staticmethod
    def _line_json(line):
        place, score_id, name, level, score, created, has_replay = line
        out = {"name": name, "level": level, "score": score, "date": _date(created),
               "replay": f"/replay/{score_id}.zrp" if has_replay else None,
               "watch": f"/watch/{score_id}" if has_replay else None}
        if place is not None:
            out = {"rank": place, **out}
        return out

    @staticmethod
    def _json(value, code: int = 200) -> Page:
        # Markup characters as \u escapes: the text means the same to a JSON
        # reader and stays inert wherever a browser is talked into showing it.
        text = json.dumps(value, ensure_ascii=True)
        for c in "<>&":
            text = text.replace(c, f"\\u{ord(c):04x}")
        return Page(code, "application/json", text, CACHE_BOARD if code == 200 else 0)
