// The chasers: patrol the lines by fixed odds, blind to the ship, and treat
// the ship's open gap as missing track.
#pragma once
#include "media/audio.h"

class TChaser {
 public:
  int id = 0;            // 1 or 2: colour and pitch of the turn sound
  int x = 0, y = 0;      // pixel centre
  int dy = 0, dx = 0;    // step of the current move
  int spin = 0;          // heading: 0 up, 90 right, 180 down, -90 or 270 left
  int move = 0;          // ticks left of the current move
  float scale = 1.0f;    // Update does nothing unless exactly 1
  ChannelRef channel;    // unused, kept null
  int dx2 = 0, dy2 = 0;  // step of the last completed move

  TChaser() { TChaser::New(); }
  virtual ~TChaser() = default;
  virtual void New();
  virtual void Delete() {}
  virtual void Draw();
  virtual int Update();  // one logic tick; returns 0
};

extern TChaser* chaser1;  // both replaced at every level build
extern TChaser* chaser2;  // exists even with one chaser; then neither updated nor drawn

// Grid step of a heading that is a multiple of 90 degrees.
void HeadingStep(int heading, int& dx, int& dy);
