// Decoding Ogg Vorbis into samples, and the sample format conversions.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <filesystem>
#include "media/audio_sample.h"
#include "media/stream.h"
#include "tests/audio/audio_fixture.h"
#include "tests/support/paths.h"

namespace {

// Frequency of one channel of 16-bit little-endian interleaved data.
double SampleHertz(const TAudioSample& s, int channel) {
  Rendered r;
  int channels = AudioFormatChannels(s.format);
  auto* v = reinterpret_cast<const int16_t*>(s.samples);
  for (int i = 0; i < s.length; ++i) {
    r.lr.push_back(v[i * channels + channel]);
    r.lr.push_back(0);
  }
  return ZeroCrossingHertz(r, 0, s.hertz);
}

TEST(OggDecode, MonoFileGivesExactFramesAtItsRate) {
  // 30001 frames: not a whole number of Vorbis blocks.
  TMemoryStream stream(SineOgg(1, 44100, 30001, 440.0));
  auto s = LoadOggSample(stream);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->format, SF_MONO16LE);
  EXPECT_EQ(s->hertz, 44100);
  EXPECT_EQ(s->length, 30001);
  EXPECT_GE(s->capacity, s->ByteSize());
  EXPECT_NEAR(SampleHertz(*s, 0), 440.0, 2.0);
  int peak = 0;
  auto* v = reinterpret_cast<const int16_t*>(s->samples);
  for (int i = 0; i < s->length; ++i) peak = std::max(peak, std::abs(int(v[i])));
  EXPECT_NEAR(peak, 16384, 1200);  // amplitude 0.5
}

TEST(OggDecode, StereoFileKeepsItsChannelsApart) {
  auto bytes = EncodeOgg(2, 22050, 22050, [](int i, int c) {
    return c == 0 ? 0.5f * float(std::sin(2 * M_PI * 300.0 * i / 22050)) : 0.0f;
  });
  TMemoryStream stream(bytes);
  auto s = LoadOggSample(stream);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->format, SF_STEREO16LE);
  EXPECT_EQ(s->hertz, 22050);
  EXPECT_EQ(s->length, 22050);
  double left = 0, right = 0;
  auto* v = reinterpret_cast<const int16_t*>(s->samples);
  for (int i = 0; i < s->length; ++i) {
    left += std::abs(v[2 * i]);
    right += std::abs(v[2 * i + 1]);
  }
  EXPECT_GT(left, 50 * right);
  EXPECT_NEAR(SampleHertz(*s, 0), 300.0, 2.0);
}

TEST(OggDecode, StreamThatCannotSeekDecodesTheSameFrames) {
  auto bytes = SineOgg(1, 44100, 100000, 440.0);
  TMemoryStream seekable(bytes);
  TMemoryStream pipe(bytes, false);
  auto a = LoadOggSample(seekable);
  auto b = LoadOggSample(pipe);
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->length, a->length);
  EXPECT_EQ(0, std::memcmp(a->samples, b->samples, a->ByteSize()));
}

TEST(OggDecode, WhatIsNotVorbisGivesNull) {
  std::vector<uint8_t> garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 7919 >> 3);
  TMemoryStream g(garbage);
  EXPECT_FALSE(LoadOggSample(g));
  TMemoryStream empty(std::vector<uint8_t>{});
  EXPECT_FALSE(LoadOggSample(empty));
  // Cut inside the codebook header: the stream never becomes decodable.
  auto bytes = SineOgg(1, 44100, 44100, 440.0);
  bytes.resize(200);
  TMemoryStream cut(bytes);
  EXPECT_FALSE(LoadOggSample(cut));
  TMemoryStream cut2(bytes);
  EXPECT_FALSE(ProbeOggStream(cut2));
  TMemoryStream good(SineOgg(1, 44100, 1000, 440.0));
  EXPECT_TRUE(ProbeOggStream(good));
}

