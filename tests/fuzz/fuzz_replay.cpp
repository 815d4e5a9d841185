// The replay reader and the verifier, which run on a public server: any
// bytes end in a clean verdict, never a crash or a hang, and what reads as
// a replay writes back as the same replay. Games of more than 300 frames
// are only read: fuzz_replay_game runs the game on hostile recordings.
#include "tests/fuzz/replay_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckReplayFile(std::vector<uint8_t>(data, data + size), 300);
  return 0;
}
