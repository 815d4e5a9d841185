// The game run from a replay whose payload is fuzzed: clock reads, input
// events, table answers and the starting state come straight from the
// input (packed into a file here), so the game itself meets hostile
// recordings. Each run covers the level build and the first seconds of play.
#include "tests/fuzz/replay_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReplayData header;
  header.frames = 300;
  CheckReplayFile(PackReplay(header, std::vector<uint8_t>(data, data + size)), 300);
  return 0;
}
