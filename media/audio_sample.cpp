// TAudioSample: creation, copying and conversion between the six formats.
#include "media/audio_sample.h"
#include <cstring>

namespace {

struct FormatInfo {
  int channels;
  int bytesPerSample;
  bool bigEndian;
};

constexpr FormatInfo FORMATS[7] = {
    {0, 0, false},                                   // unused
    {1, 1, false}, {1, 2, false}, {1, 2, true},      // mono 8, 16 LE, 16 BE
    {2, 1, false}, {2, 2, false}, {2, 2, true},      // stereo 8, 16 LE, 16 BE
};

bool ValidFormat(int format) { return format >= 1 && format <= 6; }

// Every conversion goes through signed 16-bit values.
int ReadValue(const uint8_t* p, const FormatInfo& f) {
  if (f.bytesPerSample == 1) return (int(p[0]) - 128) * 256;
  int v = f.bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
  return int16_t(v);
}

void WriteValue(uint8_t* p, const FormatInfo& f, int v) {
  if (f.bytesPerSample == 1) {
    p[0] = uint8_t((v >> 8) + 128);
    return;
  }
  uint16_t u = uint16_t(int16_t(v));
  if (f.bigEndian) {
    p[0] = uint8_t(u >> 8);
    p[1] = uint8_t(u);
  } else {
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
  }
}

}  // namespace

int AudioFormatChannels(int format) { return ValidFormat(format) ? FORMATS[format].channels : 0; }

int AudioFormatBytesPerFrame(int format) {
  return ValidFormat(format) ? FORMATS[format].channels * FORMATS[format].bytesPerSample : 0;
}

std::unique_ptr<TAudioSample> TAudioSample::Create(int length, int format, int hertz) {
  if (!ValidFormat(format) || length < 0) return nullptr;
  auto s = std::make_unique<TAudioSample>();
  int bytes = length * AudioFormatBytesPerFrame(format);
  s->_store = std::make_unique<uint8_t[]>(bytes > 0 ? bytes : 1);  // zeroed
  // Silence in 8-bit formats is 128, not 0.
  if (FORMATS[format].bytesPerSample == 1) std::memset(s->_store.get(), 128, bytes);
  s->samples = s->_store.get();
  s->length = length;
  s->format = format;
  s->hertz = hertz;
  s->capacity = bytes;
  return s;
}

std::unique_ptr<TAudioSample> TAudioSample::CreateStatic(uint8_t* samples, int length, int format,
                                                         int hertz) {
  if (!ValidFormat(format) || length < 0) return nullptr;
  auto s = std::make_unique<TAudioSample>();
  s->samples = samples;
  s->length = length;
  s->format = format;
  s->hertz = hertz;
  s->capacity = -1;
  return s;
}

std::unique_ptr<TAudioSample> TAudioSample::Copy() const {
  auto s = Create(length, format, hertz);
  if (s && ByteSize() > 0) std::memcpy(s->samples, samples, ByteSize());
  return s;
}

std::unique_ptr<TAudioSample> TAudioSample::Convert(int to) const {
  if (!ValidFormat(to) || !ValidFormat(format)) return nullptr;
  if (to == format) return Copy();
  auto out = Create(length, to, hertz);
  const FormatInfo& src = FORMATS[format];
  const FormatInfo& dst = FORMATS[to];
  int inFrame = AudioFormatBytesPerFrame(format);
  int outFrame = AudioFormatBytesPerFrame(to);
  for (int i = 0; i < length; ++i) {
    const uint8_t* in = samples + i * inFrame;
    uint8_t* o = out->samples + i * outFrame;
    int left = ReadValue(in, src);
    int right = src.channels == 2 ? ReadValue(in + src.bytesPerSample, src) : left;
    if (dst.channels == 1) {
      WriteValue(o, dst, (left + right) / 2);  // stereo folds down to the mean
    } else {
      WriteValue(o, dst, left);
      WriteValue(o + dst.bytesPerSample, dst, right);
    }
  }
  return out;
}

void TAudioSample::AdoptBytes(std::unique_ptr<uint8_t[]> bytes, int bytesCapacity) {
  _store = std::move(bytes);
  samples = _store.get();
  capacity = bytesCapacity;
}
