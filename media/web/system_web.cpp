// The browser's side of waiting, titles, keys and focus. The game's loops
// block as on the desktop; its waits give the browser its turn (the build
// unwinds and rewinds the stack around them), so the page stays live and
// shows each frame the game finishes.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstring>
#include <ctime>
#include <unistd.h>
#include <deque>

#include "media/graphics.h"
#include "media/input.h"
#include "media/platform.h"
#include "media/web/web.h"

namespace {
int waits = 0, waitsAtLastFrame = -1;
std::deque<InputEvent> pending;
bool inputStarted = false;

// The browser's key codes are the game's key codes, but for the sides of
// shift, control and alt, which it tells apart by the key's location.
int KeyCode(const EmscriptenKeyboardEvent& e) {
  int code = int(e.keyCode);
  bool right = e.location == DOM_KEY_LOCATION_RIGHT;
  switch (code) {
    case 16: return right ? KEY_RSHIFT : KEY_LSHIFT;
    case 17: return right ? KEY_RCONTROL : KEY_LCONTROL;
    case 18: return right ? KEY_RALT : KEY_LALT;
    default: return code >= 1 && code <= 255 ? code : 0;
  }
}

// UTF-8 of one typed character (the key's name when it is one character)
// to UTF-16 code units.
void QueueTyped(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  uint32_t cp;
  if (p[0] < 0x80 && p[1] == 0) cp = p[0];
  else if ((p[0] & 0xE0) == 0xC0 && p[2] == 0) cp = (p[0] & 0x1F) << 6 | (p[1] & 0x3F);
  else if ((p[0] & 0xF0) == 0xE0 && p[3] == 0) cp = (p[0] & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
  else if ((p[0] & 0xF8) == 0xF0 && p[4] == 0)
    cp = (p[0] & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F);
  else return;  // "Enter", "ArrowLeft" and the other named keys
  if (cp < 32 || cp == 127) return;
  if (cp >= 0x10000) {
    cp -= 0x10000;
    pending.push_back({InputEventKind::Char, int(0xD800 + (cp >> 10))});
    pending.push_back({InputEventKind::Char, int(0xDC00 + (cp & 0x3FF))});
  } else {
    pending.push_back({InputEventKind::Char, int(cp)});
  }
}

// Keys reach the game only while its canvas has the focus. The game keeps
// to itself the keys it plays with; Tab, paging, the function keys and any
// key with Alt, Ctrl or Meta do what the browser does with them, and the
// game never hears them (Ctrl+R reloads the page, it does not restart a
// replay first).
bool BrowsersKey(const EmscriptenKeyboardEvent& e, int code) {
  const bool paging = code >= 33 && code <= 36;  // PageUp, PageDown, End, Home
  const bool function = code >= KEY_F1 && code <= KEY_F12;
  return code == 0 || code == KEY_TAB || paging || function || e.ctrlKey || e.metaKey ||
         e.altKey;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
  int code = KeyCode(*e);
  if (type == EMSCRIPTEN_EVENT_KEYUP) {
    // Let go, a key always reaches the game: none stays held down in it.
    if (code) pending.push_back({InputEventKind::KeyUp, code});
    return !BrowsersKey(*e, code);
  }
  if (BrowsersKey(*e, code)) return false;
  pending.push_back({e->repeat ? InputEventKind::KeyRepeat : InputEventKind::KeyDown, code});
  QueueTyped(e->key);
  return true;
}

EM_BOOL OnFocus(int type, const EmscriptenFocusEvent*, void*) {
  pending.push_back({type == EMSCRIPTEN_EVENT_BLUR ? InputEventKind::FocusLost
                                                   : InputEventKind::FocusGained, 0});
  return false;
}
}  // namespace

// The clock's waits: a wait in a browser is the browser's turn.
extern "C" int nanosleep(const timespec* want, timespec* left) {
  ++waits;
  emscripten_sleep(unsigned(want->tv_sec * 1000 + want->tv_nsec / 1000000));
  if (left) left->tv_sec = 0, left->tv_nsec = 0;
  return 0;
}

// The page's next animation frame, as a display's vertical blank: the frame
// just finished is what the browser paints then, and the game draws its next
// one right after. A hidden page gets no animation frames; there the game
// goes on at a quarter of a second a frame. False outside a page.
EM_ASYNC_JS(int, NextAnimationFrame, (), {
  if (typeof requestAnimationFrame != 'function') return 0;
  await new Promise(function (go) {
    var late = setTimeout(go, 250);
    requestAnimationFrame(function () { clearTimeout(late); go(); });
  });
  return 1;
});

// What the page can see: Module.framesFlipped, the frames the game has
// finished; Module.framesShown, the last of them shown (a skipped one is
// not); Module.frameTimes, when the first two came; Module.typing, while the
// name entry takes typed text. A page that sets zephrantHoldAtFrame holds
// the picture at that frame until it clears it, so a test can look at the
// same moment the desktop's frame shows.
bool WebHoldingFrames() {
  return EM_ASM_INT({
    return typeof zephrantHoldAtFrame != 'undefined' && zephrantHoldAtFrame > $0;
  }, FramesFlipped());
}

void WebYieldForFrame(bool shown) {
  WebFeedSound();
  const int frame = FramesFlipped();
  EM_ASM({
    Module.framesFlipped = $0;
    if ($2) Module.framesShown = $0;
    Module.typing = $1;
    if ($0 <= 2) (Module.frameTimes = Module.frameTimes || [])[$0] = performance.now();
  }, frame, TypingText(), shown);
  while (EM_ASM_INT({
    return typeof zephrantHoldAtFrame != 'undefined' && zephrantHoldAtFrame == $0;
  }, frame)) {
    ++waits;
    emscripten_sleep(20);
  }
  if (!shown) return;
  const bool waited = waits != waitsAtLastFrame;
  if (!NextAnimationFrame() && !waited) emscripten_sleep(0);
  waitsAtLastFrame = ++waits;
}

void WebStartInput() {
  if (inputStarted) return;
  inputStarted = true;
  const char* canvas = "#canvas";
  emscripten_set_keydown_callback(canvas, nullptr, true, OnKey);
  emscripten_set_keyup_callback(canvas, nullptr, true, OnKey);
  emscripten_set_blur_callback(canvas, nullptr, true, OnFocus);
  emscripten_set_focus_callback(canvas, nullptr, true, OnFocus);
}

// The page's own controls (a click on the picture, "watch again") press
// keys of the game.
extern "C" EMSCRIPTEN_KEEPALIVE void zephrant_press_key(int code) {
  pending.push_back({InputEventKind::KeyDown, code});
  pending.push_back({InputEventKind::KeyUp, code});
}

// The page keeps its own title; what a viewer of a replay is told goes to
// the page (Module.onViewerState), which shows it beside the picture.
void WebShowViewerState(const Text& state) {
  EM_ASM({
    if (Module.onViewerState)
      Module.onViewerState(String.fromCharCode.apply(null, HEAPU16.subarray($0 >> 1, ($0 >> 1) + $1)));
  }, state.data(), state.size());
}

void DeliverWindowEvents() {
  while (!pending.empty()) {
    InputEvent e = pending.front();
    pending.pop_front();
    DeliverSystemEvent(e);
  }
}

void SetMouseVisible(bool visible) {
  EM_ASM({
    var c = typeof document != 'undefined' && document.getElementById('canvas');
    if (c) c.style.cursor = $0 ? 'auto' : 'none';
  }, visible);
}

int GamepadCount() { return 0; }
void SetPadStartIsSpace(bool) {}

// The browser's random source (crypto.getRandomValues), in pieces of at
// most 256 bytes as getentropy takes them.
extern "C" ssize_t getrandom(void* buf, size_t count, unsigned) {
  size_t n = count < 256 ? count : 256;
  return getentropy(buf, n) == 0 ? ssize_t(n) : -1;
}
