// Polled keyboard input: window events become counters and flags that the
// game queries once per frame. Key codes are the Windows virtual-key values.
#pragma once

// --- Key codes the game and its tests use ---
constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_TAB = 9;
constexpr int KEY_ENTER = 13;
constexpr int KEY_ESCAPE = 27;
constexpr int KEY_SPACE = 32;
constexpr int KEY_LEFT = 37;
constexpr int KEY_UP = 38;
constexpr int KEY_RIGHT = 39;
constexpr int KEY_DOWN = 40;
constexpr int KEY_0 = 48;         // digits 48..57
constexpr int KEY_1 = 49;
constexpr int KEY_A = 65;         // letters 65..90, upper-case code whatever the shift state
constexpr int KEY_F = 70;
constexpr int KEY_H = 72;
constexpr int KEY_M = 77;
constexpr int KEY_N = 78;
constexpr int KEY_P = 80;
constexpr int KEY_R = 82;
constexpr int KEY_S = 83;
constexpr int KEY_W = 87;
constexpr int KEY_Y = 89;
constexpr int KEY_F1 = 112;       // F1..F12 are 112..123
constexpr int KEY_F12 = 123;
constexpr int KEY_LSHIFT = 160, KEY_RSHIFT = 161;
constexpr int KEY_LCONTROL = 162, KEY_RCONTROL = 163;
constexpr int KEY_LALT = 164, KEY_RALT = 165;

// --- Gamepads (media/gamepad.cpp) ---
// A pad's buttons and left stick press the keys they stand for (d-pad and
// stick: cursor keys; A and Start: SPACE; B: ESC; X: H; Y: S; Back: F12;
// the right shoulder: W; the left shoulder: ENTER) and
// at the same time their own codes, the Windows gamepad virtual-key values.
constexpr int KEY_PAD_A = 195, KEY_PAD_B = 196, KEY_PAD_X = 197, KEY_PAD_Y = 198;
constexpr int KEY_PAD_RSHOULDER = 199, KEY_PAD_LSHOULDER = 200;
constexpr int KEY_PAD_UP = 203, KEY_PAD_DOWN = 204, KEY_PAD_LEFT = 205, KEY_PAD_RIGHT = 206;
constexpr int KEY_PAD_START = 207, KEY_PAD_BACK = 208;
constexpr int KEY_STICK_UP = 211, KEY_STICK_DOWN = 212, KEY_STICK_RIGHT = 213, KEY_STICK_LEFT = 214;
int GamepadCount();  // pads plugged in and opened
// Off while playing: Start then presses only its own code (it pauses),
// not SPACE (which would open a gap). On everywhere else.
void SetPadStartIsSpace(bool on);
// KeyHits without polling first: what the last poll left. For reading a
// pad's own codes beside the keys the same poll brought, so the keyboard's
// path polls exactly as often as without a pad.
int PolledKeyHits(int key);

// --- Queries (each first runs PollSystem while autoPoll is set) ---
int KeyHits(int key);       // presses since the last query of this key; resets the count
int KeyIsDown(int key);     // 1 while held
int NextTypedChar();        // oldest typed code unit, 0 when none waiting
int CloseRequested();       // the window's close request, then cleared
void FlushKeyState();       // delivers pending events, then forgets keys, hits and characters
void PollSystem();          // delivers pending window events; a nested call returns at once
void SetMouseVisible(bool visible);
extern int autoPoll;        // 1 at start

// --- Window events: SDL's and the tests' reach the same handler ---
enum class InputEventKind { KeyDown, KeyRepeat, KeyUp, Char, FocusLost, FocusGained, Close };
struct InputEvent {
  InputEventKind kind;
  int code = 0;             // key code, or the typed code unit
};

// --- Keys that act on every screen ---
// The watcher sees each key press and typed character the window brings,
// whether the game or a replay's live sink gets them, except while a
// screen takes typed text (then every letter and '-' is a character).
using LiveKeyWatcher = void (*)(const InputEvent& e);
void SetLiveKeyWatcher(LiveKeyWatcher watcher);  // nullptr: none
void SetTypingText(bool on);                     // on while the name entry runs
bool TypingText();

// --- Delivery ---
void HandleInputEvent(const InputEvent& e);  // applies one event to the polled state
void InjectInputEvent(const InputEvent& e);  // queued; delivered by the next PollSystem
void SetInputTracking(bool on);              // on while a display is open; both ways flush
bool InputTracking();
int AppSuspended();                          // 1 while another application is active

// Maps an SDL scancode to a key code (0 when the game has no code for it);
// with the key symbol, letters follow the keyboard layout.
int KeyCodeFromScancode(int scancode);
int KeyCodeFromKeysym(int scancode, int sym);

// --- Taps for recording and replaying games ---
// The observer sees, after every PollSystem, the events that poll handed to
// the game (only those the polled state takes in, possibly none).
using PollObserver = void (*)(const InputEvent* events, int count);
void SetPollObserver(PollObserver observer);  // nullptr: none
// While a supplier is set, PollSystem calls it instead of delivering the
// window's and the injected events; it hands its own to HandleInputEvent.
// The window's and the injected events go to `live` meanwhile.
using PollSupplier = void (*)();
using LiveEventSink = void (*)(const InputEvent& e);
void SetPollSupplier(PollSupplier supplier, LiveEventSink live);  // nullptrs: none
// While a supplier is set: hands the window's and the injected events to
// the live sink at once, without a poll of the game (the supplier and the
// observer are not called). Lets a replay that is watched answer the
// viewer while the recording keeps the game from polling. Otherwise nothing.
void PollLiveEvents();
// Puts back whether another application is active, as the window last said:
// a replay's own focus changes move it while the replay plays.
void SetAppSuspended(int suspended);
