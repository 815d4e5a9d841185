// Shared set-up for the game-world tests: a headless display, no media,
// a fresh ship, and sounds that record how they were played.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/random.h"
#include "tests/support/harness.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

class TRecordingChannel : public TChannel {
 public:
  float rate = 1, pan = 0, volume = 1;
  bool paused = true;
  int playing = 0;
  void Stop() override { playing = 0; }
  void SetPaused(bool p) override {
    paused = p;
    if (!p) playing = 1;
  }
  void SetVolume(float v) override {
    if (v >= 0) volume = v;
  }
  void SetPan(float p) override { pan = p; }
  void SetDepth(float) override {}
  void SetRate(float r) override { rate = r; }
  int Playing() override { return playing; }
};

class TRecordingSound : public TSound {
 public:
  std::vector<std::shared_ptr<TRecordingChannel>> cues;
  ChannelRef Cue(ChannelRef channel = nullptr) override {
    if (auto own = std::dynamic_pointer_cast<TRecordingChannel>(channel)) {
      own->paused = true;
      own->playing = 0;
      cues.push_back(own);
      return own;
    }
    auto c = std::make_shared<TRecordingChannel>();
    cues.push_back(c);
    return c;
  }
  ChannelRef Play(ChannelRef channel = nullptr) override {
    ChannelRef c = Cue(channel);
    c->SetPaused(false);
    return c;
  }
  int Started() const {
    int n = 0;
    for (auto& c : cues) n += !c->paused;
    return n;
  }
};

// Images live for the whole run, as the game's own do: kept here so they
// stay reachable.
inline TImage* BlankImage(int w, int h, int frames) {
  static std::vector<TImage*> kept;
  kept.push_back(CreateBlankImage(w, h, frames));
  return kept.back();
}

// A one-frame image whose every pixel is opaque white.
inline TImage* SolidImage(int w, int h) {
  TImage* image = BlankImage(w, h, 1);
  if (TPixmap* p = LockImageFrame(image, 0, true, true)) {
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) p->WritePixel(x, y, 0xFFFFFFFFu);
    UnlockImageFrame(image, 0);
  }
  CentreImageHandle(image);
  return image;
}

inline void ClearMediaHandles() {
  for (TImage** i : {&tiles4, &tiles10, &wedgeImage, &starImage, &explosionImage, &shipImage,
                     &chaserImage, &titleImage1, &titleImage2, &gridTile, &lightImage, &gridImage})
    *i = nullptr;
  for (TSound** s : {&musicTitle, &musicIngame, &sndChaserTurn, &sndCollision, &sndDie, &sndMakeGap,
                     &sndPickup, &sndDrawLevel, &sndUntouched, &sndBonus})
    *s = nullptr;
  smallFont = bigFont = nullptr;
}

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Current2D()) OpenGraphics(800, 600, 0, 60, 0);
    ClearMediaHandles();
    SetFrameHook(nullptr);
    FlushKeyState();
    SetDrawScale(1, 1);
    SetDrawRotation(0);
    SetAlpha(1);
    SetColor(255, 255, 255);
    SeedRandom(12345);
    ClearLevelGrid();
    ClearLightMap();
    ClearParticles();
    SetScore(0);
    SetHealth(160);
    combo = COMBO_MIN;
    maxBonus = bonus = 0;
    playState = 0;
    level = 1;
    levelLabel = u"A1";
    chaserCount = 1;
    chaserSpeed = 1;
    wipeStep = 0;
    delete player;
    player = new TPlayer;
    lineColour[0] = lineColour[1] = lineColour[2] = 100;
    trailColour[0] = trailColour[1] = trailColour[2] = 50;
  }
  void TearDown() override {
    SetFrameHook(nullptr);
    for (int k : {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN})
      InjectInputEvent({InputEventKind::KeyUp, k});
    FlushKeyState();
    ClearMediaHandles();
    SetHeadlessDrawLogging(false);
  }

  // A straight line of cells from (x0, y0) to (x1, y1), inclusive.
  static void Line(int x0, int y0, int x1, int y1, int v = CELL_LINE) {
    int sx = (x1 > x0) - (x1 < x0), sy = (y1 > y0) - (y1 < y0);
    for (int x = x0, y = y0;; x += sx, y += sy) {
      levelGrid[x][y] = v;
      if (x == x1 && y == y1) break;
    }
  }
  static void PlaceShip(int cx, int cy) {
    player->x = CellCentreX(cx);
    player->y = CellCentreY(cy);
  }
  static int ShipCellX() { return CellOfX(player->x); }
  static int ShipCellY() { return CellOfY(player->y); }
  // Parks the chasers far away so they cannot touch the ship.
  static void ParkChasers() {
    for (TChaser** c : {&chaser1, &chaser2}) {
      delete *c;
      *c = new TChaser;
      (*c)->x = -1000;
      (*c)->y = -1000;
    }
  }
  static void Hold(int key) { InjectInputEvent({InputEventKind::KeyDown, key}); }
  static void Let(int key) { InjectInputEvent({InputEventKind::KeyUp, key}); }
  // Ticks the ship until it rests on a cell centre again (at most n ticks).
  static void Ticks(int n) {
    for (int i = 0; i < n; i++) player->Update();
  }
};
