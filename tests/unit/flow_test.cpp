#include <gtest/gtest.h>

#include <cmath>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/graphics.h"

namespace {
struct Row {
  int level;
  const char16_t* label;
  int layout, count, speed, rate, ms;
};
}  // namespace

TEST(LevelStart, LabelsLayoutsVariantsAndRates) {
  // Both sides of every level where the variant or the rate changes.
  const Row rows[] = {
      {1, u"A1", 1, 1, 1, 60, 16},    {6, u"A6", 6, 1, 1, 60, 16},   {7, u"B1", 1, 2, 1, 60, 16},
      {12, u"B6", 6, 2, 1, 60, 16},   {13, u"C1", 1, 1, 2, 60, 16},  {18, u"C6", 6, 1, 2, 60, 16},
      {19, u"D1", 1, 2, 2, 60, 16},   {24, u"D6", 6, 2, 2, 60, 16},  {25, u"E1", 1, 1, 1, 70, 14},
      {48, u"H6", 6, 2, 2, 70, 14},   {49, u"I1", 1, 1, 1, 80, 12},  {72, u"L6", 6, 2, 2, 80, 12},
      {73, u"M1", 1, 1, 1, 90, 11},   {96, u"P6", 6, 2, 2, 90, 11},  {97, u"Q1", 1, 1, 1, 100, 10},
      {120, u"T6", 6, 2, 2, 100, 10}, {121, u"U1", 1, 1, 1, 110, 9}, {144, u"X6", 6, 2, 2, 110, 9},
      {145, u"Y1", 1, 1, 1, 120, 8},  {156, u"Z6", 6, 2, 1, 120, 8}, {157, u"??", 1, 1, 2, 120, 8},
      {168, u"??", 6, 2, 2, 120, 8},  {169, u"??", 1, 1, 1, 130, 7},
  };
  for (const Row& r : rows) {
    Text label;
    int layout, count, speed, rate;
    LevelSettings(r.level, label, layout, count, speed, rate);
    EXPECT_EQ(label, Text(r.label)) << r.level;
    EXPECT_EQ(layout, r.layout) << r.level;
    EXPECT_EQ(count, r.count) << r.level;
    EXPECT_EQ(speed, r.speed) << r.level;
    EXPECT_EQ(rate, r.rate) << r.level;
    EXPECT_EQ(1000 / rate, r.ms) << r.level;
  }
}

namespace {
struct Scheduler : ::testing::Test {
  void SetUp() override {
    UseVirtualClock(50000);
    tickRate = 60;
    tickMs = 16;
  }
};
}  // namespace

TEST_F(Scheduler, AFrameBeforeTheNextTickRunsNone) {
  lastTick = ElapsedMillis() - 5;
  int before = lastTick;
  EXPECT_EQ(TicksToRun(), 0);
  EXPECT_EQ(lastTick, before);
}

TEST_F(Scheduler, EveryFrameWaitsAtLeastOneMillisecond) {
  lastTick = ElapsedMillis();  // nothing elapsed: waits until something has
  int t0 = ElapsedMillis();
  EXPECT_EQ(TicksToRun(), 0);
  EXPECT_GE(ElapsedMillis() - t0, 1);
  lastTick = ElapsedMillis() - 160;
  t0 = ElapsedMillis();
  TicksToRun();
  EXPECT_EQ(ElapsedMillis() - t0, 1);
}

TEST_F(Scheduler, MoreThanHalfASecondBehindRunsTwoAndResets) {
  lastTick = ElapsedMillis() - 40 * 16;
  EXPECT_EQ(TicksToRun(), 2);
  int now = ElapsedMillis();
  EXPECT_EQ(lastTick, now - 16);
  lastTick += 2 * tickMs;  // as the two ticks do
  EXPECT_EQ(lastTick, now + 16);
}

TEST_F(Scheduler, AtMostFiveTicksAndTheRestLater) {
  lastTick = ElapsedMillis() - 20 * 16;
  EXPECT_EQ(TicksToRun(), 5);
  lastTick += 5 * tickMs;
  EXPECT_EQ((ElapsedMillis() - lastTick) / tickMs, 15);
  int total = 5;
  for (int frame = 0; frame < 3; ++frame) {
    int n = TicksToRun();
    total += n;
    lastTick += n * tickMs;
  }
  EXPECT_EQ(total, 20);
}

TEST_F(Scheduler, SixtyTicksASecondIsReallySixtyTwoAndAHalf) {
  lastTick = ElapsedMillis() - tickMs;
  int ticks = 0;
  int start = ElapsedMillis();
  while (ElapsedMillis() - start < 8000) {
    int n = TicksToRun();
    ticks += n;
    lastTick += n * tickMs;
    AdvanceVirtualClock(15);
  }
  EXPECT_NEAR(ticks, 500, 2);  // 8 s at 62.5 ticks per second
}

namespace {
struct Pacing : ::testing::Test {
  void SetUp() override { UseVirtualClock(10000); }
  void TearDown() override { CloseGraphics(); }
};
}  // namespace

