#include "tests/support/harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/system.h"
#include "scores/game_over.h"
#include "scores/score_table.h"
#include "world/scoring.h"

void PressKey(int code) { InjectInputEvent({InputEventKind::KeyDown, code}); }
void ReleaseKey(int code) { InjectInputEvent({InputEventKind::KeyUp, code}); }
void TapKey(int code) {
  PressKey(code);
  ReleaseKey(code);
}
void TypeText(const std::string& ascii) {
  for (unsigned char c : ascii) InjectInputEvent({InputEventKind::Char, c});
}

std::string MakeTempDir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("zephrant-" + tag + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made ? std::string(made) : std::string();
}


std::string FramesDir() {
  std::error_code ec;
  auto exe = std::filesystem::canonical("/proc/self/exe", ec);
  auto dir = (ec ? std::filesystem::current_path() : exe.parent_path().parent_path()) / "frames";
  std::filesystem::create_directories(dir, ec);
  return dir.string();
}

namespace {
struct TooLong {};

struct Watchdog {
  std::string test, what;
  int left = 0;  // steps still allowed
  bool armed = false;
  long steps = 0;
} watchdog;

std::function<void()> stepObserver;

void WatchStep() {
  if (stepObserver) stepObserver();
  ++watchdog.steps;
  if (!watchdog.armed || --watchdog.left >= 0) return;
  watchdog.armed = false;  // fail once: the clean-up may still draw frames
  throw WatchdogExpired(watchdog.test + " is stuck: still waiting for " + watchdog.what);
}
}  // namespace

void SetStepObserver(std::function<void()> observer) { stepObserver = std::move(observer); }

void ArmWatchdog(const std::string& test, int budget) {
  SetWaitWatch(WatchStep);
  stepObserver = nullptr;
  watchdog = {test, "the test to end", budget, true, 0};
}

WaitingFor::WaitingFor(const std::string& what, int budget)
    : outerWhat_(watchdog.what), outerLeft_(watchdog.left), startStep_(watchdog.steps) {
  watchdog.what = what;
  watchdog.left = budget;
}

WaitingFor::~WaitingFor() {
  watchdog.what = outerWhat_;
  watchdog.left = std::max(0, outerLeft_ - static_cast<int>(watchdog.steps - startStep_));
}

int RunWholeProgram(const std::string& dir, const std::function<void()>& perFrame,
                    int maxFrames, bool withGL) {
  EXPECT_EQ(chdir(dir.c_str()), 0);
  // A frame takes up to three steps: its pacing, its tick wait and itself.
  WaitingFor wait("the scripted game to end the program", 3 * maxFrames + 100);
  // Each run starts as a fresh process would: the same clock, so the same
  // random seeds, and the values a game carries on to the next.
  UseVirtualClock(1000);
  combo = COMBO_MIN;
  playerName.clear();
  gotHighScore = false;
  UseHeadlessGraphics(!withGL);
  int frames = 0;
  SetFrameHook([&] {
    if (++frames > maxFrames) throw TooLong{};
    perFrame();
  });
  int status = -1;
  try {
    StartUp();
    RunScreenLoop();
  } catch (const ProgramEnded& e) {
    status = e.status;
  } catch (const TooLong&) {
    ADD_FAILURE() << "the game ran for more than " << maxFrames << " frames";
  } catch (const WatchdogExpired& e) {
    ADD_FAILURE() << e.what();
  }
  SetFrameHook(nullptr);
  CloseGraphics();
  UseHeadlessGraphics(true);
  FlushKeyState();
  return status;
}
