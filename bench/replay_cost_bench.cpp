// What the costliest replays cost the verifier: replays small enough for any
// upload limit that keep the game running as long as the rules let them,
// written to files and verified in this process. Prints the CPU seconds each
// takes, the microseconds per frame it runs and the verdict, beside the
// same figures for the regression replays (real play). The costliest should
// stay within 1 s, and none should cost more per frame than real play.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/stream.h"
#include "replay/replay_file.h"
#include "replay/verify.h"
#include "world/particles.h"

namespace {

ReplayData Idle(uint32_t stepMs, int tableRow) {
  ReplayData d;
  d.frames = REPLAY_MAX_FRAMES;
  d.randomState = 12345;
  d.clockSteps.assign(REPLAY_MAX_FRAMES + 1000, stepMs);
  d.tableAnswers = {uint8_t(tableRow)};
  return d;
}

ReplayData Recorded(const char* name) {
  std::ifstream in(std::string(SOURCE_DIR "/tests/replays/") + name, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  ReplayData d;
  std::string why;
  DecodeReplay(file.data(), file.size(), d, why);
  return d;
}

// A real game that completes level 1, with the SPACE that leaves its
// level-complete screen and everything after it taken out: the screen
// waits as long as the rules let it.
ReplayData LevelEndCamp() {
  ReplayData d = Recorded("bot_level1.zrp");
  size_t space = d.events.size();
  while (space > 0 && !(d.events[space - 1].event.kind == InputEventKind::KeyDown &&
                        d.events[space - 1].event.code == KEY_SPACE))
    --space;
  if (space > 0) d.events.resize(space - 1);
  d.frames = REPLAY_MAX_FRAMES;
  d.clockSteps.resize(REPLAY_MAX_FRAMES, 80);
  d.tableAnswers = {0};
  return d;
}

// Counts the polls of a verification from its first frame on, so that an
// event can be pinned to the frame where the most particles fly.
uint64_t probePolls = 0;
void CountPoll(const InputEvent*, int) { ++probePolls; }

// An idle game at 5 ticks a frame is lost; at the game over's busiest frame
// before the score is offered, the focus is lost and never comes back: the
// game stands paused until the frame count runs out.
ReplayData PausedGameOver() {
  ReplayData d = Idle(80, REPLAY_NO_ENTRY);
  d.frames = 20000;
  uint64_t busiestPoll = 0;
  int most = -1;
  SetFrameHook([&] {
    SetPollObserver(CountPoll);  // the playback clears it at New game
    if (playState > 0 && playState < 150 && ParticleCount() > most) {
      most = ParticleCount();
      busiestPoll = probePolls;
    }
  });
  std::vector<uint8_t> probe = EncodeReplay(d);
  probePolls = 0;
  VerifyReplayBytes(probe.data(), probe.size());
  SetFrameHook(nullptr);
  SetPollObserver(nullptr);
  d.frames = REPLAY_MAX_FRAMES;
  d.clockSteps.resize(20000);
  d.events = {{busiestPoll, {InputEventKind::FocusLost, 0}}};
  return d;
}

// A real game with a run of zero clock reads after its first, which moves
// nothing the game does: 16.5 MB of zeros pack into some 16 KB.
ReplayData ZeroPadded() {
  ReplayData d = Recorded("game_over.zrp");
  d.clockSteps.insert(d.clockSteps.begin() + 1, 16500000, 0);
  return d;
}

// The same game on a machine four times slower: a frame runs 4 to 5 ticks.
ReplayData SlowMachine() {
  ReplayData d = Recorded("game_over.zrp");
  for (uint32_t& step : d.clockSteps) step *= 4;
  return d;
}

struct Case {
  const char* name;
  ReplayData (*make)();
};

}  // namespace

int main(int argc, char** argv) {
  UseHeadlessGraphics(true);
  UseVirtualClock(0);
  SetPrintLineQuiet(true);
  const Case games[] = {
      {"idle, 5 ticks a frame, name entry", [] { return Idle(80, 0); }},
      {"idle, 1 tick a frame, name entry", [] { return Idle(17, 0); }},
      {"idle, 5 ticks a frame, no row", [] { return Idle(80, REPLAY_NO_ENTRY); }},
      {"level 1 won, its end kept waiting", LevelEndCamp},
      {"paused at a busy game over", PausedGameOver},
      {"a real game, 16.5M zero reads", ZeroPadded},
      {"real play: bot_level1", [] { return Recorded("bot_level1.zrp"); }},
      {"real play: game_over", [] { return Recorded("game_over.zrp"); }},
      {"real play: fast_chasers", [] { return Recorded("fast_chasers.zrp"); }},
      {"real play: game_over at 12 frames/s", SlowMachine},
  };
  double worst = 0, worstPerFrame = 0, realPerFrame = 0;
  for (const Case& c : games) {
    ReplayData d = c.make();
    std::vector<uint8_t> bytes = EncodeReplay(d);
    if (argc > 1) {
      std::string path = std::string(argv[1]) + "/" + std::to_string(&c - games) + ".zrp";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    int framesBefore = FramesFlipped();
    std::clock_t t0 = std::clock();
    VerifyResult r = VerifyReplayBytes(bytes.data(), bytes.size());
    double cpu = double(std::clock() - t0) / CLOCKS_PER_SEC;
    // A replay refused after n frames costs the same when it claims only
    // those n, so the cost is counted per frame run.
    int run = FramesFlipped() - framesBefore;  // none when refused before it starts
    double perFrame = run > 0 ? 1e6 * cpu / run : 0;
    bool real = std::string(c.name).rfind("real play", 0) == 0;
    double& most = real ? realPerFrame : worstPerFrame;
    most = std::max(most, perFrame);
    if (!real) worst = std::max(worst, cpu);
    std::printf("%-36s %6zu bytes %8d frames %5.2f s CPU %6.2f us/frame  %s\n", c.name,
                bytes.size(), run, cpu, perFrame, r.line.c_str());
  }
  std::printf("costliest: %.2f s CPU (goal: at most 1 s)\n", worst);
  std::printf("per frame: at most %.2f us built, %.2f us in real play\n", worstPerFrame,
              realPerFrame);
  return 0;
}
