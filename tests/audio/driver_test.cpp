// Choosing the output driver, falling back to silence, and loading by url.
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include "media/audio.h"
#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/audio_test_seam.h"
#include "tests/audio/audio_fixture.h"
#include "tests/support/harness.h"
#include "tests/support/paths.h"

namespace {

class AudioDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("audio");
    ASSERT_FALSE(dir.empty());
    tone = AsciiText(WriteTempFile(dir, "tone.ogg", SineOgg(1, 44100, 44100, 440.0)));
    std::vector<uint8_t> junk(3000, 0x5A);
    junk[0] = 'O';  // looks like the start of an Ogg page, is not one
    junk[1] = 'g';
    garbage = AsciiText(WriteTempFile(dir, "junk.ogg", junk));
  }
  void TearDown() override {
    ShutdownAudio();
    UseOpenALLoopback(0);
    std::filesystem::remove_all(dir);
  }
  std::string dir;
  Text tone, garbage;
};

TEST_F(AudioDriverTest, NamesAreMatchedIgnoringCase) {
  UseOpenALLoopback(44100);
  EXPECT_EQ(SelectAudioDriver(u"openal"), 1);
  EXPECT_EQ(CurrentAudioDriverName(), u"OpenAL");
  EXPECT_EQ(SelectAudioDriver(u"NULL"), 1);
  EXPECT_EQ(CurrentAudioDriverName(), u"Null");
  EXPECT_EQ(SelectAudioDriver(u"OpenAL "), 0);
  EXPECT_EQ(CurrentAudioDriverName(), u"");  // the old one was shut down first
}

TEST_F(AudioDriverTest, WithoutADeviceLoadingFallsBackToSilence) {
  EXPECT_EQ(SelectAudioDriver(u"OpenAL"), 0);  // no sound card and no loopback
  EXPECT_EQ(SelectAudioDriver(u"DirectSound"), 0);  // there is none on this system
  EXPECT_EQ(CurrentAudioDriverName(), u"");
  std::unique_ptr<TSound> s(LoadSound(tone));
  ASSERT_TRUE(s);
  EXPECT_EQ(CurrentAudioDriverName(), u"Null");
  ChannelRef ch = s->Play();
  ASSERT_TRUE(ch);
  EXPECT_EQ(ch->Playing(), 0);
  ch->SetVolume(0.5f);
  ch->SetPan(-1);
  ch->Stop();
  EXPECT_EQ(AllocChannel()->Playing(), 0);
  // Even the silent driver refuses what would not decode.
  EXPECT_EQ(LoadSound(garbage), nullptr);
  EXPECT_EQ(LoadSound(AsciiText(dir + "/missing.ogg")), nullptr);
}

TEST_F(AudioDriverTest, LoadingByUrlOnOpenAL) {
  ASSERT_TRUE(StartOpenALLoopback(44100));
  std::unique_ptr<TSound> s(TSound::Load(tone, SOUND_LOOPING));
  ASSERT_TRUE(s);
  EXPECT_EQ(LoadSound(garbage), nullptr);
  ChannelRef ch = s->Play();
  Rendered out = Render(44100 * 3 / 2);
  EXPECT_EQ(ch->Playing(), 1);  // looping past its 1 s
  EXPECT_NEAR(ZeroCrossingHertz(out, 0, 44100), 440.0, 3.0);
}

TEST_F(AudioDriverTest, NullSoundsAreHarmlessInTheHelpers) {
  ChannelRef a = PlaySound(nullptr);
  ChannelRef b = CueSound(nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Playing(), 0);
  b->SetPaused(false);
  EXPECT_EQ(b->Playing(), 0);
}