TEST_F(Pacing, FiftyHertzIsTwentyMillisecondsAFrame) {
  OpenGraphics(800, 600, 0, 50, 0);
  EXPECT_TRUE(framePacing.softSync);
  EXPECT_FALSE(framePacing.hardSync);
  EXPECT_EQ(framePacing.syncPeriod, 20);
  EXPECT_EQ(framePacing.syncFrac, 0);
  int t0 = ElapsedMillis();
  for (int i = 1; i <= 10; ++i) {
    AdvanceVirtualClock(3);  // some work
    Flip(-1);
    EXPECT_EQ(ElapsedMillis() - t0, 20 * i);
  }
}

TEST_F(Pacing, SixtyHertzAlternatesSixteenAndSeventeen) {
  OpenGraphics(800, 600, 0, 60, 0);
  EXPECT_EQ(framePacing.syncPeriod, 16);
  EXPECT_EQ(framePacing.syncFrac, 40);
  int t0 = ElapsedMillis(), last = t0;
  int lengths[6];
  for (int& len : lengths) {
    Flip(-1);
    len = ElapsedMillis() - last;
    last = ElapsedMillis();
  }
  EXPECT_EQ(lengths[0], 16);
  EXPECT_EQ(lengths[1], 17);
  EXPECT_EQ(lengths[2], 17);
  EXPECT_EQ(lengths[3], 16);
  EXPECT_EQ(ElapsedMillis() - t0, 100);  // 6 frames at 60 Hz
}

TEST_F(Pacing, ALateFramePacesTheNextFromItsLatePresentation) {
  OpenGraphics(800, 600, 0, 50, 0);
  int t0 = ElapsedMillis();
  AdvanceVirtualClock(35);  // a frame that took 35 ms
  Flip(-1);
  EXPECT_EQ(ElapsedMillis() - t0, 35);  // presented at once
  Flip(-1);
  EXPECT_EQ(ElapsedMillis() - t0, 55);  // 20 ms after the late one, not a burst
}

TEST_F(Pacing, NoRateAndExplicitSyncPresentAtOnce) {
  OpenGraphics(800, 600, 0, 0, 0);
  EXPECT_FALSE(framePacing.softSync);
  int t0 = ElapsedMillis();
  Flip(-1);
  Flip(0);
  Flip(1);
  EXPECT_EQ(ElapsedMillis(), t0);
  OpenGraphics(800, 600, 32, 60, 0);  // full screen waits for the vertical blank
  EXPECT_TRUE(framePacing.hardSync);
  EXPECT_FALSE(framePacing.softSync);
}

TEST_F(Pacing, FullScreenWhoseSwapsDoNotWaitIsPacedByTheClock) {
  OpenGraphics(800, 600, 32, 60, 0);  // the headless swaps return at once
  int t0 = ElapsedMillis();
  for (int i = 0; i <= VBLANK_PROBE_FRAMES; ++i) Flip(-1);
  EXPECT_FALSE(framePacing.hardSync);
  EXPECT_TRUE(framePacing.softSync);
  for (int i = 0; i < 60; ++i) Flip(-1);
  EXPECT_EQ(ElapsedMillis() - t0, 1000);  // from then on 60 frames a second
}

TEST(Display, ReopeningResetsTheStateAndBumpsTheSequence) {
  OpenGraphics(800, 600, 0, 0, 0);
  int seq = graphicsSeq;
  EXPECT_NE(seq, 0);
  SetColor(300, -5, 128);
  SetAlpha(1.5f);
  SetBlend(BLEND_LIGHT);
  SetDrawScale(2, 3);
  SetDrawRotation(90);
  SetDrawOrigin(5, 6);
  SetViewport(0, 0, 800, 530);
  const T2DGraphics* g = Current2D();
  EXPECT_EQ(g->color_red, 255);
  EXPECT_EQ(g->color_green, 0);
  EXPECT_EQ(g->color_blue, 128);
  EXPECT_EQ(g->color_alpha, 1.0f);
  EXPECT_NEAR(g->tform_ix, 0, 1e-6);
  EXPECT_NEAR(g->tform_iy, -3, 1e-6);
  EXPECT_NEAR(g->tform_jx, 2, 1e-6);
  SetAlpha(-0.2f);
  EXPECT_EQ(Current2D()->color_alpha, 0.0f);
  SetAlpha(std::nanf(""));
  EXPECT_EQ(Current2D()->color_alpha, 0.0f);

  OpenGraphics(800, 600, 0, 0, 0);
  g = Current2D();
  EXPECT_EQ(graphicsSeq, seq + 2);  // the close and the open
  EXPECT_EQ(g->color_red, 255);
  EXPECT_EQ(g->color_green, 255);
  EXPECT_EQ(g->color_alpha, 1.0f);
  EXPECT_EQ(g->blend_mode, BLEND_MASK);
  EXPECT_EQ(g->tform_scale_x, 1.0f);
  EXPECT_EQ(g->tform_rot, 0.0f);
  EXPECT_EQ(g->origin_x, 0.0f);
  EXPECT_EQ(g->viewport_h, 600);
  EXPECT_EQ(g->image_font, nullptr);
  CloseGraphics();
  EXPECT_EQ(Current2D(), nullptr);
}

TEST(Display, GraphicsSeqSkipsZeroWhenItWraps) {
  graphicsSeq = -1;
  OpenGraphics(800, 600, 0, 0, 0);
  EXPECT_EQ(graphicsSeq, 1);
  CloseGraphics();
}
