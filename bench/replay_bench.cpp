// Replays: what recording costs a play frame, how many bytes a minute of
// play takes, and how many frames a second the verifier runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "bench/bench_steer.h"
#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/random.h"
#include "media/stream.h"
#include "replay/replay.h"
#include "replay/verify.h"
#include "world/level.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {

double Now() {
  using namespace std::chrono;
  return duration<double, std::nano>(steady_clock::now().time_since_epoch()).count();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint64_t pollsSeen = 0;
void CountPoll(const InputEvent*, int) { ++pollsSeen; }

// Mean cost in ns of one headless play frame (logic, drawing, polls, clock).
double PlayFrames(int frames) {
  double t0 = Now();
  for (int i = 0; i < frames; ++i) {
    BenchSteer();
    SetHealth(MAX_HEALTH);
    PlayFrame();
    if (playState != PLAY_ON) playState = PLAY_ON;
    if (cellsLeft == 0)
      for (auto& col : levelGrid)
        for (int& v : col)
          if (v == CELL_TRAIL) v = CELL_LINE;
  }
  return (Now() - t0) / frames;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  std::string replayPath = argc > 1 ? argv[1] : SOURCE_DIR "/tests/replays/fast_chasers.zrp";
  UseVirtualClock(0);
  UseHeadlessGraphics(true);
  RegisterMediaFiles();
  SelectAudioDriver(u"Null");
  OpenGraphics(800, 600, 0, 50, 0);
  LoadMediaSet();
  SetPrintLineQuiet(true);

  // --- Recording cost ---
  NewGame();
  StartLevel();
  PlayFrames(200);  // warm up
  SetPollObserver(CountPoll);
  pollsSeen = 0;
  constexpr int FRAMES = 3000;
  PlayFrames(FRAMES);
  SetPollObserver(nullptr);
  double pollsPerFrame = double(pollsSeen) / FRAMES;
  double off = 0, on = 0;
  for (int round = 0; round < 5; ++round) {
    off += PlayFrames(FRAMES);
    BeginGameRecord();  // from here on the frames are recorded
    on += PlayFrames(FRAMES);
    EndGameRecord();
  }
  ReplayData d;
  std::string why;
  const std::vector<uint8_t>& rec = LastGameReplay();
  DecodeReplay(rec.data(), rec.size(), d, why);
  double readsPerFrame = double(d.clockSteps.size()) / d.frames;
  // The taps alone, by the call.
  constexpr int CALLS = 2000000;
  double t0 = Now();
  for (int i = 0; i < CALLS; ++i) PollSystem();
  double pollPlain = (Now() - t0) / CALLS;
  BeginGameRecord();
  t0 = Now();
  for (int i = 0; i < CALLS; ++i) PollSystem();
  double pollRecorded = (Now() - t0) / CALLS;
  t0 = Now();
  for (int i = 0; i < CALLS; ++i) GameClock();
  double clockRecorded = (Now() - t0) / CALLS;
  EndGameRecord();
  t0 = Now();
  for (int i = 0; i < CALLS; ++i) ElapsedMillis();
  double clockPlain = (Now() - t0) / CALLS;
  double tapsPerFrame =
      (pollRecorded - pollPlain) * pollsPerFrame + (clockRecorded - clockPlain) * readsPerFrame;
  std::printf("recording: %.1f polls and %.2f clock reads a play frame\n", pollsPerFrame,
              readsPerFrame);
  std::printf("  taps: poll %.1f -> %.1f ns, clock read %.1f -> %.1f ns: %.0f ns a frame\n",
              pollPlain, pollRecorded, clockPlain, clockRecorded, tapsPerFrame);
  std::printf("  headless play frame: %.2f us without recording, %.2f us with (%+.2f us)\n",
              off / 5 / 1000, on / 5 / 1000, (on - off) / 5 / 1000);
  std::printf("  (a frame lasts 20 000 us at 50 frames a second)\n");

  // --- Bytes per minute ---
  std::vector<uint8_t> bytes = ReadFile(replayPath);
  if (DecodeReplay(bytes.data(), bytes.size(), d, why) != ReplayParse::Ok) {
    std::printf("%s: %s\n", replayPath.c_str(), why.c_str());
    return 1;
  }
  double minutes = 0;
  for (uint32_t s : d.clockSteps) minutes += s;
  minutes /= 60000.0;
  std::printf("replay %s: %zu bytes, %u frames, %.2f minutes of game clock\n", replayPath.c_str(),
              bytes.size(), d.frames, minutes);
  std::printf("  %.0f bytes a minute with the test clock (every frame exactly 20 ms)\n",
              bytes.size() / minutes);
  // A real clock: frames land 19 to 22 ms apart and the scheduler may read twice.
  SeedRandom(12345);
  for (uint32_t& s : d.clockSteps)
    if (s >= 15) s = uint32_t(int(s) + RandomInt(-1, 2));
  std::vector<uint8_t> jittered = EncodeReplay(d);
  std::printf(
      "  %.0f bytes a minute with a jittering clock (-1 .. +2 ms a read); "
      "30 minutes: %.1f KiB\n",
      jittered.size() / minutes, jittered.size() / minutes * 30 / 1024);

  // --- Verification speed ---
  CloseGraphics();
  double best = 1e30;
  VerifyResult r;
  for (int i = 0; i < 5; ++i) {
    t0 = Now();
    r = VerifyReplayBytes(bytes.data(), bytes.size());
    best = std::min(best, Now() - t0);
  }
  std::printf("verify: %s\n  %.1f ms for %u frames: %.0f frames a second (best of 5, in process)\n",
              r.line.c_str(), best / 1e6, d.frames, d.frames / (best / 1e9));
  return r.status;
}