TEST_F(AudioDriverTest, PreloadedSoundsLoadTheSameAsDirectOnes) {
  ASSERT_TRUE(StartOpenALLoopback(44100));
  Text stereo = AsciiText(WriteTempFile(dir, "stereo.ogg", SineOgg(2, 22050, 66150, 220.0)));
  Text missing = AsciiText(dir + "/missing.ogg");
  PreloadSounds({stereo, tone, garbage, missing});
  std::unique_ptr<TSound> a(LoadSound(tone));
  std::unique_ptr<TSound> b(LoadSound(stereo, SOUND_LOOPING));
  EXPECT_TRUE(a);
  EXPECT_TRUE(b);
  EXPECT_EQ(LoadSound(garbage), nullptr);
  EXPECT_EQ(LoadSound(missing), nullptr);
  ChannelRef ch = b->Play();
  Rendered out = Render(44100 * 4);  // 3 s of sound, looping
  EXPECT_EQ(ch->Playing(), 1);
  EXPECT_NEAR(ZeroCrossingHertz(out, 0, 44100), 220.0, 2.0);
  // Taken once: a second load decodes the file again.
  std::unique_ptr<TSound> again(LoadSound(tone));
  EXPECT_TRUE(again);
}

TEST_F(AudioDriverTest, APreloadedSoundCanGoUnused) {
  ASSERT_TRUE(StartOpenALLoopback(44100));
  PreloadSounds({tone});
  delete LoadSound(tone);  // never cued: its decoded data is dropped
  bool found = true;
  EXPECT_EQ(TakePreloadedSample(tone, found), nullptr);
  EXPECT_FALSE(found);

  // A restart of the driver between loading and the first cue: silence.
  PreloadSounds({tone});
  std::unique_ptr<TSound> s(LoadSound(tone));
  ASSERT_TRUE(StartOpenALLoopback(44100));
  EXPECT_EQ(s->Play()->Playing(), 0);
}

TEST_F(AudioDriverTest, PreloadingOnTheSilentDriverDecodesNothing) {
  ASSERT_EQ(SelectAudioDriver(u"Null"), 1);
  PreloadSounds({tone, garbage});
  std::unique_ptr<TSound> s(LoadSound(tone));
  EXPECT_TRUE(s);
  EXPECT_EQ(LoadSound(garbage), nullptr);
}

TEST_F(AudioDriverTest, LeftoverPreloadsAreDroppedAtShutdown) {
  ASSERT_TRUE(StartOpenALLoopback(44100));
  PreloadSounds({tone});
  CancelPreloads();
  bool found = true;
  EXPECT_EQ(TakePreloadedSample(tone, found), nullptr);
  EXPECT_FALSE(found);
}

// A long sound is streamed through a few buffers; it must sound exactly as
// its whole decoding does, from the first frame and over the loop.
TEST_F(AudioDriverTest, AStreamedSoundPlaysLikeItsWholeDecoding) {
  constexpr int RATE = 22050, FRAMES = 300000;  // 1.2 MB decoded
  std::vector<uint8_t> bytes = EncodeOgg(2, RATE, FRAMES, [](int i, int c) {
    return float(0.3 * std::sin(i * (c ? 0.031 : 0.017)) * std::sin(i * 0.0001));
  });
  Text url = AsciiText(WriteTempFile(dir, "long.ogg", bytes));
  TMemoryStream stream(bytes);
  auto whole = LoadOggSample(stream);
  ASSERT_TRUE(whole);
  ASSERT_TRUE(StartOpenALLoopback(RATE));
  PreloadSounds({url});
  EXPECT_EQ(PreloadStatus(url), 0);  // nothing to decode ahead
  std::unique_ptr<TSound> streamed(LoadSound(url, SOUND_LOOPING));
  std::unique_ptr<TSound> decoded(LoadSound(*whole, SOUND_LOOPING));
  ASSERT_TRUE(streamed && decoded);
  auto hear = [](TSound& sound) {
    ChannelRef ch = sound.Play();
    Rendered out = Render(FRAMES + RATE);
    EXPECT_EQ(ch->Playing(), 1);
    ch->Stop();
    return out.lr;
  };
  std::vector<int16_t> a = hear(*streamed), b = hear(*decoded);
  EXPECT_GT(PeakAbs(Rendered{b}), 3000);
  EXPECT_TRUE(a == b);

  // Without the loop it ends, and plays again from its first frame.
  std::unique_ptr<TSound> once(LoadSound(url));
  ChannelRef ch = once->Play();
  Render(FRAMES + RATE / 2);
  EXPECT_EQ(ch->Playing(), 0);
  ch->SetPaused(false);
  Rendered again = Render(RATE);
  EXPECT_TRUE(std::equal(again.lr.begin(), again.lr.end(), b.begin()));
}

