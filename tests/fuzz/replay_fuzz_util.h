// Shared by the replay harnesses: the rules every verdict keeps.
#pragma once
#include <string>
#include <vector>

#include "media/clock.h"
#include "media/graphics.h"
#include "replay/replay.h"
#include "replay/replay_file.h"
#include "replay/verify.h"
#include "tests/fuzz/fuzz_util.h"

inline bool SameReplay(const ReplayData& a, const ReplayData& b) {
  if (a.events.size() != b.events.size()) return false;
  for (size_t i = 0; i < a.events.size(); ++i)
    if (a.events[i].poll != b.events[i].poll || a.events[i].event.kind != b.events[i].event.kind ||
        a.events[i].event.code != b.events[i].event.code)
      return false;
  return a.score == b.score && a.levelLabel == b.levelLabel && a.frames == b.frames &&
         a.stateHash == b.stateHash && a.randomState == b.randomState && a.combo == b.combo &&
         a.playerName == b.playerName && a.clockSteps == b.clockSteps &&
         a.tableAnswers == b.tableAnswers;
}

// Decodes and verifies `file`; games longer than maxFrames are only decoded
// (the regression replays verify long games; here they would slow the search).
inline void CheckReplayFile(const std::vector<uint8_t>& file, uint32_t maxFrames) {
  static bool ready = [] {
    UseHeadlessGraphics(true);
    UseVirtualClock(0);
    return true;
  }();
  (void)ready;
  ReplayData d;
  std::string why;
  ReplayParse parsed = DecodeReplay(file.data(), file.size(), d, why);
  if (parsed == ReplayParse::Ok) {
    std::vector<uint8_t> again = EncodeReplay(d);
    ReplayData d2;
    FUZZ_CHECK(DecodeReplay(again.data(), again.size(), d2, why) == ReplayParse::Ok);
    FUZZ_CHECK(SameReplay(d, d2));
    if (d.frames > maxFrames) return;
  } else {
    FUZZ_CHECK(!why.empty());
  }
  VerifyResult r = VerifyReplayBytes(file.data(), file.size());
  FUZZ_CHECK(r.status == VERIFY_VALID || r.status == VERIFY_INVALID ||
             r.status == VERIFY_OTHER_RULES);
  FUZZ_CHECK(!r.line.empty() && r.line.find('\n') == std::string::npos);
  FUZZ_CHECK((r.status == VERIFY_VALID) == (r.line.rfind("score=", 0) == 0));
  // The play digests stay few, however many levels the game runs through.
  FUZZ_CHECK(PlayDigests().size() <= PLAY_MAX_DIGESTS);
  FUZZ_CHECK(r.status != VERIFY_VALID || r.line.find(" plays=") != std::string::npos);
  FUZZ_CHECK(parsed == ReplayParse::Ok || r.status != VERIFY_VALID);
}
