// Explosion puffs and debris.
#include "world/particles.h"

#include <cmath>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/random.h"
#include "world/level.h"
#include "world/player.h"
#include "world/scoring.h"

ParticleList particles;

namespace {
int iterating = 0;  // nested depth of UpdateParticles / DrawParticles
int debrisMade = 0;  // TDebris objects that exist, in the list or not
bool dropsDue = false;  // particles were removed while the list was walked

void DropRemoved() {
  dropsDue = false;
  particles.remove_if([](const std::unique_ptr<TParticle>& p) { return p->removed; });
}

// The turn a particle is drawn at; a verifier, which draws nothing, keeps none.
int Spin(int angle, float dx) {
  if (logicOnly) return angle;
  return int(std::fmod(angle + 360 + 5 * dx, 360.0f));
}
}  // namespace

// Removing only marks the particle: the loop that is running its Update
// drops it once the call has returned, so the iteration goes on safely.
void TParticle::Remove() {
  removed = true;
  if (iterating == 0) DropRemoved();
  else dropsDue = true;
}

void TExplosion::New() {
  x = y = dx = dy = colour = alpha = decay = 0;
  angle = graphic = 0;
}

void TExplosion::Draw() {
  SetColorHSL(colour, 0.25f, 0.25f);
  SetDrawScale(1.5f - alpha, 1.5f - alpha);  // grows from 0.5 to 1.5 as it fades
  SetDrawRotation(angle);
  SetAlpha(alpha);
  if (y > 0) DrawImageFrame(explosionImage, x, y, 0);
  SetDrawRotation(0);
  SetDrawScale(1, 1);
  SetAlpha(1);
}

int TExplosion::Update() {
  if (x > 800 || x < 0) dx = -dx;
  if (y < 0 || y > 550) dy = -dy;
  x += dx;
  y += dy;
  angle = Spin(angle, dx);
  alpha -= decay;
  if (alpha < 0) Remove();
  return 0;
}

TDebris::TDebris() { ++debrisMade; }
TDebris::~TDebris() { --debrisMade; }

void TDebris::New() {
  x = y = dx = dy = alpha = decay = 0;
  angle = graphic = 0;
}

void TDebris::Draw() {
  SetColor(lineColour[0], lineColour[1], lineColour[2]);
  SetDrawRotation(angle);
  SetAlpha(alpha);
  if (y > 0) {
    DrawImageFrame(tiles4, x, y, graphic + 16 * RandomInt(0, 7));
    DrawImageFrame(tiles4, x, y, graphic + 16 * RandomInt(0, 7));
    DrawImageFrame(tiles10, x, y, graphic);
  }
  SetDrawRotation(0);
  SetAlpha(1);
}

int TDebris::Update() {
  if (x > 10 && x < 790 && y > 10 && y < 550)
    AddLight(int(x), int(y), int(0.5f * alpha * lineColour[0]), int(0.5f * alpha * lineColour[1]),
             int(0.5f * alpha * lineColour[2]));
  dy += 0.2f;  // gravity
  x += dx;
  y += dy;
  angle = Spin(angle, dx);
  alpha -= decay;
  if (alpha < 0 || x < 0 || x > 800 || y > 550) Remove();
  return 0;
}

TExplosion* SpawnExplosion(float x, float y) {
  auto e = std::make_unique<TExplosion>();
  e->x = x;
  e->y = y;
  e->alpha = 1;
  if (playState == 0) {
    e->dx = float(RandomReal(-1, 1));
    e->dy = float(RandomReal(-1, 1));
    e->decay = float(RandomReal(0.01, 0.05));
    e->colour = float(RandomReal(0.5, 1));
  } else {
    // The sequences throw slower-fading puffs of every hue, twice as fast.
    e->dx = float(RandomReal(-2, 2));
    e->dy = float(RandomReal(-2, 2));
    e->decay = float(RandomReal(0.0075, 0.01));
    e->colour = float(RandomReal(0, 1));
  }
  TExplosion* made = e.get();
  particles.push_back(std::move(e));
  return made;
}

TDebris* SpawnDebris(float x, float y, int graphic) {
  auto d = std::make_unique<TDebris>();
  d->x = x;
  d->y = y;
  d->graphic = graphic;
  // Thrown forward along a horizontal run, either way after a vertical one.
  if (player && player->dy2 != 0)
    d->dx = float(RandomReal(-3, 3));
  else
    d->dx = (player ? player->dx2 : 0) * float(RandomReal(1, 4));
  d->dy = float(RandomReal(-3, 1));
  d->alpha = 1;
  d->decay = float(RandomReal(0.01, 0.05));
  TDebris* made = d.get();
  particles.push_back(std::move(d));
  return made;
}

void UpdateParticles() {
  iterating++;
  for (auto it = particles.begin(); it != particles.end(); ++it)
    if (!(*it)->removed) (*it)->Update();
  iterating--;
  if (iterating == 0 && dropsDue) DropRemoved();
}

void DrawParticles() {
  if (logicOnly) {
    // Only debris flickers; the puffs of a game over can number thousands.
    if (debrisMade == 0) return;
    long long calls = 0;
    for (auto& p : particles)
      if (!p->removed) calls += p->FlickerCalls();
    SkipRandomInts(calls);
    return;
  }
  iterating++;
  for (auto& p : particles)
    if (!p->removed) p->Draw();
  iterating--;
  if (iterating == 0 && dropsDue) DropRemoved();
}

void ClearParticles() {
  if (iterating == 0) {
    particles.clear();
  } else {
    for (auto& p : particles) p->removed = true;
    dropsDue = true;
  }
}

int ParticleCount() {
  int n = 0;
  for (auto& p : particles) n += !p->removed;
  return n;
}
