// How touching feels: the ship and the chaser collide by pixel overlap of
// their images, tested here with the game's own ImagesOverlap.
#include <gtest/gtest.h>

#include <cmath>

#include "media/graphics.h"
#include "media/image.h"
#include "tests/support/paths.h"

namespace {
struct Footprint : ::testing::Test {
  TImage* ship = nullptr;
  TImage* chaser = nullptr;
  void SetUp() override {
    OpenGraphics(800, 600, 0, 0, 0);
    SetAutoCentreHandle(true);
    ship = LoadImageFile(AsciiText(AssetsDir() + "/ship.png"));
    chaser = LoadImageFile(AsciiText(AssetsDir() + "/chaser.png"));
    ASSERT_NE(ship, nullptr);
    ASSERT_NE(chaser, nullptr);
  }
  void TearDown() override {
    SetDrawRotation(0);
    SetAutoCentreHandle(false);
    CloseGraphics();
  }
  bool Touch(float dx, float dy, float degrees) {
    SetDrawRotation(degrees);
    return ImagesOverlap(ship, 400, 300, 0, chaser, 400 + dx, 300 + dy, 0);
  }
};
}  // namespace

TEST_F(Footprint, NeighbouringCellsNeverTouchAtAnyRotation) {
  for (int a = 0; a < 360; a += 5) {
    EXPECT_FALSE(Touch(24, 0, a)) << a;
    EXPECT_FALSE(Touch(-24, 0, a)) << a;
    EXPECT_FALSE(Touch(0, 24, a)) << a;
    EXPECT_FALSE(Touch(0, -24, a)) << a;
  }
}

TEST_F(Footprint, ActorsWithinTwelvePixelsAlwaysTouch) {
  for (int a = 0; a < 360; a += 15)
    for (int dy = -12; dy <= 12; dy += 3)
      for (int dx = -12; dx <= 12; dx += 3) {
        if (std::hypot(dx, dy) > 12) continue;
        EXPECT_TRUE(Touch(dx, dy, a)) << dx << "," << dy << " at " << a;
      }
}

TEST_F(Footprint, ShipAndChaserMovingAlongALineTouchWellBeforeTheyMeet) {
  // A chaser running at the resting ship along a line: contact comes at a
  // distance of about two thirds of a cell.
  int firstTouch = -1;
  for (int d = 24; d >= 0; --d)
    if (Touch(d, 0, 0)) {
      firstTouch = d;
      break;
    }
  EXPECT_GE(firstTouch, 13);
  EXPECT_LE(firstTouch, 23);
}
