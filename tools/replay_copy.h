// Copies of a recorded game, made the ways someone copying another
// player's game would (tools/replay_copy.cpp lists the kinds).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct CopyResult {
  bool made = false;
  std::vector<uint8_t> copy;  // a replay that verifies on its own
  std::string line;           // its verifier line, or why there is none
};

constexpr const char* USAGE =
    "usage: zephrant-replay-copy KIND IN.zrp OUT.zrp [ARG]\n"
    "KIND: extra-frame [N], split-reads [N], pause [N], focus [N], level-end-pause,\n"
    "      level-end-idle [FRAMES], late-esc [FRAMES], partial LEVEL, name NAME, row N, combo N";

// Copies `original` the way `kind` says (ARG as on the command line, or
// nullptr), on a headless display and a virtual clock as the verifier's.
CopyResult MakeReplayCopy(const std::string& kind, const char* arg,
                          const std::vector<uint8_t>& original);
