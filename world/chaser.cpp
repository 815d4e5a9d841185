// The chasers.
#include "world/chaser.h"

#include <cmath>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/random.h"
#include "media/stream.h"
#include "world/cue.h"
#include "world/level.h"
#include "world/player.h"

TChaser* chaser1 = nullptr;
TChaser* chaser2 = nullptr;

namespace {

constexpr double DEG = 3.14159265358979323846 / 180.0;

int HeadingOf(int dx, int dy) { return int(std::atan2(double(dx), double(-dy)) / DEG); }

// A side cell counts as closed while the ship's gap is open on it.
int TrackAt(int cx, int cy) { return IsPlayerGap(cx, cy) ? 0 : levelGrid[cx][cy]; }

}  // namespace

void HeadingStep(int heading, int& dx, int& dy) {
  switch (((heading % 360) + 360) % 360) {
    case 0: dx = 0, dy = -1; break;
    case 90: dx = 1, dy = 0; break;
    case 180: dx = 0, dy = 1; break;
    case 270: dx = -1, dy = 0; break;
    default: dx = int(std::sin(heading * DEG)); dy = int(-std::cos(heading * DEG));
  }
}

void TChaser::New() {
  id = x = y = dy = dx = spin = move = 0;
  scale = 1.0f;
  channel = nullptr;
  dx2 = dy2 = 0;
}

void TChaser::Draw() {
  if (logicOnly) return;
  int T = lastTick;
  SetDrawRotation(float((T / 2) % 360));
  SetDrawScale(scale, scale);
  if (T % 1000 > 500)
    SetColor(100, 100, 100);
  else if (id == 2)
    SetColor(32, 32, 100);
  else
    SetColor(100, 32, 32);
  DrawImageFrame(chaserImage, x, y, 0);
  SetDrawRotation(float((T / 2) % 360 + 20));
  SetDrawScale(float(scale + std::sin(T * DEG) / 10), float(scale + std::cos(T * DEG) / 10));
  DrawImageFrame(chaserImage, x, y, 0);
  SetDrawRotation(0);
}

int TChaser::Update() {
  if (scale != 1.0f) return 0;
  if (move == 0) {
    int cx = CellOfX(x), cy = CellOfY(y);
    if (levelGrid[cx][cy] == 0) {
      // Off the track (never with the built-in layouts): back out the way it came.
      PrintLine(u"ARGH! CHASER in thin air!!!");
      move = chaserSpeed == 1 ? 3 : 2;
      dx = -dx;
      dy = -dy;
      return 0;
    }
    if (dx2 == 0 && dy2 == 0) {
      // First move of the level. The two chasers share a start cell and
      // must leave it in different directions.
      spin = 90 * RandomInt(0, 3);
      for (;;) {
        spin = (spin + 90) % 360;
        HeadingStep(spin, dx, dy);
        if (levelGrid[cx + dx][cy + dy] > 0 &&
            (chaserCount == 1 || !chaser1 || !chaser2 || chaser1->spin != chaser2->spin))
          break;
      }
    } else {
      int ldx, ldy, rdx, rdy;
      HeadingStep(spin - 90, ldx, ldy);
      HeadingStep(spin + 90, rdx, rdy);
      bool ahead = TrackAt(cx + dx2, cy + dy2) > 0;
      bool left = TrackAt(cx + ldx, cy + ldy) > 0;
      bool right = TrackAt(cx + rdx, cy + rdy) > 0;
      if (ahead) {
        dx = dx2;
        dy = dy2;
        if (left && RandomInt(1, 100) > 60) {
          dx = ldx, dy = ldy;
        } else if (right && RandomInt(1, 100) > 60) {
          dx = rdx, dy = rdy;
        }
      } else {
        dx = -dx2;
        dy = -dy2;
        int r = RandomInt(1, 100);
        if (right && r < 75) dx = rdx, dy = rdy;
        if (left && r > 25) dx = ldx, dy = ldy;
      }
      if ((dx != dx2 || dy != dy2) && playState == 0)
        PlayCue(sndChaserTurn, 0.75f * id, 0.02f * ((x / 10) - 40));
    }
    move = chaserSpeed == 1 ? 4 : 3;
  }

  if (move != 0) {
    int step = chaserSpeed == 1 ? 6 : 8;
    x += step * dx;
    y += step * dy;
    move--;
    AddLight(x, y, 5 * trailColour[0], 5 * trailColour[1], -5 * trailColour[2]);
    if (move == 0) {
      dx2 = dx;
      dy2 = dy;
    }
  }
  if (dx != 0 || dy != 0) spin = HeadingOf(dx, dy);
  return 0;
}
