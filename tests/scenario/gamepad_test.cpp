// A game with a gamepad alone, SDL's virtual one: plugged in while the game
// runs, A starts a game, the d-pad steers to a high score and into a chaser, the name is
// picked letter by letter, A leaves the game-over screen and B quits.
#include <SDL.h>
#include <gtest/gtest.h>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "scores/game_over.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "world/scoring.h"

namespace {

// Changes reach the game at its next event poll, so each frame applies what
// the test asked for in the previous one: a tap is a press, then a release.
struct VirtualPad {
  SDL_Joystick* joystick = nullptr;
  std::vector<int> tapped;
  void Plug() {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                          SDL_CONTROLLER_BUTTON_MAX, 0);
    joystick = SDL_JoystickOpen(index);
  }
  void Unplug() {
    SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
    SDL_JoystickClose(joystick);
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  }
  void Set(int button, bool down) { SDL_JoystickSetVirtualButton(joystick, button, down); }
  void Tap(int button) {
    Set(button, true);
    tapped.push_back(button);
  }
  void NextFrame() {
    for (int b : tapped) Set(b, false);
    tapped.clear();
  }
  static int ButtonOf(int key) {
    return key == KEY_LEFT    ? SDL_CONTROLLER_BUTTON_DPAD_LEFT
           : key == KEY_RIGHT ? SDL_CONTROLLER_BUTTON_DPAD_RIGHT
           : key == KEY_UP    ? SDL_CONTROLLER_BUTTON_DPAD_UP
                              : SDL_CONTROLLER_BUTTON_DPAD_DOWN;
  }
};

}  // namespace

TEST(GamepadScenario, AGameFromTitleToNameEntryAndOutWithAPadAlone) {
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");  // the test window has no focus
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0);
  VirtualPad pad;
  TGridBot bot;
  bot.press = [&](int key) { pad.Set(VirtualPad::ButtonOf(key), true); };
  bot.release = [&](int key) { pad.Set(VirtualPad::ButtonOf(key), false); };
  playerName.clear();
  // Up three times from nothing is C; right adds A, the stick pushed up
  // makes it B; right then left leave it; a keyboard cursor key does nothing.
  const std::vector<std::function<void()>> entry = {
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_UP); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_UP); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_UP); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT); },
      [&] { SDL_JoystickSetVirtualAxis(pad.joystick, SDL_CONTROLLER_AXIS_LEFTY, -30000); },
      [&] { SDL_JoystickSetVirtualAxis(pad.joystick, SDL_CONTROLLER_AXIS_LEFTY, 0); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_RIGHT); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_DPAD_LEFT); },
      [&] { TapKey(KEY_UP); },
      [&] { pad.Tap(SDL_CONTROLLER_BUTTON_A); }};
  enum { PLUG, TITLE, PLAY, ENTRY, OVER, QUIT } phase = PLUG;
  size_t step = 0, entryFrames = 0;
  int status = RunWholeProgram(
      MakeTempDir("gamepad"),
      [&] {
        pad.NextFrame();
        switch (phase) {
          case PLUG:
            pad.Plug();
            phase = TITLE;
            break;
          case TITLE:
            if (GamepadCount() == 1 && titleTime == 40) pad.Tap(SDL_CONTROLLER_BUTTON_A);
            if (player && chaser1 && playState == PLAY_ON && maxBonus > 0) phase = PLAY;
            break;
          case PLAY:
            if (playState == PLAY_ON) ReadScore() < 150 ? bot.PaintStep(0) : bot.ChaseStep();
            if (gotHighScore && playState > 150) phase = ENTRY;
            break;
          case ENTRY:
            if (step < entry.size()) {
              if (entryFrames++ % 2 == 0) entry[step++]();  // a frame between taps lets go
            } else if (playState > 205) {
              pad.Tap(SDL_CONTROLLER_BUTTON_A);
              phase = OVER;
            }
            break;
          case OVER:
            if (titleTime > 0 && titleTime < 40) {
              pad.Tap(SDL_CONTROLLER_BUTTON_B);
              phase = QUIT;
            }
            break;
          default: break;
        }
      },
      60000, true);
  pad.Unplug();
  SDL_PumpEvents();
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, QUIT);
  EXPECT_EQ(playerName, u"CB");
  gotHighScore = false;  // as a new game starts it, for the tests after this one
}
