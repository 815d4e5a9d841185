// The chasers: first moves, the odds at corners and junctions, the gap,
// speeds.
#include <map>

#include "tests/unit/world_test_util.h"

namespace {
std::pair<int, int> P(int dx, int dy) { return {dx, dy}; }
}  // namespace

class ChaserTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    sndChaserTurn = &turn;
    delete chaser1;
    delete chaser2;
    chaser1 = new TChaser;
    chaser1->id = 1;
    chaser2 = new TChaser;
    chaser2->id = 2;
    PlaceShip(30, 1);  // out of the way, gap closed
  }
  static void PlaceChaser(TChaser* c, int cx, int cy, int dx2, int dy2) {
    c->x = CellCentreX(cx);
    c->y = CellCentreY(cy);
    c->dx2 = c->dx = dx2;
    c->dy2 = c->dy = dy2;
    c->move = 0;
    // The heading the last move left.
    c->spin = dx2 == 1 ? 90 : dx2 == -1 ? -90 : dy2 == 1 ? 180 : 0;
  }
  // One decision and its move; returns the step chosen.
  static std::pair<int, int> Decide(TChaser* c) {
    c->Update();
    int dx = c->dx, dy = c->dy;
    while (c->move != 0) c->Update();
    return {dx, dy};
  }
  TRecordingSound turn;
};

// Both chasers back on their start cell, before their first move.
static void Restart(int seed) {
  static int startX, startY;
  if (chaser1->dx2 == 0 && chaser1->dy2 == 0 && chaser1->move == 0) {
    startX = chaser1->x;
    startY = chaser1->y;
  }
  SeedRandom(seed);
  for (TChaser* c : {chaser1, chaser2}) {
    c->x = startX;
    c->y = startY;
    c->dx = c->dy = c->dx2 = c->dy2 = c->spin = c->move = 0;
  }
}

TEST_F(ChaserTest, FirstMovesOnLayoutOneSplitUpAndDown) {
  chaserCount = 2;
  SelectLayout(1);
  BuildLevel();
  for (int seed = 1; seed <= 40; seed++) {
    Restart(seed * 7919);
    chaser1->Update();
    chaser2->Update();
    EXPECT_EQ(P(chaser1->dx, chaser1->dy), P(0, 1));
    EXPECT_EQ(P(chaser2->dx, chaser2->dy), P(0, -1));
    EXPECT_EQ(chaser1->spin, 180);
    EXPECT_EQ(chaser2->spin, 0);
  }
  EXPECT_TRUE(turn.cues.empty());  // no sound for the first move
}

TEST_F(ChaserTest, FirstMovesOnLayoutFourMostlyBothLeft) {
  chaserCount = 2;
  SelectLayout(4);
  BuildLevel();
  std::map<std::pair<int, int>, int> second;
  const int games = 1000;
  for (int seed = 1; seed <= games; seed++) {
    Restart(seed * 104729);
    chaser1->Update();
    chaser2->Update();
    EXPECT_EQ(P(chaser1->dx, chaser1->dy), P(-1, 0));
    EXPECT_EQ(chaser1->spin, -90);
    second[P(chaser2->dx, chaser2->dy)]++;
  }
  EXPECT_EQ(second[P(-1, 0)] + second[P(0, -1)], games);
  EXPECT_NEAR(second[P(-1, 0)] / double(games), 0.75, 0.05);
}

TEST_F(ChaserTest, WithOneChaserAnyOpenDirectionWillDo) {
  chaserCount = 1;
  SelectLayout(1);
  BuildLevel();
  std::map<std::pair<int, int>, int> first;
  for (int seed = 1; seed <= 200; seed++) {
    Restart(seed * 31337);
    chaser1->Update();
    first[P(chaser1->dx, chaser1->dy)]++;
  }
  EXPECT_EQ(first[P(0, 1)] + first[P(0, -1)], 200);
  EXPECT_GT(first[P(0, -1)], 50);
  EXPECT_GT(first[P(0, 1)], 50);
}

TEST_F(ChaserTest, NeverTurnsOnAStraightLine) {
  Line(2, 5, 30, 5);
  PlaceChaser(chaser1, 3, 5, 1, 0);
  for (int i = 0; i < 25; i++) Decide(chaser1);
  EXPECT_EQ(CellOfX(chaser1->x), 28);
  EXPECT_TRUE(turn.cues.empty());
}

TEST_F(ChaserTest, TakesACornerThreeTimesInFourAndOtherwiseReverses) {
  Line(2, 5, 10, 5);
  Line(10, 5, 10, 12);
  int corner = 0;
  const int tries = 2000;
  for (int i = 0; i < tries; i++) {
    PlaceChaser(chaser1, 10, 5, 1, 0);
    auto step = Decide(chaser1);
    ASSERT_TRUE(step == std::make_pair(0, 1) || step == std::make_pair(-1, 0));
    corner += step == std::make_pair(0, 1);
  }
  EXPECT_NEAR(corner / double(tries), 0.74, 0.04);
  EXPECT_EQ(int(turn.cues.size()), tries);  // the sound plays either way
  EXPECT_FLOAT_EQ(turn.cues[0]->rate, 0.75f);
  EXPECT_NEAR(turn.cues[0]->pan, 0.02f * ((CellCentreX(10) / 10) - 40), 1e-5);
}

