#include "media/clock.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

namespace {
bool virtualClock = false;
uint32_t virtualNow = 0;
std::function<void()> waitWatch;
bool shortWaitsSkipped = false;

// The system's own millisecond counter (time since boot), cut to 32 bits:
// it differs from run to run, which the random seed relies on.
uint32_t RealMillis() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u +
                               static_cast<uint64_t>(t.tv_nsec) / 1000000u);
}
}  // namespace

int ElapsedMillis() {
  // The counter wraps as an unsigned 32-bit value; callers only take differences.
  return static_cast<int>(virtualClock ? virtualNow : RealMillis());
}

void DelayMillis(int ms) {
  if (ms <= 0 || (ms == 1 && shortWaitsSkipped)) return;
  if (virtualClock) {
    virtualNow += static_cast<uint32_t>(ms);
    WaitWatch();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void UseVirtualClock(int startMs) {
  virtualClock = true;
  virtualNow = static_cast<uint32_t>(startMs);
}

void UseRealClock() { virtualClock = false; }

bool VirtualClockActive() { return virtualClock; }

void AdvanceVirtualClock(int ms) {
  if (ms > 0) virtualNow += static_cast<uint32_t>(ms);
  WaitWatch();
}

void SkipShortWaits(bool skip) { shortWaitsSkipped = skip; }

void SetWaitWatch(std::function<void()> watch) { waitWatch = std::move(watch); }

void WaitWatch() {
  if (waitWatch) waitWatch();
}