// Start-up cost of the two three-minute music tracks: decoded whole, and
// streamed (the preloader leaves them alone; the first Cue decodes the first
// buffers). Uses the game's files when they are there.
// Run with --gtest_also_run_disabled_tests.
TEST_F(AudioDriverTest, DISABLED_MusicDecodingTimes) {
  auto music = [](double a, double b) {
    return [=](int i, int c) {
      double t = double(i) / 22050;
      return float(0.3 * std::sin(2 * M_PI * (c ? a : b) * t) +
                   0.2 * std::sin(2 * M_PI * 3.01 * a * t) * std::sin(2 * M_PI * 0.5 * t));
    };
  };
  std::vector<Text> tracks;
  for (const char* name : {"music_ingame.ogg", "music_title.ogg"}) {
    std::string path = AssetsDir() + "/" + name;
    if (std::filesystem::exists(path)) tracks.push_back(AsciiText(path));
  }
  if (tracks.size() != 2) {
    tracks = {AsciiText(WriteTempFile(dir, "m1.ogg", EncodeOgg(2, 22050, 4068288, music(220, 330), 0.3f))),
              AsciiText(WriteTempFile(dir, "m2.ogg", EncodeOgg(2, 22050, 4146559, music(196, 294), 0.3f)))};
  }
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  auto cpuMs = [] { return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC; };
  double sequential = 1e9, parallel = 1e9, loadSequential = 1e9, loadPreloaded = 1e9;
  double cpuSequential = 0, cpuParallel = 0;
  ASSERT_TRUE(StartOpenALLoopback(22050));
  Clock::time_point start;
  for (int round = 0; round < 3; ++round) {
    start = Clock::now();
    double cpu = cpuMs();
    for (const Text& t : tracks) ASSERT_TRUE(LoadAudioSample(t));
    sequential = std::min(sequential, ms(Clock::now() - start));
    cpuSequential = cpuMs() - cpu;

    start = Clock::now();
    cpu = cpuMs();
    PreloadSounds(tracks);
    for (const Text& t : tracks) {
      bool found = true;
      EXPECT_FALSE(TakePreloadedSample(t, found) || found);  // long: streamed, not preloaded
    }
    parallel = std::min(parallel, ms(Clock::now() - start));
    cpuParallel = cpuMs() - cpu;

    start = Clock::now();
    for (const Text& t : tracks) std::unique_ptr<TSound>(LoadSound(t, SOUND_LOOPING));
    loadSequential = std::min(loadSequential, ms(Clock::now() - start));

    // Streamed: LoadSound reads the headers; the first Cue fills the first buffers.
    start = Clock::now();
    PreloadSounds(tracks);
    std::vector<std::unique_ptr<TSound>> sounds;
    for (const Text& t : tracks) sounds.emplace_back(LoadSound(t, SOUND_LOOPING));
    for (auto& s : sounds) s->Cue();
    loadPreloaded = std::min(loadPreloaded, ms(Clock::now() - start));
  }
  std::printf("decode both, one after the other: %.1f ms (cpu %.1f ms)\n", sequential, cpuSequential);
  std::printf("preload both (skipped):           %.1f ms (cpu %.1f ms)\n", parallel, cpuParallel);
  std::printf("LoadSound both (OpenAL, streamed): %.1f ms\n", loadSequential);
  std::printf("preload, LoadSound, first Cue:    %.1f ms\n", loadPreloaded);
  PreloadSounds(tracks);
  start = Clock::now();
  std::vector<std::unique_ptr<TSound>> pending;
  for (const Text& t : tracks) pending.emplace_back(LoadSound(t, SOUND_LOOPING));
  std::printf("LoadSound both right after PreloadSounds: %.2f ms\n", ms(Clock::now() - start));
  CancelPreloads();
  pending.clear();
  ASSERT_EQ(SelectAudioDriver(u"Null"), 1);
  start = Clock::now();
  for (const Text& t : tracks) std::unique_ptr<TSound>(LoadSound(t, SOUND_LOOPING));
  std::printf("LoadSound both on the Null driver: %.1f ms\n", ms(Clock::now() - start));
}

}  // namespace
