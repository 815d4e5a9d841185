// Test support shared by every test binary.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>

#include "media/input.h"
#include "media/text.h"

// Key events go through the same handler as SDL's.
void PressKey(int code);    // key down
void ReleaseKey(int code);  // key up
void TapKey(int code);      // down then up
void TypeText(const std::string& ascii);  // one Char event per byte

// A fresh working directory for tests that write files; returns its path.
std::string MakeTempDir(const std::string& tag);

// build/frames, where tests leave the frames they draw for people to look at.
std::string FramesDir();

// Kind of the running test binary: "unit", "gl", "audio" or "scenario".
const char* TestKind();

// Runs the whole program from start-up in the working directory `dir`,
// calling `perFrame` after every presented frame, until the program ends
// (its exit status) or `maxFrames` have passed (a test failure, then -1).
// Real GL is used when `withGL` is set; the headless renderer otherwise.
int RunWholeProgram(const std::string& dir, const std::function<void()>& perFrame,
                    int maxFrames, bool withGL = false);

// The watchdog of tests that wait on scripted input or the virtual clock:
// every presented frame and every move of the virtual clock is a step, and a
// test that takes more steps than its budget fails at once with what it was
// waiting for; the other tests of the binary still run. test_main arms it
// before every test; WaitingFor names a wait and gives it a budget of its own.
struct WatchdogExpired : std::runtime_error {
  using std::runtime_error::runtime_error;
};
void ArmWatchdog(const std::string& test, int budget);
// Called at every step of the watchdog, for a test that follows what happens
// between frames; test_main clears it before every test.
void SetStepObserver(std::function<void()> observer);
class WaitingFor {
 public:
  WaitingFor(const std::string& what, int budget);
  ~WaitingFor();

 private:
  std::string outerWhat_;
  int outerLeft_;
  long startStep_;
};
