// The millisecond clock and sleep. Tests may switch to a virtual clock that
// only moves when DelayMillis or AdvanceVirtualClock asks it to.
#pragma once

#include <functional>

int ElapsedMillis();        // wrapping 32-bit millisecond counter; only differences matter
void DelayMillis(int ms);   // sleeps; negative values return at once
// While set, DelayMillis(1) returns at once: a replay watched faster than
// recorded keeps its own pace, and the game's shortest waits would only
// slow it down.
void SkipShortWaits(bool skip);

// --- Test seam: a clock driven by the test ---
void UseVirtualClock(int startMs);   // from now on ElapsedMillis reads virtual time
void UseRealClock();
bool VirtualClockActive();
void AdvanceVirtualClock(int ms);    // DelayMillis(ms) does the same on the virtual clock

// Test seam: called at every presented frame and every move of the virtual
// clock, so a test can end a wait that would never end.
void SetWaitWatch(std::function<void()> watch);
void WaitWatch();
