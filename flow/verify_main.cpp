// zephrant-verify: checks a recorded game as `zephrant --verify` does, in a
// program built without display, sound or font libraries, for score servers.
// `zephrant-verify --verify FILE` is accepted too, so it can stand wherever
// the game was run as the verifier.
#include <cstdio>
#include <cstring>

#include "replay/verify.h"

namespace {
bool Is(const char* arg, const char* longName, const char* shortName) {
  return std::strcmp(arg, longName) == 0 || std::strcmp(arg, shortName) == 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && Is(argv[1], "--help", "-h")) {
    std::fputs(
        "Usage: zephrant-verify [--verify] FILE\n"
        "Replays the recorded game in FILE and prints its score, level, frame count\n"
        "and state hash, as `zephrant --verify FILE` does (exit status 0 valid,\n"
        "1 no readable FILE, 2 invalid, 3 other rules).\n",
        stdout);
    return 0;
  }
  if (argc == 2 && Is(argv[1], "--version", "-V")) {
    std::fputs("zephrant-verify (QUARV: Zephrant) 1.02\n", stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return RunVerifyCommand(argv[2]);
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs("usage: zephrant-verify [--verify] FILE\n", stdout);
    return VERIFY_USAGE;
  }
  return RunVerifyCommand(argv[1]);
}
