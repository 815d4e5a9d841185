// SDL's window, keyboard and text events become the game's input events.
#include <SDL.h>

#include <array>
#include <cstdint>

#include "media/display_internal.h"
#include "media/input.h"
#include "media/platform.h"

namespace {

// Key codes for SDL scancodes; 0 where the game has no code.
constexpr std::array<unsigned char, SDL_NUM_SCANCODES> BuildScancodeMap() {
  std::array<unsigned char, SDL_NUM_SCANCODES> m{};
  for (int i = 0; i < 26; ++i) m[SDL_SCANCODE_A + i] = static_cast<unsigned char>(65 + i);
  for (int i = 0; i < 9; ++i) m[SDL_SCANCODE_1 + i] = static_cast<unsigned char>(49 + i);
  m[SDL_SCANCODE_0] = 48;
  for (int i = 0; i < 12; ++i) m[SDL_SCANCODE_F1 + i] = static_cast<unsigned char>(112 + i);
  m[SDL_SCANCODE_RETURN] = 13;
  m[SDL_SCANCODE_KP_ENTER] = 13;
  m[SDL_SCANCODE_ESCAPE] = 27;
  m[SDL_SCANCODE_BACKSPACE] = 8;
  m[SDL_SCANCODE_TAB] = 9;
  m[SDL_SCANCODE_SPACE] = 32;
  m[SDL_SCANCODE_LEFT] = 37;
  m[SDL_SCANCODE_UP] = 38;
  m[SDL_SCANCODE_RIGHT] = 39;
  m[SDL_SCANCODE_DOWN] = 40;
  m[SDL_SCANCODE_PAGEUP] = 33;
  m[SDL_SCANCODE_PAGEDOWN] = 34;
  m[SDL_SCANCODE_END] = 35;
  m[SDL_SCANCODE_HOME] = 36;
  m[SDL_SCANCODE_INSERT] = 45;
  m[SDL_SCANCODE_DELETE] = 46;
  m[SDL_SCANCODE_PAUSE] = 19;
  m[SDL_SCANCODE_CAPSLOCK] = 20;
  m[SDL_SCANCODE_PRINTSCREEN] = 44;
  m[SDL_SCANCODE_NUMLOCKCLEAR] = 144;
  m[SDL_SCANCODE_SCROLLLOCK] = 145;
  for (int i = 0; i < 9; ++i) m[SDL_SCANCODE_KP_1 + i] = static_cast<unsigned char>(97 + i);
  m[SDL_SCANCODE_KP_0] = 96;
  m[SDL_SCANCODE_KP_MULTIPLY] = 106;
  m[SDL_SCANCODE_KP_PLUS] = 107;
  m[SDL_SCANCODE_KP_MINUS] = 109;
  m[SDL_SCANCODE_KP_PERIOD] = 110;
  m[SDL_SCANCODE_KP_DIVIDE] = 111;
  m[SDL_SCANCODE_SEMICOLON] = 186;
  m[SDL_SCANCODE_EQUALS] = 187;
  m[SDL_SCANCODE_COMMA] = 188;
  m[SDL_SCANCODE_MINUS] = 189;
  m[SDL_SCANCODE_PERIOD] = 190;
  m[SDL_SCANCODE_SLASH] = 191;
  m[SDL_SCANCODE_GRAVE] = 192;
  m[SDL_SCANCODE_LEFTBRACKET] = 219;
  m[SDL_SCANCODE_BACKSLASH] = 220;
  m[SDL_SCANCODE_RIGHTBRACKET] = 221;
  m[SDL_SCANCODE_APOSTROPHE] = 222;
  m[SDL_SCANCODE_LSHIFT] = 160;
  m[SDL_SCANCODE_RSHIFT] = 161;
  m[SDL_SCANCODE_LCTRL] = 162;
  m[SDL_SCANCODE_RCTRL] = 163;
  m[SDL_SCANCODE_LALT] = 164;
  m[SDL_SCANCODE_RALT] = 165;
  return m;
}
constexpr auto scancodeMap = BuildScancodeMap();

// UTF-8 from SDL's text events to UTF-16 code units.
void QueueUtf8(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    uint32_t cp;
    int extra;
    if (*p < 0x80) { cp = *p; extra = 0; }
    else if ((*p & 0xE0) == 0xC0) { cp = *p & 0x1F; extra = 1; }
    else if ((*p & 0xF0) == 0xE0) { cp = *p & 0x0F; extra = 2; }
    else if ((*p & 0xF8) == 0xF0) { cp = *p & 0x07; extra = 3; }
    else { ++p; continue; }
    ++p;
    for (int i = 0; i < extra && (*p & 0xC0) == 0x80; ++i, ++p) cp = (cp << 6) | (*p & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      DeliverSystemEvent({InputEventKind::Char, static_cast<int>(0xD800 + (cp >> 10))});
      DeliverSystemEvent({InputEventKind::Char, static_cast<int>(0xDC00 + (cp & 0x3FF))});
    } else {
      DeliverSystemEvent({InputEventKind::Char, static_cast<int>(cp)});
    }
  }
}

}  // namespace

void DeliverWindowEvents() {
  if (!DisplayHasSDLWindow()) return;
  StartGamepads();
  SDL_Event ev;
  while (SDL_PollEvent(&ev)) {
    switch (ev.type) {
      case SDL_CONTROLLERDEVICEADDED:
      case SDL_CONTROLLERDEVICEREMOVED:
      case SDL_CONTROLLERBUTTONDOWN:
      case SDL_CONTROLLERBUTTONUP:
      case SDL_CONTROLLERAXISMOTION:
        HandleGamepadEvent(ev);
        break;
      case SDL_KEYDOWN:
        DeliverSystemEvent({ev.key.repeat ? InputEventKind::KeyRepeat : InputEventKind::KeyDown,
                          KeyCodeFromKeysym(ev.key.keysym.scancode, ev.key.keysym.sym)});
        break;
      case SDL_KEYUP:
        DeliverSystemEvent(
            {InputEventKind::KeyUp, KeyCodeFromKeysym(ev.key.keysym.scancode, ev.key.keysym.sym)});
        break;
      case SDL_TEXTINPUT:
        QueueUtf8(ev.text.text);
        break;
      case SDL_QUIT:
        DeliverSystemEvent({InputEventKind::Close, 0});
        break;
      case SDL_WINDOWEVENT:
        if (ev.window.event == SDL_WINDOWEVENT_CLOSE) {
          DeliverSystemEvent({InputEventKind::Close, 0});
        } else if (ev.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
          DeliverSystemEvent({InputEventKind::FocusLost, 0});
        } else if (ev.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
          DeliverSystemEvent({InputEventKind::FocusGained, 0});
        }
        DisplayHandleWindowEvent(ev.window);
        break;
      default:
        break;
    }
  }
}

int KeyCodeFromScancode(int scancode) {
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
  return scancodeMap[scancode];
}

int KeyCodeFromKeysym(int scancode, int sym) {
  // Letters follow the keyboard layout, so that Y, N, H and S are the keys
  // labelled so on a QWERTZ or AZERTY keyboard too; the rest go by position.
  if (sym >= 'a' && sym <= 'z') return sym - 'a' + KEY_A;
  return KeyCodeFromScancode(scancode);
}

void SetMouseVisible(bool visible) {
  if (DisplayHasSDLWindow()) SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}
