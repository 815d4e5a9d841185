// The soak: the whole game flow on the virtual clock with random input
// (keys held and tapped, focus lost and regained, full screen switched,
// games started and abandoned, names typed) for hours of game time, with
// the headless renderer and OpenAL rendering into memory. Every game hour
// it prints its figures; it fails when memory, sources, textures or
// particles keep growing after the first hour.
//   soak HOURS [SEED]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/audio_test_seam.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/system.h"
#include "world/particles.h"

namespace {

struct Figures {
  double hours;
  long frames, rssKiB;
  int sources, textures, particles, games;
};

long RssKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class Player {
 public:
  explicit Player(unsigned seed) : rng_(seed) {}
  int games = 0;  // started from the title

  // One frame's input. ESC only where it leaves a game, never on the title
  // (which would end the program); S never (it would reach a real server).
  void Frame(bool onTitle) {
    int roll = Roll(1000);
    if (held_ && Roll(12) == 0) {
      InjectInputEvent({InputEventKind::KeyUp, held_});
      held_ = 0;
    }
    if (!held_ && roll < 120) {
      const int arrows[] = {KEY_LEFT, KEY_UP, KEY_RIGHT, KEY_DOWN};
      held_ = arrows[Roll(4)];
      InjectInputEvent({InputEventKind::KeyDown, held_});
    } else if (roll < 180) {
      Tap(KEY_SPACE);
    } else if (roll < 200) {
      for (int n = Roll(6); n > 0; --n)
        InjectInputEvent({InputEventKind::Char, 32 + Roll(95)});  // a name being typed
    } else if (roll < 203) {
      Tap(Roll(2) ? KEY_ENTER : KEY_BACKSPACE);
    } else if (roll < 205) {
      InjectInputEvent({InputEventKind::FocusLost});
      InjectInputEvent({InputEventKind::FocusGained});
    } else if (roll < 207 && onTitle) {
      Tap(KEY_F12);
    } else if (roll < 209 && onTitle) {
      Tap(KEY_H);  // the board opens and closes; cursor keys scroll it
    } else if (roll < 210 && !onTitle) {
      Tap(KEY_ESCAPE);  // a game abandoned
    } else if (roll < 212) {
      Tap(KEY_N);  // any question asked is answered no
    }
  }

 private:
  int Roll(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  static void Tap(int key) {
    InjectInputEvent({InputEventKind::KeyDown, key});
    InjectInputEvent({InputEventKind::KeyUp, key});
  }
  std::mt19937 rng_;
  int held_ = 0;
};

struct Done {};

}  // namespace

// AddressSanitizer keeps freed memory aside for a while; a small quarantine
// keeps that from reading as growth.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s HOURS [SEED]\n", argv[0]);
    return 2;
  }
  const double hours = std::atof(argv[1]);
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1;
  std::string dir = (std::filesystem::temp_directory_path() / "zephrant-soak-XXXXXX").string();
  if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) return 2;
  std::freopen("/dev/null", "w", stdout);  // the game's own diagnostic lines

  setenv("ALSOFT_LOGLEVEL", "0", 0);
  UseHeadlessGraphics(true);
  // Start just short of the counter's wrap, so the wrap happens in play.
  constexpr int START = 0x7FFFFFFF - 600000;
  UseVirtualClock(START);
  UseOpenALLoopback(44100);
  SetEndProgramHook([](int status) {
    std::fprintf(stderr, "soak: the game ended with status %d\n", status);
    std::exit(1);
  });

  Player player(seed);
  std::vector<Figures> figures;
  std::vector<int16_t> mix;
  long frames = 0;
  const double step = std::min(1.0, hours / 10);  // figures every game hour, ten at least
  int lastTitleTime = -1, lastMixed = START, lastFrame = START;
  bool wasOnTitle = false;
  SetFrameHook([&] {
    ++frames;
    // A frame lasts at least as long as a 60 Hz display takes to show it
    // (full screen is paced by the display, which the headless one has not).
    int shown = ElapsedMillis() - lastFrame;
    if (shown < 16) AdvanceVirtualClock(16 - shown);
    lastFrame = ElapsedMillis();
    bool onTitle = titleTime != lastTitleTime;
    lastTitleTime = titleTime;
    if (wasOnTitle && !onTitle) ++player.games;
    wasOnTitle = onTitle;
    player.Frame(onTitle);
    // Let the sound play on as long as the frame lasted, so effects end.
    int ms = ElapsedMillis() - lastMixed;
    lastMixed = ElapsedMillis();
    if (ms > 0) {
      mix.resize(static_cast<size_t>(ms) * 44 * 2);
      RenderLoopback(mix.data(), ms * 44);
    }
    double played = static_cast<unsigned>(ElapsedMillis() - START) / 3600000.0;
    if (played >= step * static_cast<double>(figures.size() + 1) || played >= hours) {
      Figures f{played,          frames,      RssKiB(), OpenALSourceCount(), TImageFrame::Live(),
                ParticleCount(), player.games};
      figures.push_back(f);
      std::fprintf(stderr,
                   "soak: %.2f h game time, %ld frames, %ld KiB resident, %d sources, %d "
                   "textures, %d particles, %d games\n",
                   f.hours, f.frames, f.rssKiB, f.sources, f.textures, f.particles, f.games);
      if (played >= hours) throw Done{};
    }
  });
  try {
    StartUp();
    RunScreenLoop();
  } catch (const Done&) {
  }
  std::filesystem::remove_all(dir);

  // The first half of the run settles what is needed (a sanitizer build's
  // allocator keeps warming up for about a third of a short run); after it
  // nothing may keep growing.
  const Figures& base = figures[figures.size() / 2];
  const Figures& end = figures.back();
  bool grew = end.rssKiB > base.rssKiB + 16384 || end.sources > std::max(base.sources, 8) * 2 ||
              end.textures > base.textures + 64;
  if (grew) {
    std::fprintf(stderr, "soak: resources grew\n");
    return 1;
  }
  std::fprintf(stderr, "soak ok\n");
  return 0;
}
