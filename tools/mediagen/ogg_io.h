#pragma once
// Ogg Vorbis encoding with a fixed stream serial (same bytes every run) and the
// exact frame count, plus decoding back for the level check.
#include <string>
#include <vector>

// samples: interleaved floats in -1..1, frames = samples.size() / channels.
bool WriteOgg(const std::string& path, int channels, int rate, const std::vector<float>& samples,
              float quality, int serial);

struct DecodedOgg {
  int channels = 0;
  int rate = 0;
  long long frames = 0;  // ov_pcm_total
  std::vector<float> samples;
};
bool ReadOgg(const std::string& path, DecodedOgg& out);
