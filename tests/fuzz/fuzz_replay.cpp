// The replay reader and the verifier, which run on a public server: any
// bytes end in a clean verdict, never a crash or a hang. Inputs that start
// with the replay magic are taken as files; others as a payload, packed
// into a file here so that the game itself runs on fuzzed clock reads,
// events and table answers.
#include <cstring>
#include <string>

#include "media/clock.h"
#include "media/graphics.h"
#include "replay/replay_file.h"
#include "replay/verify.h"
#include "tests/fuzz/fuzz_util.h"

namespace {

// A file around a fuzzed payload: the level build and the first seconds of
// play, so each run stays quick.
std::vector<uint8_t> FileAround(const uint8_t* data, size_t size) {
  ReplayData header;
  header.frames = 300;
  return PackReplay(header, std::vector<uint8_t>(data, data + size));
}

bool SameData(const ReplayData& a, const ReplayData& b) {
  auto sameEvents = [&] {
    if (a.events.size() != b.events.size()) return false;
    for (size_t i = 0; i < a.events.size(); ++i)
      if (a.events[i].poll != b.events[i].poll ||
          a.events[i].event.kind != b.events[i].event.kind ||
          a.events[i].event.code != b.events[i].event.code)
        return false;
    return true;
  };
  return a.score == b.score && a.levelLabel == b.levelLabel && a.frames == b.frames &&
         a.stateHash == b.stateHash && a.randomState == b.randomState && a.combo == b.combo &&
         a.playerName == b.playerName && a.clockSteps == b.clockSteps &&
         a.tableAnswers == b.tableAnswers && sameEvents();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    UseHeadlessGraphics(true);
    UseVirtualClock(0);
    return true;
  }();
  (void)ready;
  std::vector<uint8_t> file;
  if (size >= 4 && std::memcmp(data, REPLAY_MAGIC, 4) == 0) {
    file.assign(data, data + size);
  } else {
    file = FileAround(data, size);
  }

  // What decodes encodes back to the same replay.
  ReplayData d;
  std::string why;
  ReplayParse parsed = DecodeReplay(file.data(), file.size(), d, why);
  if (parsed == ReplayParse::Ok) {
    std::vector<uint8_t> again = EncodeReplay(d);
    ReplayData d2;
    FUZZ_CHECK(DecodeReplay(again.data(), again.size(), d2, why) == ReplayParse::Ok);
    FUZZ_CHECK(SameData(d, d2));
  } else {
    FUZZ_CHECK(!why.empty());
  }
  // Long games are verified by the regression tests; here they would only
  // slow the search down.
  if (parsed == ReplayParse::Ok && d.frames > 2000) return 0;

  VerifyResult r = VerifyReplayBytes(file.data(), file.size());
  FUZZ_CHECK(r.status == VERIFY_VALID || r.status == VERIFY_INVALID ||
             r.status == VERIFY_OTHER_RULES);
  FUZZ_CHECK(!r.line.empty() && r.line.find('\n') == std::string::npos);
  FUZZ_CHECK((r.status == VERIFY_VALID) == (r.line.rfind("score=", 0) == 0));
  FUZZ_CHECK(parsed == ReplayParse::Ok || r.status != VERIFY_VALID);
  return 0;
}
