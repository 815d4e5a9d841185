#include "tests/support/harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "flow/flow_state.h"
#include "media/graphics.h"
#include "media/system.h"

#include <cstdlib>
#include <filesystem>

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


namespace {
struct TooLong {};
}  // namespace

int RunWholeProgram(const std::string& dir, const std::function<void()>& perFrame,
                    int maxFrames, bool withGL) {
  EXPECT_EQ(chdir(dir.c_str()), 0);
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
  }
  SetFrameHook(nullptr);
  CloseGraphics();
  UseHeadlessGraphics(true);
  FlushKeyState();
  return status;
}