TEST_F(ChaserTest, AtAJunctionOddsFollowTheFixedPercentages) {
  // Running right into a cross: left (up) 40 %, right (down) 24 %, on 36 %.
  Line(2, 5, 20, 5);
  Line(10, 1, 10, 12);
  std::map<std::pair<int, int>, int> seen;
  const int tries = 4000;
  for (int i = 0; i < tries; i++) {
    PlaceChaser(chaser1, 10, 5, 1, 0);
    seen[Decide(chaser1)]++;
  }
  EXPECT_NEAR(seen[P(0, -1)] / double(tries), 0.40, 0.03);
  EXPECT_NEAR(seen[P(0, 1)] / double(tries), 0.24, 0.03);
  EXPECT_NEAR(seen[P(1, 0)] / double(tries), 0.36, 0.03);
  EXPECT_EQ(seen[P(-1, 0)], 0);
}

TEST_F(ChaserTest, ReversesAtADeadEnd) {
  Line(2, 5, 10, 5);
  PlaceChaser(chaser1, 10, 5, 1, 0);
  EXPECT_EQ(Decide(chaser1), std::make_pair(-1, 0));
  EXPECT_EQ(turn.cues.size(), 1u);
  EXPECT_EQ(chaser1->spin, -90);
}

TEST_F(ChaserTest, TheGapIsMissingTrack) {
  Line(2, 5, 20, 5);
  PlaceChaser(chaser1, 8, 5, 1, 0);
  player->block = 100;
  player->bx = 9;
  player->by = 5;
  EXPECT_EQ(Decide(chaser1), std::make_pair(-1, 0));
  // A gap to the side is never taken.
  Line(8, 5, 8, 10);
  player->bx = 8;
  player->by = 6;
  for (int i = 0; i < 50; i++) {
    PlaceChaser(chaser1, 8, 5, -1, 0);
    EXPECT_NE(Decide(chaser1), std::make_pair(0, 1));
  }
  // Once the gap has closed the track is whole again.
  player->block = 0;
  player->bx = 9;
  player->by = 5;
  PlaceChaser(chaser1, 8, 5, 1, 0);
  chaser1->spin = 90;
  levelGrid[8][6] = 0;
  EXPECT_EQ(Decide(chaser1), std::make_pair(1, 0));
}

TEST_F(ChaserTest, SpeedsAreFourAndThreeTicksPerCell) {
  Line(2, 5, 30, 5);
  for (int speed : {1, 2}) {
    chaserSpeed = speed;
    PlaceChaser(chaser1, 5, 5, 1, 0);
    int ticks = 0;
    do {
      chaser1->Update();
      ticks++;
    } while (chaser1->move != 0);
    EXPECT_EQ(ticks, speed == 1 ? 4 : 3);
    EXPECT_EQ(chaser1->x, CellCentreX(6));
  }
}

TEST_F(ChaserTest, TurnSoundIsSilentOutsidePlay) {
  Line(2, 5, 10, 5);
  playState = 2;
  PlaceChaser(chaser1, 10, 5, 1, 0);
  Decide(chaser1);
  EXPECT_TRUE(turn.cues.empty());
}

TEST_F(ChaserTest, LeavesLightWithTheBlueTakenAway) {
  trailColour[0] = 10;
  trailColour[1] = 20;
  trailColour[2] = 30;
  Line(2, 5, 10, 5);
  PlaceChaser(chaser1, 5, 5, 1, 0);
  chaser1->Update();
  int i = chaser1->x / 12 + 2, j = chaser1->y / 12 + 2;
  EXPECT_EQ(lightMap[i][j][0], 50);
  EXPECT_EQ(lightMap[i][j][1], 100);
  EXPECT_EQ(lightMap[i][j][2], -150);
}

TEST_F(ChaserTest, BacksOutWhenStandingInThinAir) {
  PlaceChaser(chaser1, 5, 5, 1, 0);
  chaser1->Update();
  EXPECT_EQ(chaser1->move, 3);
  EXPECT_EQ(chaser1->dx, -1);
  EXPECT_EQ(chaser1->x, CellCentreX(5));  // no step in that tick
}

TEST_F(ChaserTest, DoesNothingWhileScaled) {
  Line(2, 5, 10, 5);
  PlaceChaser(chaser1, 5, 5, 1, 0);
  chaser1->scale = 0.5f;
  chaser1->Update();
  EXPECT_EQ(chaser1->x, CellCentreX(5));
  EXPECT_EQ(chaser1->move, 0);
}
