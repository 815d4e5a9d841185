// Short-lived effects: explosion puffs where a chaser hits the ship and
// tumbling tile fragments thrown off each painted cell.
#pragma once
#include <list>
#include <memory>

class TParticle {
 public:
  // The concrete types declare their own fields of these names; these stay 0.
  float x = 0, y = 0, alpha = 0, decay = 0;
  bool removed = false;  // set by Remove; the list drops it once nobody iterates over it

  virtual ~TParticle() = default;
  virtual void New() {}
  virtual void Delete() {}
  virtual void Draw() = 0;
  virtual int Update() = 0;
  virtual int FlickerCalls() const { return 0; }  // random calls one Draw makes
  void Remove();  // takes this particle out of play; safe during iteration
};

class TExplosion : public TParticle {
 public:
  float x = 0, y = 0;
  float dx = 0, dy = 0;  // pixels per tick
  float colour = 0;      // hue 0..1
  float alpha = 0;
  int angle = 0;
  float decay = 0;  // alpha lost per tick
  int graphic = 0;

  void New() override;
  void Draw() override;
  int Update() override;
};

class TDebris : public TParticle {
 public:
  TDebris();
  ~TDebris() override;
  int FlickerCalls() const override { return y > 0 ? 2 : 0; }
  float x = 0, y = 0;
  float dx = 0, dy = 0;
  float alpha = 0;
  int angle = 0;
  float decay = 0;
  int graphic = 0;  // tile mask of the painted cell

  void New() override;
  void Draw() override;
  int Update() override;
};

using ParticleList = std::list<std::unique_ptr<TParticle>>;
extern ParticleList particles;  // list order is update and draw order

TExplosion* SpawnExplosion(float x, float y);
TDebris* SpawnDebris(float x, float y, int graphic);
void UpdateParticles();  // every particle's Update, in order; drops the removed ones
void DrawParticles();    // every live particle's Draw, in order
void ClearParticles();   // empties the list (level start)
int ParticleCount();     // live particles
