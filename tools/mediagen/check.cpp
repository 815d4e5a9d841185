#include "check.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ogg_io.h"
#include "synth.h"

namespace {

const char* const SOUNDS[] = {"music_ingame.ogg",  "music_title.ogg",   "snd_chaser_turn.ogg", "snd_collision.ogg",
                              "snd_die.ogg",       "snd_make_gap.ogg",  "snd_pickup.ogg",      "snd_draw_level.ogg",
                              "snd_untouched.ogg", "snd_bonus.ogg"};

// How much the loop seam jumps, against the ordinary sample-to-sample steps.
void PrintSeam(const DecodedOgg& d) {
  const int ch = d.channels;
  const size_t n = d.samples.size() / ch;
  for (int c = 0; c < ch; ++c) {
    std::vector<double> steps;
    steps.reserve(n);
    double sum = 0;
    for (size_t i = 1; i < n; ++i) {
      const double s = std::abs(d.samples[i * ch + c] - d.samples[(i - 1) * ch + c]);
      steps.push_back(s);
      sum += s * s;
    }
    std::sort(steps.begin(), steps.end());
    const double seam = std::abs(d.samples[c] - d.samples[(n - 1) * ch + c]);
    std::printf("    seam ch%d: jump %.4f  (typical step rms %.4f, 99.9%% step %.4f)\n", c, seam,
                std::sqrt(sum / steps.size()), steps[steps.size() * 999 / 1000]);
  }
  // No gap at the loop point: the last and the first second are about as loud.
  const size_t second = static_cast<size_t>(d.rate);
  const std::vector<float> head(d.samples.begin(), d.samples.begin() + second * ch);
  const std::vector<float> tail(d.samples.end() - second * ch, d.samples.end());
  std::printf("    last second rms %.1f dBFS, first second rms %.1f dBFS\n", Measure(tail).rmsDb,
              Measure(head).rmsDb);
}

}  // namespace

bool CheckMedia(const std::string& dir) {
  bool ok = true;
  for (const char* name : SOUNDS) {
    DecodedOgg d;
    if (!ReadOgg(dir + "/" + name, d)) {
      std::printf("%-22s cannot decode\n", name);
      ok = false;
      continue;
    }
    const Levels lv = Measure(d.samples);
    std::printf("%-22s %d ch %5d Hz %8lld frames  peak %6.2f dBFS  rms %6.2f dBFS\n", name, d.channels, d.rate,
                d.frames, lv.peakDb, lv.rmsDb);
    if (lv.peakDb > -1.0) {
      std::printf("    peak above -1 dBFS\n");
      ok = false;
    }
    if (d.channels == 2) PrintSeam(d);
  }
  return ok;
}
