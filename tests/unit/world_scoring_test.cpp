// Counters, colours, the status panel and the level-complete sequence.
#include <cstring>

#include "media/system.h"
#include "tests/unit/world_test_util.h"

TEST(ProtectedCounterTest, AddsReadsAndSetsWithoutThePlainValueInMemory) {
  ProtectedCounter c;
  EXPECT_EQ(c.Read(), 0);
  c.Set(123456789);
  c.Add(-6);
  EXPECT_EQ(c.Read(), 123456783);
  c.Set(-5);
  c.Add(3);
  EXPECT_EQ(c.Read(), -2);
  c.Set(160);
  uint32_t words[sizeof(ProtectedCounter) / 4];
  std::memcpy(words, &c, sizeof words);
  for (uint32_t w : words) EXPECT_NE(w, 160u);
  ProtectedCounter d;
  d.Set(160);
  EXPECT_NE(std::memcmp(&c, &d, sizeof c), 0);  // every counter has its own key
  EXPECT_EQ(d.Read(), 160);
}

TEST(ColourTest, HslGivesTheGameColours) {
  if (!Current2D()) OpenGraphics(800, 600, 0, 60, 0);
  auto rgb = [] {
    auto* g = Current2D();
    return std::array<int, 3>{g->color_red, g->color_green, g->color_blue};
  };
  SetColorHSL(0, 1, 0.5f);
  EXPECT_EQ(rgb(), (std::array<int, 3>{255, 0, 0}));
  SetColorHSL(0.5f, 1, 0.5f);  // 0.6666 instead of two thirds: one short of full green
  EXPECT_EQ(rgb(), (std::array<int, 3>{0, 254, 255}));
  SetColorHSL(0.3f, 0, 0.5f);
  EXPECT_EQ(rgb(), (std::array<int, 3>{127, 127, 127}));
  SetColorHSL(-0.2f, 0.5f, 0.35f);  // the bonus gauge's negative hues wrap round
  auto c = rgb();
  SetColorHSL(0.8f, 0.5f, 0.35f);
  EXPECT_EQ(rgb(), c);
  SetColorHSL(0.1f, 0.5f, 0.75f);  // light colours take the other branch
  EXPECT_EQ(rgb(), (std::array<int, 3>{223, 197, 159}));
  EXPECT_FLOAT_EQ(HueToChannel(0, 1, 1.5f), HueToChannel(0, 1, 0.5f));
  EXPECT_NEAR(HueToChannel(0.2f, 0.8f, 0.1f), 0.56f, 1e-6);
}

TEST(ScoreTextTest, PadsToSevenDigits) {
  EXPECT_EQ(ScoreText(0), u"0000000");
  EXPECT_EQ(ScoreText(1234), u"0001234");
  EXPECT_EQ(ScoreText(12345678), u"12345678");
}

class HudTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    wedgeImage = SolidImage(40, 40);
  }
  // The lit wedges (scale 0.75) of the gauge centred at x.
  static std::vector<THeadlessDrawCall> Lit(float x) {
    std::vector<THeadlessDrawCall> lit;
    for (auto& c : HeadlessDrawLog())
      if (c.kind == 'I' && c.tx == x && std::abs(std::hypot(c.ix, c.jx) - 0.75f) < 1e-4)
        lit.push_back(c);
    return lit;
  }
  static int Backings(float x) {
    int n = 0;
    for (auto& c : HeadlessDrawLog())
      n += c.kind == 'I' && c.tx == x && std::abs(std::hypot(c.ix, c.jx) - 0.85f) < 1e-4;
    return n;
  }
};

TEST_F(HudTest, ComboGaugeAtFiftyFour) {
  combo = 54;
  SetHeadlessDrawLogging(true);
  DrawHud();
  EXPECT_EQ(Backings(50), 10);
  auto lit = Lit(50);
  ASSERT_EQ(lit.size(), 2u);
  EXPECT_FLOAT_EQ(lit[0].alpha, 1.0f);
  EXPECT_NEAR(lit[1].alpha, 0.5f, 1e-4);
  EXPECT_FLOAT_EQ(GetAlpha(), 1.0f);
}

