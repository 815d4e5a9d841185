// What comes out of the OpenAL driver, rendered on a loopback device.
#include <gtest/gtest.h>
#include <cmath>
#include "media/audio.h"
#include "media/audio_driver.h"
#include "media/audio_sample.h"
#include "media/audio_test_seam.h"
#include "tests/audio/audio_fixture.h"

namespace {

constexpr int RATE = 44100;

std::unique_ptr<TAudioSample> Decode(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream(bytes);
  return LoadOggSample(stream);
}

class OpenALTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartOpenALLoopback(RATE));
    static auto tone = Decode(SineOgg(1, RATE, RATE, 440.0));  // 1 s of 440 Hz
    static auto blip = Decode(SineOgg(1, RATE, RATE / 10, 440.0));  // 0.1 s
    ASSERT_TRUE(tone && blip);
    sound.reset(LoadSound(*tone));
    looping.reset(LoadSound(*tone, SOUND_LOOPING));
    shortSound.reset(LoadSound(*blip));
    ASSERT_TRUE(sound && looping && shortSound);
  }
  void TearDown() override {
    sound.reset();
    looping.reset();
    shortSound.reset();
    ShutdownAudio();
    UseOpenALLoopback(0);
  }
  std::unique_ptr<TSound> sound, looping, shortSound;
};

TEST_F(OpenALTest, PanPlacesAMonoEffectLeftOrCentre) {
  ChannelRef ch = sound->Play();
  ch->SetPan(-1);
  Rendered left = Render(RATE / 4);
  EXPECT_GT(Rms(left, 0, 1000), 3000);
  EXPECT_LT(Rms(left, 1, 1000), 1.0);

  ch->SetPan(0);
  Render(1000);  // let the position change settle
  Rendered centre = Render(RATE / 4);
  double l = Rms(centre, 0), r = Rms(centre, 1);
  EXPECT_GT(l, 3000);
  EXPECT_NEAR(l / r, 1.0, 0.02);

  ch->SetPan(1);
  Render(1000);
  Rendered right = Render(RATE / 8);
  EXPECT_LT(Rms(right, 0), 1.0);
  EXPECT_GT(Rms(right, 1), 3000);
}

TEST_F(OpenALTest, RateTwoDoublesPitchAndHalvesTheRest) {
  ChannelRef ch = sound->Play();
  Rendered first = Render(RATE / 5);  // 0.2 s at the recorded speed
  EXPECT_NEAR(ZeroCrossingHertz(first, 0, RATE), 440.0, 3.0);
  ch->SetRate(2.0f);
  Rendered fast = Render(RATE / 5);
  EXPECT_NEAR(ZeroCrossingHertz(fast, 0, RATE), 880.0, 6.0);
  // 0.2 s at speed 1 and 0.2 s at speed 2 have used 0.6 s of the sample;
  // the remaining 0.4 s now last 0.2 s.
  int frames = 0;
  while (ch->Playing() && frames < RATE) {
    Render(RATE / 100);
    frames += RATE / 100;
  }
  EXPECT_NEAR(frames, RATE * 2 / 10, RATE / 50);
}

TEST_F(OpenALTest, StopSilencesALoopingSound) {
  ChannelRef ch = looping->Play();
  Rendered played = Render(RATE * 3 / 2);  // past the end of the 1 s sample: it loops
  EXPECT_EQ(ch->Playing(), 1);
  EXPECT_GT(Rms(played, 0, RATE + 1000), 3000);
  ch->Stop();
  EXPECT_EQ(ch->Playing(), 0);
  Render(1000);
  EXPECT_EQ(PeakAbs(Render(RATE / 2)), 0);
  EXPECT_EQ(ch->Playing(), 0);
  ch->SetPaused(false);  // the channel let its source go: nothing restarts
  EXPECT_EQ(PeakAbs(Render(RATE / 10)), 0);
}

TEST_F(OpenALTest, TheSameEffectTwiceSoundsOnTwoSources) {
  ChannelRef once = sound->Play();
  double single = Rms(Render(RATE / 10), 0);
  once->Stop();
  Render(1000);

  ChannelRef a = sound->Play();
  ChannelRef b = sound->Play();
  Rendered both = Render(RATE / 10);
  EXPECT_EQ(a->Playing(), 1);
  EXPECT_EQ(b->Playing(), 1);
  EXPECT_EQ(OpenALSourceCount(), 2);  // the stopped one came back, one more was made
  EXPECT_NEAR(Rms(both, 0) / single, 2.0, 0.1);  // in phase: twice the amplitude
}

