// The level grid: layouts, construction animation, tiles and the count.
#include <algorithm>
#include <cmath>

#include "tests/unit/world_test_util.h"

using LevelBuild = WorldTest;

namespace {
int CountCells(int value) {
  int n = 0;
  for (int x = 0; x < GRID_W; x++)
    for (int y = 0; y < GRID_H; y++) n += levelGrid[x][y] == value;
  return n;
}
int MarkedCells() { return CountCells(CELL_LINE) + CountCells(CELL_TRAIL); }
}  // namespace

TEST_F(LevelBuild, EveryLayoutBuildsItsCellsAndBonus) {
  const int cells[6] = {172, 196, 312, 261, 288, 278};
  const int bonuses[6] = {1204, 1372, 2184, 1827, 2016, 1946};
  for (int n = 1; n <= 6; n++) {
    SCOPED_TRACE(n);
    SelectLayout(n);
    BuildLevel();
    EXPECT_EQ(MarkedCells(), cells[n - 1]);
    EXPECT_EQ(CountCells(CELL_TRAIL), 1);  // the start cell
    EXPECT_EQ(maxBonus, bonuses[n - 1]);
    EXPECT_EQ(bonus, maxBonus);
    EXPECT_EQ(levelGrid[ShipCellX()][ShipCellY()], CELL_TRAIL);
    // The chasers start on a line with exactly two line neighbours.
    for (TChaser* c : {chaser1, chaser2}) {
      int cx = CellOfX(c->x), cy = CellOfY(c->y);
      EXPECT_GT(levelGrid[cx][cy], 0);
      int m = neighbourMask(cx, cy);
      EXPECT_EQ(__builtin_popcount(m), 2);
      EXPECT_EQ(c->move, 0);
    }
    EXPECT_EQ(chaser1->id, 1);
    EXPECT_EQ(chaser2->id, 2);
    // All cells stay inside the tiled window.
    for (int x = 0; x < GRID_W; x++)
      for (int y = 0; y < GRID_H; y++)
        if (levelGrid[x][y]) {
          EXPECT_TRUE(x >= 1 && x <= 32 && y >= 1 && y <= 22);
        }
  }
}

TEST_F(LevelBuild, BuildResetsTheShipForTheLevel) {
  player->move = 2;
  player->block = 40;
  player->untouched = 0;
  player->dx2 = 1;
  player->spin = 180;
  SelectLayout(2);
  BuildLevel();
  EXPECT_EQ(player->x, 24 * 12 + 4);
  EXPECT_EQ(player->y, 24 * 19);
  EXPECT_EQ(player->move, 0);
  EXPECT_EQ(player->block, 0);
  EXPECT_EQ(player->untouched, 1);
  EXPECT_EQ(player->dx2, 0);
  EXPECT_EQ(player->spin, 180);  // kept from the last level
  EXPECT_EQ(lineColour[0], 55);
  EXPECT_EQ(trailColour[2], 105);
}

TEST_F(LevelBuild, FramesFollowThePenAndTheSoundRisesInPitch) {
  TRecordingSound draw;
  sndDrawLevel = &draw;
  std::vector<int> marked;  // cells marked when each frame was shown
  std::vector<int> row1;    // row 1 of the grid at the first pen flash
  std::vector<int> cuedAt;  // cells marked when each draw sound was cued
  SetFrameHook([&] {
    marked.push_back(MarkedCells());
    if (marked.size() == 4)
      for (int x = 0; x <= 11; x++) row1.push_back(levelGrid[x][1]);
    while (cuedAt.size() < draw.cues.size()) cuedAt.push_back(marked.back());
  });
  SelectLayout(1);
  BuildLevel();
  SetFrameHook(nullptr);

  // Build frames after cells 1, 5 and 9, then four pen flashes after the run.
  ASSERT_GE(marked.size(), 8u);
  EXPECT_EQ(std::vector<int>(marked.begin(), marked.begin() + 8),
            (std::vector<int>{1, 5, 9, 9, 9, 9, 9, 13}));
  // The run (10, 0) from (1, 1) marks (1,1)..(9,1) and leaves the pen on (10,1).
  EXPECT_EQ(row1, (std::vector<int>{0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0}));

  // The draw sound after cells 1, 17, 33 ..., each a little higher.
  ASSERT_GE(draw.cues.size(), 3u);
  EXPECT_EQ(cuedAt[0], 1);
  EXPECT_EQ(cuedAt[1], 17);
  EXPECT_EQ(cuedAt[2], 33);
  for (size_t i = 0; i < draw.cues.size(); i++) {
    EXPECT_NEAR(draw.cues[i]->rate, 0.505f + 0.08f * i, 1e-4);
    EXPECT_FLOAT_EQ(draw.cues[i]->volume, 0.5f);
    EXPECT_FALSE(draw.cues[i]->paused);
  }
  // The first sound: pen on (2, 1) after the first cell.
  EXPECT_NEAR(draw.cues[0]->pan, 0.066f * (2 - 15), 1e-5);
  // 20 chaser and 20 ship entrance frames close the build.
  const int runs = 12;
  EXPECT_GE(int(marked.size()), 4 * runs + 40);
  EXPECT_EQ(marked.back(), 172);
}