TEST_F(HudTest, BonusGaugeOnLevelOne) {
  maxBonus = 1204;
  for (auto [b, segments, lastAlpha] : {std::tuple{1204, 10, 1.0f},
                                        {1080, 10, 1.0f},
                                        {1000, 10, (1000 / 3.0f - 324) / 36},
                                        {972, 9, 1.0f},
                                        {0, 0, 0.0f}}) {
    SCOPED_TRACE(b);
    bonus = b;
    SetHeadlessDrawLogging(true);
    DrawHud();
    EXPECT_EQ(Backings(750), 10);
    auto lit = Lit(750);
    ASSERT_EQ(int(lit.size()), segments);
    if (segments) { EXPECT_NEAR(lit.back().alpha, lastAlpha, 1e-4); }
  }
}

TEST_F(HudTest, BonusGaugeStaysDarkWithoutAScale) {
  for (int m : {0, 359}) {
    maxBonus = m;
    bonus = 200;
    SetHeadlessDrawLogging(true);
    DrawHud();
    EXPECT_TRUE(Lit(750).empty());
    EXPECT_EQ(BonusGaugeDegrees(), 0.0f);
  }
}

TEST_F(HudTest, HealthBarOnlyWithHealth) {
  auto bars = [] {
    int n = 0;
    for (auto& c : HeadlessDrawLog()) n += c.kind == 'R';
    return n;
  };
  SetHealth(0);
  SetHeadlessDrawLogging(true);
  DrawHud();
  EXPECT_EQ(bars(), 0);
  SetHealth(155);
  SetHeadlessDrawLogging(true);
  DrawHud();
  ASSERT_EQ(bars(), 1);
  for (auto& c : HeadlessDrawLog())
    if (c.kind == 'R') { EXPECT_FLOAT_EQ(c.x1 - c.x0, 155.0f); }
}

TEST_F(HudTest, CloseRequestEndsTheProgram) {
  InjectInputEvent({InputEventKind::Close, 0});
  try {
    DrawHud();
    FAIL() << "DrawHud returned";
  } catch (const ProgramEnded& e) {
    EXPECT_EQ(e.status, 0);
  }
}

class LevelCompleteTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ParkChasers();
    playState = 2;
    wipeStep = 0;
  }
  // Runs frames until the frame counter reaches t.
  static void RunTo(int t) {
    WaitingFor wait("the level-complete frame counter to reach " + std::to_string(t), 1000);
    while (playState < t) LevelCompleteFrame();
  }
};

TEST_F(LevelCompleteTest, UntouchedLevelDoublesIntoPlatinum) {
  TRecordingSound untouched;
  sndUntouched = &untouched;
  maxBonus = 1204;
  bonus = 700;
  player->untouched = 1;
  SetHealth(150);
  // Before the first frame, as RunLevelComplete does.
  bonusPercent = int(100.0 * bonus / maxBonus);
  EXPECT_EQ(bonusPercent, 58);
  RunTo(51);
  EXPECT_EQ(bonus, 1400);
  EXPECT_EQ(bonusPercent, 116);
  EXPECT_EQ(untouched.Started(), 1);
  RunTo(101);
  EXPECT_EQ(awardText, u"PLATINUM Bonus Award!!!");
  EXPECT_EQ(pointsText, u"Points = 1400 (116%)");
  EXPECT_EQ(ReadHealth(), 160);  // the boost comes either way
}

