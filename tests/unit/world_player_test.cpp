// The ship: steering, painting and scoring, the combo, the gap, contact.
#include "tests/unit/world_test_util.h"

class ShipTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ParkChasers();
  }
  // One whole move: the steering tick plus two more.
  void Step() { Ticks(3); }
};

TEST_F(ShipTest, MovesOneCellInThreeTicksOfEightPixels) {
  Line(2, 5, 8, 5);
  PlaceShip(2, 5);
  Hold(KEY_RIGHT);
  player->Update();
  EXPECT_EQ(player->move, 2);
  EXPECT_EQ(player->x, CellCentreX(2) + 8);
  Ticks(2);
  EXPECT_EQ(player->move, 0);
  EXPECT_EQ(ShipCellX(), 3);
  EXPECT_EQ(player->x, CellCentreX(3));
  EXPECT_EQ(player->dx2, 1);
  EXPECT_EQ(player->spin, 90);
}

TEST_F(ShipTest, HeadingsFollowTheDirection) {
  Line(5, 5, 9, 5);
  Line(7, 3, 7, 7);
  PlaceShip(7, 5);
  Hold(KEY_LEFT);
  Step();
  EXPECT_EQ(player->spin, -90);
  Let(KEY_LEFT);
  Hold(KEY_RIGHT);
  Step();
  Let(KEY_RIGHT);
  Hold(KEY_UP);
  Step();
  EXPECT_EQ(player->spin, 0);
  Let(KEY_UP);
  Hold(KEY_DOWN);
  Step();
  EXPECT_EQ(player->spin, 180);
  Step();
  EXPECT_EQ(player->spin, 180);
}

TEST_F(ShipTest, BothHorizontalKeysKeepTheLastHorizontalDirection) {
  Line(2, 5, 12, 5);
  PlaceShip(5, 5);
  Hold(KEY_LEFT);
  Step();
  EXPECT_EQ(ShipCellX(), 4);
  Hold(KEY_RIGHT);  // both held now
  Step();
  EXPECT_EQ(ShipCellX(), 3);  // still left
  Let(KEY_LEFT);
  Let(KEY_RIGHT);

  // After a vertical move the pair means nothing.
  ClearLevelGrid();
  Line(5, 2, 5, 8);
  Line(2, 8, 8, 8);
  PlaceShip(5, 6);
  player->dx2 = player->dy2 = 0;
  Hold(KEY_DOWN);
  Ticks(6);
  EXPECT_EQ(ShipCellY(), 8);
  Let(KEY_DOWN);
  Hold(KEY_LEFT);
  Hold(KEY_RIGHT);
  player->Update();
  EXPECT_EQ(player->move, 0);
  EXPECT_EQ(player->x, CellCentreX(5));
}

TEST_F(ShipTest, ATurnWinsAtAJunction) {
  Line(2, 5, 12, 5);
  Line(6, 5, 6, 9);
  PlaceShip(4, 5);
  Hold(KEY_RIGHT);
  Hold(KEY_DOWN);  // no line below yet: keep going right
  Step();
  EXPECT_EQ(ShipCellX(), 5);
  Step();
  EXPECT_EQ(ShipCellX(), 6);
  Step();  // at the junction the turn wins
  EXPECT_EQ(ShipCellX(), 6);
  EXPECT_EQ(ShipCellY(), 6);
  EXPECT_EQ(player->spin, 180);

  // Running down, a sideways key with no line there keeps the ship going down.
  Let(KEY_RIGHT);
  Hold(KEY_LEFT);
  Step();
  EXPECT_EQ(ShipCellY(), 7);
}

TEST_F(ShipTest, NeverMovesOffTheLines) {
  Line(2, 5, 4, 5);
  PlaceShip(4, 5);
  Hold(KEY_RIGHT);
  Hold(KEY_UP);
  for (int i = 0; i < 10; i++) player->Update();
  EXPECT_EQ(player->x, CellCentreX(4));
  EXPECT_EQ(player->y, CellCentreY(5));
}

TEST_F(ShipTest, PaintingScoresByComboAndThrowsDebris) {
  TRecordingSound pickup;
  sndPickup = &pickup;
  Line(2, 5, 12, 5);
  levelGrid[3][5] = CELL_TRAIL;  // already painted: nothing for it
  PlaceShip(2, 5);
  player->x = CellCentreX(2);
  Hold(KEY_RIGHT);
  Step();
  EXPECT_EQ(ReadScore(), 0);
  EXPECT_TRUE(pickup.cues.empty());
  EXPECT_EQ(ParticleCount(), 0);
  EXPECT_EQ(combo, 36);

  combo = 100;
  Step();  // 3 ticks of decay first: 91 when the cell is reached
  EXPECT_EQ(levelGrid[4][5], CELL_TRAIL);
  EXPECT_EQ(ReadScore(), 91 / 36);
  EXPECT_EQ(combo, 91 + 12);
  ASSERT_EQ(pickup.cues.size(), 1u);
  EXPECT_NEAR(pickup.cues[0]->rate, 0.25f + 0.01f * 91, 1e-5);
  EXPECT_NEAR(pickup.cues[0]->pan, 0.0025f * (CellCentreX(3) + 16 - 400), 1e-5);
  ASSERT_EQ(ParticleCount(), 1);
  auto* d = dynamic_cast<TDebris*>(particles.back().get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->graphic, 1 + 2);  // a straight horizontal piece
  EXPECT_LE(d->dx, 4.0f);        // thrown forward along the run
  EXPECT_GE(d->dx, 1.0f);
}

