// Every frame looks the same to a player whichever way it reaches the
// screen: the game's scenes drawn with the drawing shortcuts are compared
// with the straightforward drawing of the same state, read back from Mesa.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/random.h"
#include "tests/support/harness.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {

// Level 7 (two chasers) built without drawing, then half painted, lit,
// with debris, a gap and explosions: most of what a play frame shows.
void SetUpScene() {
  static bool loaded = false;
  UseHeadlessGraphics(true);
  OpenGraphics(800, 600, 0, 0, 0);
  if (!loaded) {
    RegisterMediaFiles();
    SelectAudioDriver(u"Null");
    LoadMediaSet();
    loaded = true;
  }
  level = 7;
  int layout = 1;
  LevelSettings(level, levelLabel, layout, chaserCount, chaserSpeed, tickRate);
  SelectLayout(layout);
  delete player;
  player = new TPlayer;
  SetScore(12345);
  SetHealth(100);
  ClearParticles();
  ClearLightMap();
  BuildLevel();
  CloseGraphics();
  UseHeadlessGraphics(false);
  SetAutoCentreHandle(false);

  SeedRandom(7);
  int n = 0;
  for (auto& col : levelGrid)
    for (int& v : col)
      if (v == CELL_LINE && n++ % 2 == 0) v = CELL_TRAIL;
  player->block = 100;
  player->bx = CellOfX(player->x) + 1;
  player->by = CellOfY(player->y);
  for (int i = 0; i < 40; ++i) {
    AddLight(40 + 19 * i, 30 + 13 * i, 900, 300 + 10 * i, 40 * i);
    SpawnDebris(float(60 + 17 * i), float(80 + 11 * i), i % 16);
  }
  for (int i = 0; i < 8; ++i) SmoothLightMap();
  RefreshGridImage();
}

struct Difference {
  double mean = 0;  // per channel, in levels
  int worst = 0;
};

Difference Compare(const TRgbaPixels& a, const TRgbaPixels& b) {
  Difference d;
  long long sum = 0;
  for (size_t i = 0; i < a.rgba.size(); ++i) {
    if (i % 4 == 3) continue;  // the screen's alpha is never shown
    int e = std::abs(int(a.rgba[i]) - int(b.rgba[i]));
    sum += e;
    d.worst = std::max(d.worst, e);
  }
  d.mean = double(sum) / (a.rgba.size() / 4 * 3);
  return d;
}

// The same drawing twice, with and without the shortcuts; the random
// flicker of the tiles is made the same by seeding before each. Each way
// draws two frames and keeps the second, so whatever the renderer kept from
// the first is used.
template <typename Draw>
Difference DrawBothWays(const char* name, Draw draw) {
  TRgbaPixels frames[2];
  for (int shortcuts = 0; shortcuts < 2; ++shortcuts) {
    EXPECT_NE(OpenGraphics(800, 600, 0, 0, 0), nullptr);
    SetDrawShortcuts(shortcuts == 1);
    SetCurrentFont(smallFont);
    SetBlend(BLEND_ALPHA);
    for (int frame = 0; frame < 2; ++frame) {
      Cls();
      SeedRandom(99);
      draw();
    }
    frames[shortcuts] = GrabBackBuffer();
    CloseGraphics();
  }
  SetDrawShortcuts(true);
  std::string base = (std::filesystem::path(FramesDir()) / name).string();
  SaveRgbaPNG(frames[0], base + "-straight.png");
  SaveRgbaPNG(frames[1], base + ".png");
  EXPECT_EQ(frames[0].rgba.size(), frames[1].rgba.size());
  if (frames[0].rgba.size() != frames[1].rgba.size() || frames[0].rgba.empty()) return {255, 255};
  Difference d = Compare(frames[0], frames[1]);
  std::printf("%s: mean %.4f worst %d\n", name, d.mean, d.worst);
  return d;
}

}  // namespace

TEST(GoldenFrames, PlayAndGameOverLookTheSameWithTheShortcuts) {
  SetUpScene();
  Difference play = DrawBothWays("golden-play", [] { DrawPlayScene(); });
  EXPECT_LT(play.mean, 1.0);
  EXPECT_LE(play.worst, 3);

  // The game-over sequence: hundreds of puffs of every hue over the level.
  playState = PLAY_DEAD;
  for (int i = 0; i < 400; ++i) {
    SpawnExplosion(float(player->x), float(player->y));
    if (i % 5 == 4) UpdateParticles();
  }
  Difference over = DrawBothWays("golden-gameover", [] {
    DrawPlayScene(false);
    DrawPanelBox(0.5f, 5, 5, 100);
  });
  EXPECT_LT(over.mean, 1.0);
  EXPECT_LE(over.worst, 3);
  playState = PLAY_ON;
  ClearParticles();
  SetAutoCentreHandle(false);
}