TEST_F(LevelBuild, MaxBonusIncludesTheStartCell) {
  SelectLayout(1);
  BuildLevel();
  DrawLevel();
  EXPECT_EQ(cellsLeft, 171);
  EXPECT_EQ(maxBonus, 172 * 7);
}

TEST_F(LevelBuild, NeighbourMaskSelectsTheTile) {
  Line(5, 5, 7, 5);
  Line(6, 4, 6, 6, CELL_TRAIL);
  EXPECT_EQ(neighbourMask(6, 5), 1 + 2 + 4 + 8);
  EXPECT_EQ(neighbourMask(5, 5), 1);
  EXPECT_EQ(neighbourMask(7, 5), 2);
  EXPECT_EQ(neighbourMask(6, 4), 8);
  EXPECT_EQ(neighbourMask(6, 6), 4);
  EXPECT_EQ(neighbourMask(20, 20), 0);
}

using LevelDraw = WorldTest;

TEST_F(LevelDraw, CountsEveryUnpaintedCellButDrawsOnlyConnectedOnes) {
  tiles4 = BlankImage(24, 24, 128);
  tiles10 = BlankImage(24, 24, 16);
  for (int f = 0; f < 128; f++) LockImageFrame(tiles4, f, true, true);
  for (int f = 0; f < 16; f++) LockImageFrame(tiles10, f, true, true);
  level = 2;
  Line(2, 2, 6, 2);
  levelGrid[3][2] = CELL_TRAIL;
  levelGrid[10][10] = CELL_LINE;  // no neighbours: counted, never drawn
  player->block = 100;            // the gap is counted but not drawn
  player->bx = 5;
  player->by = 2;
  SetHeadlessDrawLogging(true);
  DrawLevel();
  EXPECT_EQ(cellsLeft, 5);
  int images = 0;
  for (auto& c : HeadlessDrawLog())
    if (c.kind == 'I') {
      images++;
      EXPECT_NE(c.tx, 24 * 5 + 4.0f);   // not the gap
      EXPECT_NE(c.tx, 24 * 10 + 4.0f);  // not the lonely cell
    }
  EXPECT_EQ(images, 4 * 4);  // four cells, four tile draws each
  EXPECT_EQ(GetBlend(), BLEND_LIGHT);
}

TEST_F(LevelDraw, InstructionsFadeOverTheLastHundredCells) {
  // Without tile images every image draw of the frame is instruction text.
  auto textDraws = [&](int cells, int lvl) {
    level = lvl;
    ClearLevelGrid();
    for (int i = 0; i < cells; i++) levelGrid[1 + i % 32][1 + i / 32] = CELL_LINE;
    SetHeadlessDrawLogging(true);
    DrawLevel();
    EXPECT_EQ(cellsLeft, cells);
    std::vector<THeadlessDrawCall> texts;
    for (auto& c : HeadlessDrawLog())
      if (c.kind == 'I') texts.push_back(c);
    SetHeadlessDrawLogging(false);
    EXPECT_FLOAT_EQ(GetAlpha(), 1.0f);
    return texts;
  };
  for (auto [cells, alpha] : {std::pair{150, 1.0f}, {100, 1.0f}, {40, 0.4f}, {1, 0.01f}}) {
    SCOPED_TRACE(cells);
    auto texts = textDraws(cells, 1);
    ASSERT_FALSE(texts.empty());
    for (auto& t : texts) {
      EXPECT_FLOAT_EQ(t.alpha, alpha);
      EXPECT_TRUE((t.r == 50 && t.g == 50 && t.b == 5) || (t.r == 50 && t.g == 5 && t.b == 5));
      EXPECT_EQ(t.blend, BLEND_LIGHT);
    }
  }
  EXPECT_TRUE(textDraws(40, 2).empty());  // only level 1 explains the game
}