TEST_F(LevelCompleteTest, AwardTiers) {
  const std::pair<int, const char16_t*> tiers[] = {{0, u"Sorry, no bonus..."},
                                                   {1, u"BRONZE Bonus Award.."},
                                                   {26, u"SILVER Bonus Award!"},
                                                   {51, u"GOLD Bonus Award!!"},
                                                   {50, u"SILVER Bonus Award!"}};
  for (auto [percent, text] : tiers) {
    playState = 2;
    player->untouched = 0;
    maxBonus = 1000;
    bonus = percent * 10;
    bonusPercent = percent;
    RunTo(101);
    EXPECT_EQ(awardText, text);
  }
}

TEST_F(LevelCompleteTest, PayOutNineteenAFrame) {
  maxBonus = 1204;
  bonus = 40;
  bonusPercent = 3;
  player->untouched = 0;
  SetScore(1000);
  RunTo(111);
  EXPECT_EQ(ReadScore(), 1000);
  std::vector<int> paid;
  for (int i = 0; i < 4; i++) {
    int before = ReadScore();
    LevelCompleteFrame();
    paid.push_back(ReadScore() - before);
  }
  EXPECT_EQ(paid, (std::vector<int>{19, 19, 2, 0}));
  EXPECT_EQ(bonus, 0);
}

TEST_F(LevelCompleteTest, HealthBoostStopsAtTheFullBar) {
  SetHealth(155);
  player->untouched = 0;
  std::vector<int> boosts;
  while (playState < 100) {
    int t = playState, before = ReadHealth();
    LevelCompleteFrame();
    if (ReadHealth() != before) boosts.push_back(t);
  }
  EXPECT_EQ(boosts, (std::vector<int>{33, 37, 41, 45, 49}));
  EXPECT_EQ(ReadHealth(), 160);
}

TEST_F(LevelCompleteTest, NoBonusThenSpaceAndTheWipe) {
  TRecordingSound pay;
  sndBonus = &pay;
  maxBonus = 1204;
  bonus = 0;
  player->untouched = 0;
  int frames = 0, spaceAt = 0;
  SetFrameHook([&] {
    frames++;
    if (playState == 205 && !spaceAt) {
      spaceAt = frames;
      TapKey(KEY_SPACE);
    }
  });
  RunLevelComplete();
  EXPECT_EQ(awardText, u"Sorry, no bonus...");
  EXPECT_EQ(playState, 2);
  EXPECT_EQ(wipeStep, 25);
  EXPECT_EQ(frames, spaceAt + 24);  // the SPACE frame starts a 24-frame wipe
  EXPECT_EQ(pay.Started(), 0);
}

TEST_F(LevelCompleteTest, SpaceIsIgnoredUntilTheBonusIsPaid) {
  maxBonus = 1204;
  bonus = 5000;
  player->untouched = 0;
  SetFrameHook([] { TapKey(KEY_SPACE); });
  RunTo(250);
  EXPECT_EQ(wipeStep, 0);
  SetFrameHook(nullptr);
}

TEST_F(LevelCompleteTest, EscapeQuitsWithOneFullWipe) {
  maxBonus = 1204;
  bonus = 300;
  int frames = 0;
  SetFrameHook([&] {
    if (++frames == 40) TapKey(KEY_ESCAPE);
  });
  SetHeadlessDrawLogging(true);
  RunLevelComplete();
  EXPECT_EQ(playState, 3);
  EXPECT_EQ(wipeStep, 26);
  EXPECT_EQ(frames, 41);
  // The last rectangle of the last frame covers the play area.
  const THeadlessDrawCall* last = nullptr;
  for (auto& c : HeadlessDrawLog())
    if (c.kind == 'R' && c.r == 0 && c.g == 0 && c.b == 0) last = &c;
  ASSERT_NE(last, nullptr);
  EXPECT_FLOAT_EQ(last->tx + last->x0, 0.0f);
  EXPECT_FLOAT_EQ(last->ty + last->y0, 0.0f);
  EXPECT_FLOAT_EQ(last->x1 - last->x0, 800.0f);
  EXPECT_FLOAT_EQ(last->y1 - last->y0, 550.0f);
}
