// The player's ship: runs the lines cell by cell under the cursor keys,
// paints what it enters, opens a temporary gap behind itself with SPACE.
#pragma once
#include "media/audio.h"

class TPlayer {
 public:
  int x = 0, y = 0;      // pixel centre; a cell centre at rest
  int dy = 0, dx = 0;    // step of the current move
  int spin = 90;         // heading for drawing: 0 up, 90 right, 180 down, -90 left
  int move = 0;          // ticks left of the current move, 3..0
  float scale = 1.0f;    // steering and movement only run while exactly 1
  ChannelRef channel;    // unused, kept null
  int dx2 = 0, dy2 = 0;  // step of the last completed move
  int untouched = 1;     // 1 until a chaser came close this level
  int block = 0;         // ticks left of the open gap, 0 = none
  int bx = 0, by = 0;    // the gap cell

  TPlayer() { TPlayer::New(); }
  virtual ~TPlayer() = default;
  virtual void New();
  virtual void Delete() {}
  virtual void Draw();
  virtual int Update();  // one logic tick; returns 0
};

extern TPlayer* player;  // lives for a whole game

constexpr int GAP_TICKS = 250;
bool IsPlayerGap(int cx, int cy);  // the ship's gap is open on that cell
