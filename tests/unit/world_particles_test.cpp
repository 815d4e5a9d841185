// Explosions and debris: movement, lifetimes and removal while iterating.
#include "tests/unit/world_test_util.h"

using Particles = WorldTest;

TEST_F(Particles, RemovalDuringIterationKeepsTheRestRunning) {
  // Alternate short and long lives: the short ones vanish mid-loop.
  for (int i = 0; i < 20; i++) {
    TExplosion* e = SpawnExplosion(400, 300);
    e->decay = i % 2 ? 0.6f : 0.01f;
  }
  UpdateParticles();
  EXPECT_EQ(ParticleCount(), 20);
  UpdateParticles();  // alpha 1 - 1.2 < 0 for the short ones
  EXPECT_EQ(ParticleCount(), 10);
  EXPECT_EQ(particles.size(), 10u);
  for (auto& p : particles) EXPECT_NEAR(p->decay, 0.0f, 0.0f);  // base fields stay 0
  for (auto& p : particles) EXPECT_NEAR(static_cast<TExplosion*>(p.get())->alpha, 0.98f, 1e-5);
  ClearParticles();
  EXPECT_TRUE(particles.empty());
}

TEST_F(Particles, ExplosionsLiveTwentyToAHundredTicksInPlay) {
  for (int i = 0; i < 200; i++) SpawnExplosion(400, 300);
  int ticks = 0;
  int firstGone = -1;
  while (ParticleCount() > 0 && ticks < 1000) {
    UpdateParticles();
    ticks++;
    if (firstGone < 0 && ParticleCount() < 200) firstGone = ticks;
  }
  EXPECT_GE(firstGone, 20);
  EXPECT_LE(ticks, 101);
}

TEST_F(Particles, SequenceExplosionsFadeSlowerInEveryHue) {
  playState = 1;
  for (int i = 0; i < 100; i++) {
    TExplosion* e = SpawnExplosion(100, 100);
    EXPECT_GE(e->decay, 0.0075f);
    EXPECT_LT(e->decay, 0.01f);
    EXPECT_LE(std::abs(e->dx), 2.0f);
  }
  playState = 0;
  for (int i = 0; i < 100; i++) {
    TExplosion* e = SpawnExplosion(100, 100);
    EXPECT_GE(e->decay, 0.01f);
    EXPECT_LT(e->decay, 0.05f);
    EXPECT_GE(e->colour, 0.5f);
  }
}

TEST_F(Particles, ExplosionsBounceInsideThePlayArea) {
  TExplosion* e = SpawnExplosion(801, 551);
  e->dx = 1;
  e->dy = 1;
  e->decay = 0;
  e->Update();
  EXPECT_FLOAT_EQ(e->x, 800);
  EXPECT_FLOAT_EQ(e->y, 550);
  EXPECT_FLOAT_EQ(e->dx, -1);
  EXPECT_EQ(e->angle, 355);
}

TEST_F(Particles, DebrisFliesAlongTheRunAndFallsOut) {
  player->dx2 = -1;
  player->dy2 = 0;
  for (int i = 0; i < 50; i++) {
    TDebris* d = SpawnDebris(400, 300, 3);
    EXPECT_LE(d->dx, -1.0f);
    EXPECT_GE(d->dx, -4.0f);
    EXPECT_LE(d->dy, 1.0f);
    EXPECT_GE(d->dy, -3.0f);
  }
  player->dx2 = 0;
  player->dy2 = 1;
  bool leftward = false, rightward = false;
  for (int i = 0; i < 100; i++) {
    TDebris* d = SpawnDebris(400, 300, 3);
    leftward |= d->dx < 0;
    rightward |= d->dx > 0;
  }
  EXPECT_TRUE(leftward && rightward);

  ClearParticles();
  TDebris* d = SpawnDebris(400, 549, 3);
  d->dy = 1;
  d->decay = 0.001f;
  UpdateParticles();  // below 550 with alpha to spare: gone at once
  EXPECT_EQ(ParticleCount(), 0);
}

TEST_F(Particles, DebrisLightsTheMapInTheLineColour) {
  lineColour[0] = 200;
  lineColour[1] = 100;
  lineColour[2] = 0;
  TDebris* d = SpawnDebris(100, 100, 3);
  d->dx = d->dy = 0;
  d->decay = 0.1f;
  UpdateParticles();
  EXPECT_EQ(lightMap[100 / 12 + 2][100 / 12 + 2][0], 100);
  EXPECT_EQ(lightMap[100 / 12 + 2][100 / 12 + 2][1], 50);
  // Too near the edge: no light.
  ClearLightMap();
  d = SpawnDebris(5, 100, 3);
  d->dx = d->dy = 0;
  UpdateParticles();
  EXPECT_EQ(lightMap[5 / 12 + 2][100 / 12 + 2][0], 0);
}

TEST_F(Particles, NothingIsDrawnAboveTheTopEdge) {
  explosionImage = SolidImage(8, 8);
  tiles4 = SolidImage(24, 24);
  tiles10 = SolidImage(24, 24);
  SpawnExplosion(100, 0);
  SpawnDebris(100, -5, 3);
  SetHeadlessDrawLogging(true);
  DrawParticles();
  EXPECT_TRUE(HeadlessDrawLog().empty());
  SpawnExplosion(100, 10);
  DrawParticles();
  EXPECT_EQ(HeadlessDrawLog().size(), 1u);
  EXPECT_FLOAT_EQ(Current2D()->tform_scale_x, 1.0f);
}
