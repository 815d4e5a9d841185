// Helpers of the audio tests: Ogg Vorbis files made on the spot with
// libvorbisenc, an in-memory stream, and measurements of rendered sound.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "media/stream.h"

// Interleaved float frames in -1..1 from gen(frame, channel).
std::vector<uint8_t> EncodeOgg(int channels, int rate, int frames,
                               const std::function<float(int, int)>& gen, float quality = 0.4f);
std::vector<uint8_t> SineOgg(int channels, int rate, int frames, double hertz, float amplitude = 0.5f);

// A TStream over bytes in memory; with seekable false it behaves like a pipe.
class TMemoryStream : public TStream {
 public:
  explicit TMemoryStream(std::vector<uint8_t> bytes, bool seekable = true)
      : _bytes(std::move(bytes)), _seekable(seekable) {}
  int Eof() override { return _pos >= int(_bytes.size()); }
  int Pos() override { return _seekable ? _pos : -1; }
  int Size() override { return _seekable ? int(_bytes.size()) : -1; }
  int Seek(int pos) override;
  int Read(void* buf, int count) override;
  int Write(const void*, int) override { return 0; }

 private:
  std::vector<uint8_t> _bytes;
  bool _seekable;
  int _pos = 0;
};

std::string WriteTempFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes);

// --- Measuring stereo 16-bit output ---
struct Rendered {
  std::vector<int16_t> lr;  // interleaved left, right
  int frames() const { return int(lr.size() / 2); }
};
Rendered Render(int frames);                       // from the loopback device
double Rms(const Rendered& r, int channel, int from = 0, int to = -1);  // channel 0 left, 1 right
double ZeroCrossingHertz(const Rendered& r, int channel, int rate);
int PeakAbs(const Rendered& r);
