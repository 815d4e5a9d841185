// One main for every test binary: program end becomes an exception, the
// clock is virtual, and only the gl and scenario binaries draw with real GL.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/clock.h"
#include "media/graphics.h"
#include "media/system.h"
#include "tests/support/harness.h"

const char* TestKind() {
#if defined(ZTEST_KIND_unit)
  return "unit";
#elif defined(ZTEST_KIND_gl)
  return "gl";
#elif defined(ZTEST_KIND_audio)
  return "audio";
#elif defined(ZTEST_KIND_scenario)
  return "scenario";
#else
  return "other";
#endif
}

namespace {
// Every test starts with a fresh watchdog budget (see harness.h): a whole
// game played and then verified from its replay takes under 30 000 steps; a
// stuck test without GL fails within seconds. Waits on scripted input name
// themselves with a tighter budget.
class WatchEveryTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    ArmWatchdog(std::string(test.test_suite_name()) + "." + test.name(), 100000);
  }
};
}  // namespace

int main(int argc, char** argv) {
#ifdef ZEPHRANT_SANITIZE
  // Mesa unloads its drivers before LeakSanitizer reports, leaving leaks
  // with unknown stacks that no suppression can name; keeping them loaded
  // lets the suppressions in tests/lsan.supp match.
  for (const char* lib :
       {"libGLX_mesa.so.0", "libEGL_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
    dlopen(lib, RTLD_NOW | RTLD_NODELETE);
#endif
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  setenv("ALSOFT_LOGLEVEL", "0", 0);
  std::string kind = TestKind();
  if (kind == "gl" || kind == "scenario") setenv("SDL_VIDEODRIVER", "offscreen", 0);
  UseHeadlessGraphics(kind != "gl");  // scenario tests switch to GL for the frames they save
  UseVirtualClock(1000);
  SetEndProgramHook([](int status) { throw ProgramEnded{status}; });
  // What the game keeps in the user's configuration folder (the online key
  // and name) goes to a scratch folder, never to the real one.
  std::string scratch = (std::filesystem::temp_directory_path() / "zephrant-test-XXXXXX").string();
  if (mkdtemp(scratch.data())) setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new WatchEveryTest);
  int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return status;
}
