// What the costliest replays cost the verifier: replays small enough for any
// upload limit that keep the game running as long as the rules let them,
// written to files and verified in this process. Prints the CPU seconds each
// takes and the verdict; the costliest should stay within 2 s.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/stream.h"
#include "replay/replay_file.h"
#include "replay/verify.h"

namespace {

struct Hostile {
  const char* name;
  uint32_t stepMs;  // every clock read
  int tableRow;     // the row the score takes: the name entry then waits for ever
};

std::vector<uint8_t> Make(const Hostile& h) {
  ReplayData d;
  d.frames = REPLAY_MAX_FRAMES;
  d.randomState = 12345;
  d.clockSteps.assign(REPLAY_MAX_FRAMES + 1000, h.stepMs);
  d.tableAnswers = {uint8_t(h.tableRow)};
  return EncodeReplay(d);
}

// A real game that completes level 1, with the SPACE that leaves its
// level-complete screen and everything after it taken out: the screen
// waits as long as the rules let it.
std::vector<uint8_t> LevelEndCamp() {
  std::ifstream in(SOURCE_DIR "/tests/replays/bot_level1.zrp", std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  ReplayData d;
  std::string why;
  if (DecodeReplay(file.data(), file.size(), d, why) != ReplayParse::Ok) return {};
  size_t space = d.events.size();
  while (space > 0 && !(d.events[space - 1].event.kind == InputEventKind::KeyDown &&
                        d.events[space - 1].event.code == KEY_SPACE))
    --space;
  if (space > 0) d.events.resize(space - 1);
  d.frames = REPLAY_MAX_FRAMES;
  d.clockSteps.resize(REPLAY_MAX_FRAMES, 80);
  d.tableAnswers = {0};
  return EncodeReplay(d);
}

}  // namespace

int main(int argc, char** argv) {
  UseHeadlessGraphics(true);
  UseVirtualClock(0);
  SetPrintLineQuiet(true);
  const Hostile games[] = {
      {"idle, 5 ticks a frame, name entry", 80, 0},
      {"idle, 1 tick a frame, name entry", 17, 0},
      {"idle, 5 ticks a frame, no row", 80, 25},
      {"level 1 won, its end kept waiting", 0, 0},
  };
  double worst = 0;
  for (const Hostile& h : games) {
    std::vector<uint8_t> bytes = h.stepMs ? Make(h) : LevelEndCamp();
    if (argc > 1) {
      std::string path = std::string(argv[1]) + "/" + std::to_string(&h - games) + ".zrp";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    std::clock_t t0 = std::clock();
    VerifyResult r = VerifyReplayBytes(bytes.data(), bytes.size());
    double cpu = double(std::clock() - t0) / CLOCKS_PER_SEC;
    worst = std::max(worst, cpu);
    std::printf("%-36s %6zu bytes  %6.2f s CPU  %s\n", h.name, bytes.size(), cpu, r.line.c_str());
  }
  std::printf("costliest: %.2f s CPU (goal: at most 2 s)\n", worst);
  return 0;
}
