// Start-up figures: LoadMediaSet with and without the sounds, the music's
// load and first cue (streamed: only its first buffers are decoded), and the
// whole start-up to the first title frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/audio.h"
#include "media/audio_driver.h"
#include "media/graphics.h"
#include "media/system.h"

namespace {
double Now() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double MedianOf(int runs, F f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    double t0 = Now();
    f();
    t.push_back(Now() - t0);
  }
  return Median(t);
}
}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  // The game's start writes its tables, lock and settings where it runs: a
  // folder of its own keeps a player's table and settings out of it.
  std::string dir = std::filesystem::temp_directory_path() / "zephrant-startup-XXXXXX";
  if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) return 1;
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);  // a device that discards the sound
  setenv("ALSOFT_LOGLEVEL", "0", 0);
  RegisterMediaFiles();
  std::printf("embedded media files: %d of 23\n", EmbeddedMediaCount());
  SelectAudioDriver(u"OpenAL");
  std::printf("audio driver: %s\n", ByteString(CurrentAudioDriverName()).c_str());
  OpenGraphics(800, 600, 0, 0, 0);

  auto loadMusic = [] {
    LoadSound(u"incbin::music_title.ogg", SOUND_LOOPING)->Cue();
    LoadSound(u"incbin::music_ingame.ogg", SOUND_LOOPING)->Cue();
  };
  double music = MedianOf(runs, loadMusic);
  double parallel = MedianOf(runs, [&] {
    PreloadSounds({u"incbin::music_title.ogg", u"incbin::music_ingame.ogg"});  // skips them
    loadMusic();
    CancelPreloads();
  });
  double whole = MedianOf(runs, [] {
    LoadMediaSet();
    CancelPreloads();
  });
  double wholePreloaded = MedianOf(runs, [] {
    PreloadSounds({u"incbin::music_title.ogg", u"incbin::music_ingame.ogg"});
    LoadMediaSet();  // ends when every sound has its buffer
    CancelPreloads();
  });
  std::printf("both music tracks, load and first cue:   %8.1f ms (median of %d)\n", music, runs);
  std::printf("the same after asking for a preload:    %8.1f ms\n", parallel);
  std::printf("LoadMediaSet:                          %8.1f ms\n", whole);
  std::printf("LoadMediaSet, music preload asked:     %8.1f ms\n", wholePreloaded);
  SelectAudioDriver(u"Null");  // sounds are only checked, not decoded
  double silent = MedianOf(runs, [] { LoadMediaSet(); });
  SelectAudioDriver(u"OpenAL");
  std::printf("LoadMediaSet without decoding sounds:  %8.1f ms\n", silent);
  CloseGraphics();

  // The whole start-up, as the game does it, to its first title frame.
  int frames = 0;
  double t0 = Now(), firstTitle = 0;
  SetFrameHook([&] {
    if (++frames == 2) {  // the start-up screen, then the first title frame
      firstTitle = Now() - t0;
      throw ProgramEnded{0};
    }
  });
  try {
    RunProgram();
  } catch (const ProgramEnded&) {
  }
  std::printf("start-up to the first title frame:     %8.1f ms\n", firstTitle);
  std::filesystem::remove_all(dir);
  return 0;
}