TEST_F(OpenALTest, AStaleChannelLeavesTheNewSoundAlone) {
  ChannelRef old = shortSound->Play();
  Render(RATE / 5);  // the 0.1 s blip has ended
  EXPECT_EQ(old->Playing(), 0);
  ChannelRef fresh = sound->Play();
  EXPECT_EQ(OpenALSourceCount(), 1);  // the finished source was reused

  old->SetVolume(0);
  old->SetPan(-1);
  old->SetRate(3);
  old->SetPaused(true);
  old->Stop();
  Rendered out = Render(RATE / 5);
  EXPECT_EQ(old->Playing(), 0);
  EXPECT_EQ(fresh->Playing(), 1);
  EXPECT_GT(Rms(out, 0), 3000);
  EXPECT_NEAR(Rms(out, 0) / Rms(out, 1), 1.0, 0.02);
  EXPECT_NEAR(ZeroCrossingHertz(out, 0, RATE), 440.0, 3.0);
}

TEST_F(OpenALTest, AReusedSourceStartsFromPlainSettings) {
  ChannelRef reference = sound->Play();
  double full = Rms(Render(RATE / 10), 0);
  reference->Stop();

  ChannelRef old = shortSound->Play();
  old->SetPan(-1);
  old->SetVolume(0.3f);
  old->SetRate(2);
  Render(RATE / 5);
  ChannelRef fresh = sound->Play();  // takes one of the two finished sources
  EXPECT_EQ(OpenALSourceCount(), 1);
  Rendered out = Render(RATE / 10);
  EXPECT_NEAR(Rms(out, 0) / full, 1.0, 0.02);
  EXPECT_NEAR(Rms(out, 0) / Rms(out, 1), 1.0, 0.02);
  EXPECT_NEAR(ZeroCrossingHertz(out, 0, RATE), 440.0, 3.0);
}

TEST_F(OpenALTest, NegativeVolumeKeepsTheGainAndZeroSilences) {
  ChannelRef ch = sound->Play();
  ch->SetVolume(0.5f);
  Render(1000);
  double half = Rms(Render(RATE / 10), 0);
  ch->SetVolume(-0.5f);
  Render(1000);
  double after = Rms(Render(RATE / 10), 0);
  EXPECT_NEAR(after / half, 1.0, 0.02);
  ch->SetVolume(1.0f);
  Render(1000);
  EXPECT_NEAR(Rms(Render(RATE / 10), 0) / half, 2.0, 0.05);
  ch->SetVolume(0);
  Render(1000);
  EXPECT_EQ(PeakAbs(Render(RATE / 10)), 0);
  EXPECT_EQ(ch->Playing(), 1);  // silent, but still playing
}

TEST_F(OpenALTest, CueingOnAChannelKeepsItsSettings) {
  ChannelRef ch = sound->Play();
  ch->SetPan(-1);
  ch->SetRate(2);
  Render(RATE / 10);
  ChannelRef same = looping->Cue(ch);
  EXPECT_EQ(same, ch);
  EXPECT_EQ(ch->Playing(), 0);  // cued: waits for SetPaused(false)
  EXPECT_EQ(PeakAbs(Render(RATE / 10)), 0);
  ch->SetPaused(false);
  Rendered out = Render(RATE / 5);
  EXPECT_EQ(ch->Playing(), 1);
  EXPECT_LT(Rms(out, 1, 1000), 1.0);  // still on the left
  EXPECT_NEAR(ZeroCrossingHertz(out, 0, RATE), 880.0, 6.0);
}

TEST_F(OpenALTest, PauseHoldsAndResumes) {
  ChannelRef ch = sound->Play();
  Render(RATE / 10);
  ch->SetPaused(true);
  EXPECT_EQ(ch->Playing(), 0);
  Render(1000);
  EXPECT_EQ(PeakAbs(Render(RATE / 10)), 0);
  ch->SetPaused(false);
  EXPECT_EQ(ch->Playing(), 1);
  // 0.1 s were heard before the pause, so 0.9 s remain.
  int frames = 0;
  while (ch->Playing() && frames < 2 * RATE) {
    Render(RATE / 100);
    frames += RATE / 100;
  }
  EXPECT_NEAR(frames, RATE * 9 / 10, RATE / 50);
}