TEST(AudioSample, ConvertsBetweenTheSixFormats) {
  // Stereo frames (left, right): (1000, -1000), (-32768, 32767), (256, 512).
  auto s = TAudioSample::Create(3, SF_STEREO16LE, 8000);
  ASSERT_TRUE(s);
  const int16_t values[] = {1000, -1000, -32768, 32767, 256, 512};
  std::memcpy(s->samples, values, sizeof values);

  auto be = s->Convert(SF_STEREO16BE);
  ASSERT_TRUE(be);
  EXPECT_EQ(be->samples[0], 0x03);  // 1000 = 0x03E8, high byte first
  EXPECT_EQ(be->samples[1], 0xE8);
  auto back = be->Convert(SF_STEREO16LE);
  EXPECT_EQ(0, std::memcmp(back->samples, values, sizeof values));

  auto mono = s->Convert(SF_MONO16LE);
  auto* m = reinterpret_cast<const int16_t*>(mono->samples);
  EXPECT_EQ(m[0], 0);
  EXPECT_EQ(m[1], 0);  // (-32768 + 32767) / 2 truncates toward zero
  EXPECT_EQ(m[2], 384);
  EXPECT_EQ(mono->hertz, 8000);
  EXPECT_EQ(mono->length, 3);

  auto bytes8 = s->Convert(SF_STEREO8);
  EXPECT_EQ(bytes8->ByteSize(), 6);
  EXPECT_EQ(bytes8->samples[0], 128 + 3);  // 1000 >> 8
  EXPECT_EQ(bytes8->samples[2], 0);
  EXPECT_EQ(bytes8->samples[3], 255);

  // Mono 8-bit widens to both stereo channels.
  auto m8 = s->Convert(SF_MONO8);
  auto wide = m8->Convert(SF_STEREO16BE)->Convert(SF_STEREO16LE);
  auto* w = reinterpret_cast<const int16_t*>(wide->samples);
  EXPECT_EQ(w[4], w[5]);
  EXPECT_EQ(w[4], 256);  // 384 lost its low byte in 8 bits

  EXPECT_FALSE(s->Convert(0));
  EXPECT_FALSE(s->Convert(7));
}

TEST(AudioSample, StaticSamplesBorrowAndCopiesOwn) {
  uint8_t bytes[4] = {1, 2, 3, 4};
  auto borrowed = TAudioSample::CreateStatic(bytes, 2, SF_MONO16LE, 44100);
  EXPECT_EQ(borrowed->samples, bytes);
  EXPECT_EQ(borrowed->capacity, -1);
  auto copy = borrowed->Copy();
  EXPECT_NE(copy->samples, bytes);
  EXPECT_EQ(copy->capacity, 4);
  bytes[0] = 99;
  EXPECT_EQ(copy->samples[0], 1);
  // Fresh 8-bit samples are silent, which is 128 in unsigned bytes.
  auto silent = TAudioSample::Create(2, SF_MONO8, 11025);
  EXPECT_EQ(silent->samples[0], 128);
  EXPECT_EQ(silent->samples[1], 128);
}

// The game's own files, once they are in the repository.
TEST(OggDecode, EmbeddedSoundsHaveTheirLayout) {
  struct Expected {
    const char* name;
    int format, hertz, frames;
  };
  const Expected files[] = {
      {"music_ingame.ogg", SF_STEREO16LE, 22050, 4068288},
      {"music_title.ogg", SF_STEREO16LE, 22050, 4146559},
      {"snd_chaser_turn.ogg", SF_MONO16LE, 44100, 12073},
      {"snd_collision.ogg", SF_MONO16LE, 44100, 19198},
      {"snd_die.ogg", SF_MONO16LE, 44100, 109452},
      {"snd_make_gap.ogg", SF_MONO16LE, 44100, 10346},
      {"snd_pickup.ogg", SF_MONO16LE, 44100, 2724},
      {"snd_draw_level.ogg", SF_MONO16LE, 44100, 3996},
      {"snd_untouched.ogg", SF_MONO16LE, 44100, 20146},
      {"snd_bonus.ogg", SF_MONO16LE, 44100, 13453},
  };
  int checked = 0;
  for (const Expected& e : files) {
    std::string path = AssetsDir() + "/" + e.name;
    if (!std::filesystem::exists(path)) continue;
    auto s = LoadAudioSample(AsciiText(path));
    ASSERT_TRUE(s) << e.name;
    EXPECT_EQ(s->format, e.format) << e.name;
    EXPECT_EQ(s->hertz, e.hertz) << e.name;
    EXPECT_EQ(s->length, e.frames) << e.name;
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no sound files in " << AssetsDir();
}

}  // namespace
