// Gamepads through SDL's game controller interface, plugged in or out at
// any time. Their buttons and left stick press and release keys through
// the keyboard's own handler, so every screen (and every recording of the
// keys) sees a pad as keys: the d-pad and the stick hold the cursor keys, A
// and Start are SPACE (Start pauses while playing), B is ESC, X is H, Y is
// S, Back is F12, the right shoulder W and the left one ENTER. Each press
// also holds the pad's own key code, so a screen can tell a pad from the
// keyboard where it must (the name entry picks letters with the d-pad).
#include <SDL.h>

#include <array>
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "media/display_internal.h"
#include "media/input.h"

namespace {

struct PadKeys {
  int key = 0;  // the keyboard key the button stands for
  int own = 0;  // the pad's own code
};

constexpr std::array<PadKeys, SDL_CONTROLLER_BUTTON_MAX> BuildButtonKeys() {
  std::array<PadKeys, SDL_CONTROLLER_BUTTON_MAX> m{};
  m[SDL_CONTROLLER_BUTTON_A] = {KEY_SPACE, KEY_PAD_A};
  m[SDL_CONTROLLER_BUTTON_B] = {KEY_ESCAPE, KEY_PAD_B};
  m[SDL_CONTROLLER_BUTTON_X] = {KEY_H, KEY_PAD_X};
  m[SDL_CONTROLLER_BUTTON_Y] = {KEY_S, KEY_PAD_Y};
  m[SDL_CONTROLLER_BUTTON_START] = {KEY_SPACE, KEY_PAD_START};
  m[SDL_CONTROLLER_BUTTON_BACK] = {KEY_F12, KEY_PAD_BACK};
  // The board panel's replay keys: free everywhere else.
  m[SDL_CONTROLLER_BUTTON_RIGHTSHOULDER] = {KEY_W, KEY_PAD_RSHOULDER};
  m[SDL_CONTROLLER_BUTTON_LEFTSHOULDER] = {KEY_ENTER, KEY_PAD_LSHOULDER};
  m[SDL_CONTROLLER_BUTTON_DPAD_UP] = {KEY_UP, KEY_PAD_UP};
  m[SDL_CONTROLLER_BUTTON_DPAD_DOWN] = {KEY_DOWN, KEY_PAD_DOWN};
  m[SDL_CONTROLLER_BUTTON_DPAD_LEFT] = {KEY_LEFT, KEY_PAD_LEFT};
  m[SDL_CONTROLLER_BUTTON_DPAD_RIGHT] = {KEY_RIGHT, KEY_PAD_RIGHT};
  return m;
}
constexpr auto buttonKeys = BuildButtonKeys();

// A stick direction is taken past 16000 and let go below 12000 of 32767,
// so a stick resting near the edge does not flutter.
constexpr int STICK_PRESS = 16000, STICK_RELEASE = 12000;

struct Pad {
  SDL_GameController* controller = nullptr;
  std::bitset<SDL_CONTROLLER_BUTTON_MAX> buttons;
  int stickX = 0, stickY = 0;  // -1, 0 or 1
};

std::map<SDL_JoystickID, Pad> pads;
std::bitset<256> held;  // keys the pads hold between them
bool started = false;
bool startIsSpace = true;

int StickDirection(int value, int current) {
  if (value >= STICK_PRESS) return 1;
  if (value <= -STICK_PRESS) return -1;
  if (current != 0 && value * current >= STICK_RELEASE) return current;
  return 0;
}

// Presses what the pads hold now and did not before, releases the rest;
// a key held by two pads (or a button and the stick) stays down until both let go.
void Refresh() {
  std::bitset<256> want;
  for (const auto& [id, pad] : pads) {
    for (size_t b = 0; b < buttonKeys.size(); ++b)
      if (pad.buttons[b] && buttonKeys[b].key) {
        if (b != SDL_CONTROLLER_BUTTON_START || startIsSpace) want.set(buttonKeys[b].key);
        want.set(buttonKeys[b].own);
      }
    if (pad.stickX < 0) want.set(KEY_LEFT).set(KEY_STICK_LEFT);
    if (pad.stickX > 0) want.set(KEY_RIGHT).set(KEY_STICK_RIGHT);
    if (pad.stickY < 0) want.set(KEY_UP).set(KEY_STICK_UP);
    if (pad.stickY > 0) want.set(KEY_DOWN).set(KEY_STICK_DOWN);
  }
  for (int k = 1; k < 256; ++k)
    if (want[k] != held[k])
      DeliverPadEvent({want[k] ? InputEventKind::KeyDown : InputEventKind::KeyUp, k});
  held = want;
}

}  // namespace

void StartGamepads() {
  if (started) return;
  started = true;
  // Pads already plugged in arrive as device events like those plugged in later.
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0)
    std::printf("SDL gamepads unavailable: %s\r\n", SDL_GetError());
}

void HandleGamepadEvent(const SDL_Event& ev) {
  switch (ev.type) {
    case SDL_CONTROLLERDEVICEADDED: {
      SDL_GameController* c = SDL_GameControllerOpen(ev.cdevice.which);
      if (!c) return;
      SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
      if (pads.count(id)) {
        SDL_GameControllerClose(c);  // the open one holds its own reference
        return;
      }
      pads[id].controller = c;
      return;
    }
    case SDL_CONTROLLERDEVICEREMOVED: {
      auto it = pads.find(ev.cdevice.which);
      if (it == pads.end()) return;
      SDL_GameControllerClose(it->second.controller);
      pads.erase(it);
      break;
    }
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      auto it = pads.find(ev.cbutton.which);
      if (it == pads.end() || ev.cbutton.button >= SDL_CONTROLLER_BUTTON_MAX) return;
      it->second.buttons[ev.cbutton.button] = ev.type == SDL_CONTROLLERBUTTONDOWN;
      break;
    }
    case SDL_CONTROLLERAXISMOTION: {
      auto it = pads.find(ev.caxis.which);
      if (it == pads.end()) return;
      Pad& pad = it->second;
      if (ev.caxis.axis == SDL_CONTROLLER_AXIS_LEFTX)
        pad.stickX = StickDirection(ev.caxis.value, pad.stickX);
      else if (ev.caxis.axis == SDL_CONTROLLER_AXIS_LEFTY)
        pad.stickY = StickDirection(ev.caxis.value, pad.stickY);
      else
        return;
      break;
    }
    default: return;
  }
  Refresh();
}

int GamepadCount() { return static_cast<int>(pads.size()); }

// Takes effect at the pad's next event, inside a poll, so a recording sees
// every key change the pad makes.
void SetPadStartIsSpace(bool on) { startIsSpace = on; }
