// The player's ship.
#include "world/player.h"

#include <cmath>
#include <cstdlib>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/random.h"
#include "media/stream.h"
#include "replay/replay.h"
#include "world/chaser.h"
#include "world/cue.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/scoring.h"

TPlayer* player = nullptr;

namespace {

// Heading of a grid step: 0 up, 90 right, 180 down, -90 left.
int HeadingOf(int dx, int dy) {
  return int(std::atan2(double(dx), double(-dy)) * (180.0 / 3.14159265358979323846));
}

void LowerCombo(int by) {
  if (combo > COMBO_MIN) combo -= by;
  if (combo < COMBO_MIN) combo = COMBO_MIN;
}

}  // namespace

bool IsPlayerGap(int cx, int cy) {
  return player && player->block != 0 && cx == player->bx && cy == player->by;
}

void TPlayer::New() {
  x = y = dy = dx = 0;
  spin = 90;
  move = 0;
  scale = 1.0f;
  channel = nullptr;
  dx2 = dy2 = 0;
  untouched = 1;
  block = bx = by = 0;
}

void TPlayer::Draw() {
  if (logicOnly) return;
  SetDrawRotation(spin);
  SetDrawScale(scale, scale);
  SetColor(255, 255, 255);
  DrawImageFrame(shipImage, x, y, 0);
  SetDrawRotation(0);
}

int TPlayer::Update() {
  LowerCombo(3);
  if (bonus > 0) bonus--;
  if (bonus < 0) bonus = 0;
  const float pan = 0.0025f * (x - 400);

  if (scale == 1.0f) {
    // Steering, at rest on a cell centre.
    if (move == 0) {
      int cx = CellOfX(x), cy = CellOfY(y);
      bool left = KeyIsDown(KEY_LEFT), right = KeyIsDown(KEY_RIGHT);
      bool up = KeyIsDown(KEY_UP), down = KeyIsDown(KEY_DOWN);
      dx = (left && right) ? dx2 : int(right) - int(left);
      dy = (up && down) ? dy2 : int(down) - int(up);
      // A key across the line of travel wins over going straight on
      // whenever the turn is possible.
      if (dx2 != 0) {
        if (dy != 0) {
          if (levelGrid[cx][cy + dy] > 0)
            dx = 0;
          else
            dy = 0;
        }
        if (dx != 0 && levelGrid[cx + dx][cy] == 0) dx = 0;
      } else {
        if (dx != 0) {
          if (levelGrid[cx + dx][cy] > 0)
            dy = 0;
          else
            dx = 0;
        }
        if (dy != 0 && levelGrid[cx][cy + dy] == 0) dy = 0;
      }
      if ((dx != 0 || dy != 0) && block > 0 && cx + dx == bx && cy + dy == by) dx = dy = 0;
      if (dx != 0 || dy != 0) {
        move = 3;
        NoteShipStep(dx, dy, int(left) | int(right) << 1 | int(up) << 2 | int(down) << 3);
      } else {
        LowerCombo(1);  // idling costs one more combo point
      }
    }

    if (move != 0) {
      x += 8 * dx;
      y += 8 * dy;
      move--;
      AddLight(x, y, 4 * trailColour[0], 4 * trailColour[1], 4 * trailColour[2]);
      AddLight(x, y, 200, 200, 200);
      if (move == 0) {
        dx2 = dx;
        dy2 = dy;
        int cx = CellOfX(x), cy = CellOfY(y);
        if (levelGrid[cx][cy] > 1) {
          AddScore(combo / 36);
          PlayCue(sndPickup, 0.25f + 0.01f * combo, pan);
          levelGrid[cx][cy] = CELL_TRAIL;
          SpawnDebris(x, y, neighbourMask(cx, cy));
          combo += 12;
          if (combo > COMBO_MAX) combo = COMBO_MAX;
        }
      }
    }

    if (dx != 0 || dy != 0) spin = HeadingOf(dx, dy);

    // The gap: SPACE is consumed even when no gap can be made.
    if (KeyHits(KEY_SPACE) && block == 0) {
      PrintLine(IntText(dx2));
      PrintLine(IntText(dy2));
      if (dx2 != 0 || dy2 != 0) {
        int cx = CellOfX(x), cy = CellOfY(y);
        block = GAP_TICKS;
        bx = cx - dx2;
        by = cy - dy2;
        PrintLine(IntText(bx));
        PrintLine(IntText(by));
        PlayCue(sndMakeGap, 1.0f, pan);
        NoteGap();
      }
    }
  }

  if (block > 0) block--;  // also in the tick that opened it

  // Contact: the chasers stand where the previous tick left them.
  bool close = false;
  TChaser* chasers[2] = {chaser1, chaserCount == 2 ? chaser2 : nullptr};
  for (TChaser* c : chasers) {
    if (!c || std::abs(x - c->x) >= 26 || std::abs(y - c->y) >= 26) continue;
    close = true;
    SetDrawRotation(spin);
    if (ImagesOverlap(shipImage, x, y, 0, chaserImage, c->x, c->y, 0)) {
      AddHealth(-6);
      combo = COMBO_MIN;
      for (int i = 0; i < 3; i++) SpawnExplosion(x, y);
    }
    SetDrawRotation(0);
  }
  if (close) {
    untouched = 0;
    float rate = float(RandomReal(0.5, 0.8));
    PlayCue(sndCollision, rate, pan, 0.5f);
  }
  return 0;
}
