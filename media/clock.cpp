#include "media/clock.h"

#include <SDL.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {
bool virtualClock = false;
uint32_t virtualNow = 0;
const auto realStart = std::chrono::steady_clock::now();
std::function<void()> waitWatch;

uint32_t RealMillis() {
  auto d = std::chrono::steady_clock::now() - realStart;
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}
}  // namespace

int ElapsedMillis() {
  // The counter wraps as an unsigned 32-bit value; callers only take differences.
  return static_cast<int>(virtualClock ? virtualNow : RealMillis());
}

void DelayMillis(int ms) {
  if (ms <= 0) return;
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

void SetWaitWatch(std::function<void()> watch) { waitWatch = std::move(watch); }

void WaitWatch() {
  if (waitWatch) waitWatch();
}
