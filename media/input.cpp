#include "media/input.h"

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "media/platform.h"

int autoPoll = 1;

namespace {
std::array<int, 256> keyStates{};
std::array<int, 256> keyHits{};
std::array<int, 256> charQueue{};
unsigned charPut = 0, charGet = 0;
int appSuspended = 0;
int appTerminate = 0;
bool tracking = false;
bool polling = false;
std::deque<InputEvent> injected;
PollObserver pollObserver = nullptr;
PollSupplier pollSupplier = nullptr;
LiveEventSink liveSink = nullptr;
LiveKeyWatcher keyWatcher = nullptr;
bool typingText = false;
// The events the running PollSystem handed to the game, for the observer.
std::vector<InputEvent> polled;

// The window's events reach the game, or the live sink while a recording
// supplies the game's.
void Deliver(const InputEvent& e) {
  if (keyWatcher && !typingText && tracking &&
      (e.kind == InputEventKind::KeyDown || e.kind == InputEventKind::Char))
    keyWatcher(e);
  if (!pollSupplier)
    HandleInputEvent(e);
  else if (liveSink)
    liveSink(e);
}

// The window's events, then the injected ones.
void DeliverPending() {
  DeliverWindowEvents();
  while (!injected.empty()) {
    InputEvent e = injected.front();
    injected.pop_front();
    Deliver(e);
  }
}

void FlushKeys() {
  keyStates.fill(0);
  keyHits.fill(0);
  charPut = charGet = 0;
}

void QueueChar(int code) {
  if (charPut - charGet >= charQueue.size()) return;  // full: dropped
  charQueue[charPut++ % charQueue.size()] = code;
}
}  // namespace

void HandleInputEvent(const InputEvent& e) {
  if (!tracking) return;
  bool keyInRange = e.code >= 1 && e.code <= 255;
  if (polling && pollObserver && (keyInRange || e.kind >= InputEventKind::Char)) {
    polled.push_back(e);
  }
  switch (e.kind) {
    case InputEventKind::KeyDown:
      if (!keyInRange) return;
      if (keyStates[e.code] == 0) {
        keyStates[e.code] = 1;
        ++keyHits[e.code];
      }
      [[fallthrough]];
    case InputEventKind::KeyRepeat:
      // Backspace, Tab, Enter and Escape also arrive as typed characters,
      // repeating while held, as the name entry expects.
      if (e.code == KEY_BACKSPACE || e.code == KEY_TAB || e.code == KEY_ENTER ||
          e.code == KEY_ESCAPE)
        QueueChar(e.code);
      break;
    case InputEventKind::KeyUp:
      if (keyInRange) keyStates[e.code] = 0;
      break;
    case InputEventKind::Char:
      QueueChar(e.code & 0xFFFF);
      break;
    case InputEventKind::Close:
      appTerminate = 1;
      break;
    case InputEventKind::FocusLost:
      FlushKeys();
      appSuspended = 1;
      break;
    case InputEventKind::FocusGained:
      FlushKeys();
      appSuspended = 0;
      break;
  }
}

void InjectInputEvent(const InputEvent& e) { injected.push_back(e); }

void PollSystem() {
  if (polling) return;
  polling = true;
  // A supplier may end a replay by throwing; the next poll must still run.
  struct Done {
    ~Done() { polling = false; }
  } done;
  polled.clear();
  DeliverPending();
  if (pollSupplier) pollSupplier();
  if (pollObserver) pollObserver(polled.data(), static_cast<int>(polled.size()));
}

void PollLiveEvents() {
  if (polling || !pollSupplier) return;
  polling = true;
  struct Done {
    ~Done() { polling = false; }
  } done;
  DeliverPending();
}

void SetAppSuspended(int suspended) { appSuspended = suspended ? 1 : 0; }

void SetPollObserver(PollObserver observer) { pollObserver = observer; }

void SetPollSupplier(PollSupplier supplier, LiveEventSink live) {
  pollSupplier = supplier;
  liveSink = live;
}

int PolledKeyHits(int key) {
  if (key < 1 || key > 255) return 0;
  int n = keyHits[key];
  keyHits[key] = 0;
  return n;
}

void DeliverPadEvent(const InputEvent& e) { Deliver(e); }

void DeliverSystemEvent(const InputEvent& e) { Deliver(e); }

int KeyHits(int key) {
  if (autoPoll) PollSystem();
  if (key < 1 || key > 255) return 0;
  int n = keyHits[key];
  keyHits[key] = 0;
  return n;
}

int KeyIsDown(int key) {
  if (autoPoll) PollSystem();
  if (key < 1 || key > 255) return 0;
  return keyStates[key];
}

int NextTypedChar() {
  if (autoPoll) PollSystem();
  if (charGet == charPut) return 0;
  return charQueue[charGet++ % charQueue.size()];
}

int CloseRequested() {
  if (autoPoll) PollSystem();
  int r = appTerminate;
  appTerminate = 0;
  return r;
}

void FlushKeyState() {
  PollSystem();
  FlushKeys();
}

void SetInputTracking(bool on) {
  FlushKeys();
  tracking = on;
}

bool InputTracking() { return tracking; }

int AppSuspended() { return appSuspended; }

void SetLiveKeyWatcher(LiveKeyWatcher watcher) { keyWatcher = watcher; }

void SetTypingText(bool on) { typingText = on; }

bool TypingText() { return typingText; }
