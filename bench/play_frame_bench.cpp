// The cost of one play frame in the game's own code: a logic tick and the
// whole drawing of the scene (level tiles, ship, two chasers, particles,
// light map, grid glow, status panel), first with the headless renderer,
// then with real GL (Mesa, offscreen). Prints median and 99th percentile.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_steer.h"
#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/random.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {
double Now() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// CPU time of the whole process, the renderer's threads included: on a busy
// machine the figure to trust.
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
double cpuSpent = 0;

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * v.size()))];
}

// Level 7: layout 1 with two slow chasers.
void StartBenchLevel() {
  level = 7;
  int layout = 1;
  LevelSettings(level, levelLabel, layout, chaserCount, chaserSpeed, tickRate);
  SelectLayout(layout);
  delete player;
  player = new TPlayer;
  SetScore(0);
  SetHealth(MAX_HEALTH);
  ClearParticles();
  ClearLevelGrid();
  BlankLightImage();
  BuildLevel();
  playState = PLAY_ON;
  tickMs = 1000 / tickRate;
  lastTick = 0;
  BenchLetGo();
}

std::vector<double> MeasureFrames(int frames) {
  std::vector<double> cost;
  for (int i = 0; i < frames; i++) {
    BenchSteer();
    SetHealth(MAX_HEALTH);  // the chasers may not end the run
    double t0 = Now(), c0 = CpuNow();
    RunTick();
    DrawPlayScene();
    Flip(0);
    Cls();
    cost.push_back(Now() - t0);
    cpuSpent += CpuNow() - c0;
    if (cellsLeft == 0) {  // painted out: paint it all anew
      for (auto& col : levelGrid)
        for (int& v : col)
          if (v == CELL_TRAIL) v = CELL_LINE;
    }
  }
  return cost;
}

// GL may finish a frame's rendering during a later one, so the mean is
// reported beside the median.
void Report(const char* what, const std::vector<double>& cost) {
  double sum = 0;
  for (double c : cost) sum += c;
  std::printf("%-24s median %7.3f ms  mean %7.3f ms  p99 %7.3f ms  max %7.3f ms  (%zu frames)\n",
              what, Percentile(cost, 0.5), sum / cost.size(), Percentile(cost, 0.99),
              Percentile(cost, 1.0), cost.size());
  std::printf("%-24s CPU time per frame %7.3f ms\n", "", cpuSpent / cost.size());
}
}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 2000;
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("ALSOFT_LOGLEVEL", "0", 0);
  RegisterMediaFiles();
  SelectAudioDriver(u"Null");
  SeedRandom(1);

  UseHeadlessGraphics(true);
  OpenGraphics(800, 600, 0, 0, 0);
  LoadMediaSet();
  StartBenchLevel();
  MeasureFrames(100);  // warm up
  Report("headless renderer:", MeasureFrames(frames));
  std::printf("  particles alive at the end: %d, score %d\n", ParticleCount(), ReadScore());
  CloseGraphics();

  UseHeadlessGraphics(false);
  if (!OpenGraphics(800, 600, 0, 0, 0)) {
    std::printf("GL display could not be opened\n");
    return 1;
  }
  SetBlend(BLEND_ALPHA);
  SetCurrentFont(smallFont);
  StartBenchLevel();
  MeasureFrames(50);
  Report("Mesa GL (offscreen):", MeasureFrames(std::max(200, frames / 4)));
  std::printf("  particles alive at the end: %d, score %d\n", ParticleCount(), ReadScore());
  CloseGraphics();
  return 0;
}