TEST_F(ShipTest, ComboRisesTwelvePerCellAndDecaysWithinBounds) {
  Line(1, 5, 32, 5);
  PlaceShip(1, 5);
  Hold(KEY_RIGHT);
  int expected = 36;
  for (int cell = 0; cell < 31; cell++) {
    for (int t = 0; t < 3; t++) expected = std::max(36, expected - 3);
    expected = std::min(360, expected + 12);
    Step();
    ASSERT_EQ(combo, expected) << cell;
  }
  Let(KEY_RIGHT);
  combo = 360;
  for (int i = 0; i < 10; i++) player->Update();  // idle: 4 a tick
  EXPECT_EQ(combo, 320);
  for (int i = 0; i < 200; i++) player->Update();
  EXPECT_EQ(combo, 36);
  // The cap.
  ClearLevelGrid();
  Line(1, 5, 32, 5);
  PlaceShip(1, 5);
  combo = 359;
  Hold(KEY_RIGHT);
  Step();
  EXPECT_EQ(combo, 360);
}

TEST_F(ShipTest, BonusCountsDownEveryTickToZero) {
  bonus = 2;
  Ticks(5);
  EXPECT_EQ(bonus, 0);
}

TEST_F(ShipTest, NoGapBeforeTheFirstMove) {
  Line(2, 5, 12, 5);
  PlaceShip(5, 5);
  TapKey(KEY_SPACE);
  player->Update();
  EXPECT_EQ(player->block, 0);
  // The press was used up: the next move does not make a gap either.
  Hold(KEY_RIGHT);
  Step();
  player->Update();
  EXPECT_EQ(player->block, 0);
}

TEST_F(ShipTest, TheGapOpensBehindAndBarsTheWayBack) {
  TRecordingSound gap;
  sndMakeGap = &gap;
  Line(2, 5, 12, 5);
  PlaceShip(5, 5);
  Hold(KEY_RIGHT);
  Step();
  Let(KEY_RIGHT);
  ASSERT_EQ(ShipCellX(), 6);
  TapKey(KEY_SPACE);
  player->Update();
  EXPECT_EQ(player->bx, 5);
  EXPECT_EQ(player->by, 5);
  EXPECT_EQ(player->block, GAP_TICKS - 1);  // counted down in its opening tick
  EXPECT_EQ(gap.Started(), 1);
  EXPECT_TRUE(IsPlayerGap(5, 5));

  // It cannot be renewed while open, and the ship cannot go back into it.
  TapKey(KEY_SPACE);
  player->Update();
  EXPECT_EQ(player->block, GAP_TICKS - 2);
  Hold(KEY_LEFT);
  for (int i = 0; i < GAP_TICKS - 3; i++) player->Update();
  EXPECT_EQ(ShipCellX(), 6);
  EXPECT_EQ(player->block, 1);
  player->Update();  // last tick of the gap
  EXPECT_EQ(player->block, 0);
  Step();
  EXPECT_EQ(ShipCellX(), 5);
  EXPECT_EQ(levelGrid[5][5], CELL_TRAIL);  // the gap never changed the grid
}

class ShipContactTest : public ShipTest {
 protected:
  void SetUp() override {
    ShipTest::SetUp();
    shipImage = SolidImage(20, 20);
    chaserImage = SolidImage(20, 20);
    sndCollision = &collision;
    Line(2, 5, 12, 5);
    PlaceShip(5, 5);
  }
  TRecordingSound collision;
};

TEST_F(ShipContactTest, OverlapCostsHealthResetsComboAndExplodes) {
  chaser1->x = player->x + 10;
  chaser1->y = player->y;
  combo = 200;
  player->Update();
  EXPECT_EQ(ReadHealth(), 160 - 6);
  EXPECT_EQ(combo, 36);
  EXPECT_EQ(ParticleCount(), 3);
  EXPECT_EQ(player->untouched, 0);
  ASSERT_EQ(collision.cues.size(), 1u);
  EXPECT_GE(collision.cues[0]->rate, 0.5f);
  EXPECT_LE(collision.cues[0]->rate, 0.8f);
  EXPECT_FLOAT_EQ(collision.cues[0]->volume, 0.5f);
  EXPECT_EQ(Current2D()->tform_rot, 0.0f);
}

TEST_F(ShipContactTest, CloseWithoutOverlapOnlyClearsUntouched) {
  chaser1->x = player->x + 25;  // inside the 26-pixel box, images 20 wide apart
  chaser1->y = player->y + 25;
  player->Update();
  EXPECT_EQ(ReadHealth(), 160);
  EXPECT_EQ(ParticleCount(), 0);
  EXPECT_EQ(player->untouched, 0);
  EXPECT_EQ(collision.cues.size(), 1u);

  chaser1->x = player->x + 26;  // outside the box
  player->untouched = 1;
  player->Update();
  EXPECT_EQ(player->untouched, 1);
  EXPECT_EQ(collision.cues.size(), 1u);
}

TEST_F(ShipContactTest, TheSecondChaserCountsOnlyWhenInPlay) {
  chaser2->x = player->x;
  chaser2->y = player->y;
  chaserCount = 1;
  player->Update();
  EXPECT_EQ(ReadHealth(), 160);
  chaserCount = 2;
  player->Update();
  EXPECT_EQ(ReadHealth(), 154);
  // Both on the ship: two hits, one sound.
  chaser1->x = player->x;
  chaser1->y = player->y;
  player->Update();
  EXPECT_EQ(ReadHealth(), 142);
  EXPECT_EQ(collision.cues.size(), 2u);
}
