// The light map and the glow layers.
#include "tests/unit/world_test_util.h"

using LightMap = WorldTest;

TEST_F(LightMap, DepositsLandInTheTwelvePixelSquare) {
  struct Case {
    int x, y, i, j;
  } cases[] = {{0, 0, 2, 2},   {11, 11, 2, 2},    {12, 12, 3, 3},
               {-1, -1, 2, 2}, {-35, 575, 0, 49}, {815, 0, 69, 2}};
  for (auto c : cases) {
    for (auto& col : lightMap)
      for (auto& cell : col) cell[0] = cell[1] = cell[2] = 0;
    AddLight(c.x, c.y, 7, 8, -9);
    EXPECT_EQ(lightMap[c.i][c.j][0], 7) << c.x << "," << c.y;
    EXPECT_EQ(lightMap[c.i][c.j][1], 8);
    EXPECT_EQ(lightMap[c.i][c.j][2], -9);
  }
}

TEST_F(LightMap, PositionsOffTheMapAreIgnored) {
  for (auto& col : lightMap)
    for (auto& cell : col) cell[0] = cell[1] = cell[2] = 0;
  for (auto [x, y] : {std::pair{-36, 100}, {828, 100}, {100, -36}, {100, 588}, {100000, -100000}})
    AddLight(x, y, 1000, 1000, 1000);
  long total = 0;
  for (auto& col : lightMap)
    for (auto& cell : col) total += cell[0] + cell[1] + cell[2];
  EXPECT_EQ(total, 0);
}

TEST_F(LightMap, OnePassMatchesTheWorkedExample) {
  for (auto& col : lightMap)
    for (auto& cell : col) cell[0] = cell[1] = cell[2] = 0;
  lightMap[30][20][0] = 1000;
  SmoothLightMap();
  const int expected[5][5] = {{0, 198, 39, 7, 1},
                              {198, 276, 62, 13, 2},
                              {39, 62, 24, 7, 1},
                              {7, 13, 7, 2, 0},
                              {1, 2, 1, 0, 0}};
  int inside = 0, total = 0;
  for (int j = 19; j <= 23; j++)
    for (int i = 29; i <= 33; i++) {
      EXPECT_EQ(lightMap[i][j][0], expected[j - 19][i - 29]) << i << "," << j;
      inside += lightMap[i][j][0];
    }
  for (auto& col : lightMap)
    for (auto& cell : col) {
      total += cell[0];
      EXPECT_EQ(cell[1], 0);
      EXPECT_EQ(cell[2], 0);
    }
  EXPECT_EQ(total, inside);  // nothing anywhere else
}

TEST_F(LightMap, SmallSumsVanishAndTheBorderStays) {
  for (auto& col : lightMap)
    for (auto& cell : col) cell[0] = cell[1] = cell[2] = 0;
  lightMap[10][10][1] = 5;    // sum 5: 0.99 truncates to 0
  lightMap[40][30][2] = -5;   // negative light truncates toward zero too
  lightMap[20][20][0] = 101;  // 101 / 5.05 gives 19, not 20
  lightMap[0][0][0] = 50;     // a border cell is never touched
  SmoothLightMap();
  EXPECT_EQ(lightMap[10][10][1], 0);
  EXPECT_EQ(lightMap[40][30][2], 0);
  EXPECT_EQ(lightMap[19][20][0], 19);
  EXPECT_EQ(lightMap[0][0][0], 50);
  ClearLightMap();
  EXPECT_EQ(lightMap[0][0][0], 50);
  EXPECT_EQ(lightMap[20][20][0], 0);
}

TEST_F(LightMap, PixelAlphaComesFromTheUnclampedSum) {
  EXPECT_EQ(LightPixel(200, 200, 200) >> 24, 127u);
  EXPECT_EQ(LightPixel(0, 0, 0), 0u);
  EXPECT_EQ(LightPixel(10, 20, 30), (30u << 24) | (10u << 16) | (20u << 8) | 30u);

  lightImage = BlankImage(70, 50, 1);
  for (auto& col : lightMap)
    for (auto& cell : col) cell[0] = cell[1] = cell[2] = 0;
  lightMap[5][5][0] = 600;  // red clamps to 255, alpha 127
  lightMap[6][5][0] = 100;
  lightMap[6][5][2] = -100;  // sum 0: invisible although red is set
  DrawLightMap();
  TPixmap* p = LockImageFrame(lightImage, 0, true, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ReadPixel(5, 5), 0x7FFF0000u);
  EXPECT_EQ(p->ReadPixel(6, 5) >> 24, 0u);
  UnlockImageFrame(lightImage, 0);
  EXPECT_FLOAT_EQ(Current2D()->tform_scale_x, 1.0f);
}

using GridGlow = WorldTest;

TEST_F(GridGlow, GridImageShowsTheColoursWithTheGapAsAHole) {
  gridImage = BlankImage(34, 24, 2);
  lineColour[0] = 105;
  lineColour[1] = 105;
  lineColour[2] = 10;
  trailColour[0] = 145;
  trailColour[1] = 10;
  trailColour[2] = 65;
  Line(1, 1, 5, 1);
  levelGrid[2][1] = CELL_TRAIL;
  player->block = 10;
  player->bx = 4;
  player->by = 1;
  RefreshGridImage();
  TPixmap* p = LockImageFrame(gridImage, 0, true, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ReadPixel(1, 1), LightPixel(105, 105, 10));
  EXPECT_EQ(p->ReadPixel(2, 1), LightPixel(145, 10, 65));
  EXPECT_EQ(p->ReadPixel(4, 1), 0u);
  EXPECT_EQ(p->ReadPixel(0, 0), 0u);
  UnlockImageFrame(gridImage, 0);
}

TEST_F(GridGlow, TrailLayersConvergeOnTheShip) {
  gridImage = BlankImage(34, 24, 2);
  SetImageHandlePoint(gridImage, 17, 13);
  player->x = 400 - 24 * 5;  // px = 5
  player->y = 300 + 24 * 3;  // py = -3
  RefreshGridImage();
  SetHeadlessDrawLogging(true);
  DrawGridGlow();
  std::vector<THeadlessDrawCall> images;
  for (auto& c : HeadlessDrawLog())
    if (c.kind == 'I') images.push_back(c);
  ASSERT_EQ(images.size(), 7u);
  const float alphas[5] = {0.0818f, 0.1056f, 0.1429f, 0.21f, 0.3667f};
  for (int s = 18; s <= 22; s++) {
    auto& c = images[s - 18];
    EXPECT_NEAR(c.alpha, alphas[s - 18], 1e-4);
    EXPECT_FLOAT_EQ(c.ix, float(s));
    EXPECT_FLOAT_EQ(c.tx, 400.0f - 5 * (24 - s));
    EXPECT_FLOAT_EQ(c.ty, 300.0f + 3 * (24 - s));
  }
  EXPECT_FLOAT_EQ(images[5].ix, 24.0f);
  EXPECT_FLOAT_EQ(images[5].tx, 400.0f);
  EXPECT_NEAR(images[6].tx, 400.0f, 3.0f);  // the wobbling copy
  EXPECT_NEAR(images[6].ty, 300.0f, 3.0f);
  // Then the scan lines: 151 of them, two pixels wide.
  int lines = 0;
  for (auto& c : HeadlessDrawLog()) lines += c.kind == 'L';
  EXPECT_EQ(lines, 151);
  EXPECT_FLOAT_EQ(Current2D()->line_width, 2.0f);
  EXPECT_FLOAT_EQ(GetAlpha(), 1.0f);
}
