// A steady player for the benchmarks: heads for an unpainted neighbour when
// there is one, else on along any line. It takes no numbers from the game's
// random generator, so the game plays as it would.
#pragma once
#include "media/input.h"
#include "world/level.h"
#include "world/player.h"

inline int benchHeldKey = 0;

inline void BenchSteer() {
  if (!player || player->move != 0) return;
  int cx = CellOfX(player->x), cy = CellOfY(player->y);
  const int dirs[4][3] = {{1, 0, KEY_RIGHT}, {-1, 0, KEY_LEFT}, {0, -1, KEY_UP}, {0, 1, KEY_DOWN}};
  int want = 0;
  for (auto& d : dirs)
    if (levelGrid[cx + d[0]][cy + d[1]] == CELL_LINE) want = d[2];
  if (!want) {
    int start = (cx * 7 + cy * 3 + player->dx2) & 3;
    for (int i = 0; i < 4 && !want; i++) {
      auto& d = dirs[(start + i) % 4];
      if (levelGrid[cx + d[0]][cy + d[1]] != 0) want = d[2];
    }
  }
  if (want == benchHeldKey) return;
  if (benchHeldKey) InjectInputEvent({InputEventKind::KeyUp, benchHeldKey});
  if (want) InjectInputEvent({InputEventKind::KeyDown, want});
  benchHeldKey = want;
}

inline void BenchLetGo() {
  if (benchHeldKey) InjectInputEvent({InputEventKind::KeyUp, benchHeldKey});
  benchHeldKey = 0;
}