TEST_F(OpenALTest, AnAllocatedChannelKeepsItsSourceUntilStopped) {
  ChannelRef own = AllocChannel();
  shortSound->Play(own);
  Render(RATE / 5);
  EXPECT_EQ(own->Playing(), 0);  // finished, but the source stays with the channel
  ChannelRef other = sound->Play();
  EXPECT_EQ(OpenALSourceCount(), 2);
  shortSound->Play(own);
  EXPECT_EQ(own->Playing(), 1);
  Render(RATE / 5);

  own->Stop();  // now its source is free for anyone
  ChannelRef third = sound->Play();
  EXPECT_EQ(OpenALSourceCount(), 2);
  EXPECT_EQ(third->Playing(), 1);
  shortSound->Play(own);  // the stopped channel has nothing to play on
  EXPECT_EQ(own->Playing(), 0);
}

TEST_F(OpenALTest, ACuedChannelIsNotRecycled) {
  ChannelRef cued = shortSound->Play();
  Render(RATE / 5);
  cued = shortSound->Cue();  // takes the finished source and holds it, cued
  ChannelRef other = sound->Play();
  EXPECT_EQ(OpenALSourceCount(), 2);
  cued->SetPaused(false);
  EXPECT_EQ(cued->Playing(), 1);
}

TEST_F(OpenALTest, ACuedChannelNobodyHoldsFreesItsSource) {
  for (int i = 0; i < 50; ++i) shortSound->Cue();  // a level that ends with no bonus left
  EXPECT_EQ(OpenALSourceCount(), 1);
}

TEST_F(OpenALTest, WithoutTheLibraryTheGameFallsBackToSilence) {
  ShutdownAudio();
  UseOpenALLibrary("libopenal-absent.so.1");
  EXPECT_EQ(SelectAudioDriver(u"OpenAL"), 0);
  UseOpenALLibrary("libopenal.so.1");
  EXPECT_TRUE(StartOpenALLoopback(RATE));
}

TEST_F(OpenALTest, RunningOutOfSourcesPlaysNothingMore) {
  std::vector<ChannelRef> channels;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 300; ++i) channels.push_back(looping->Play());
  std::string out = testing::internal::GetCapturedStdout();
  int playing = 0;
  for (auto& c : channels) playing += c->Playing();
  EXPECT_EQ(playing, OpenALSourceCount());
  EXPECT_LT(playing, 300);
  EXPECT_NE(out.find("Failed to generate OpenAL source\r\n"), std::string::npos);
  channels[299]->SetVolume(0.5f);  // a channel without a source ignores everything
  channels[299]->Stop();
}

TEST_F(OpenALTest, ShutdownLeavesSoundsAndChannelsHarmless) {
  ChannelRef ch = looping->Play();
  ASSERT_EQ(SelectAudioDriver(u"Null"), 1);
  EXPECT_EQ(ch->Playing(), 0);
  ch->SetVolume(1);
  ch->Stop();
  ChannelRef again = looping->Play();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Playing(), 0);
  // A new start of the driver does not revive the old sound's buffer.
  ASSERT_TRUE(StartOpenALLoopback(RATE));
  ChannelRef later = looping->Play();
  EXPECT_EQ(later->Playing(), 0);
  EXPECT_EQ(PeakAbs(Render(RATE / 10)), 0);
}

TEST_F(OpenALTest, BigEndianAndEightBitSamplesPlay) {
  static auto tone = Decode(SineOgg(1, RATE, RATE, 440.0));
  for (int format : {SF_MONO16BE, SF_MONO8, SF_STEREO8, SF_STEREO16BE}) {
    auto converted = tone->Convert(format);
    std::unique_ptr<TSound> s(LoadSound(*converted));
    ASSERT_TRUE(s) << format;
    ChannelRef ch = s->Play();
    Rendered out = Render(RATE / 10);
    EXPECT_NEAR(ZeroCrossingHertz(out, 0, RATE), 440.0, 4.0) << format;
    EXPECT_GT(Rms(out, 0), 3000) << format;
    ch->Stop();
    Render(1000);
  }
}

}  // namespace
