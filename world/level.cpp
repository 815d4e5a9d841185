// The level grid, its construction animation and the per-frame tiles.
#include "world/level.h"

#include <cmath>
#include <vector>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/random.h"
#include "media/stream.h"
#include "world/chaser.h"
#include "world/cue.h"
#include "world/layouts.h"
#include "world/player.h"
#include "world/scoring.h"

int levelGrid[GRID_W][GRID_H];
int lineColour[3];
int trailColour[3];
int cellsLeft = 0;

namespace {

int selectedLayout = 1;

int Sign(int v) { return (v > 0) - (v < 0); }

constexpr double DEG = 3.14159265358979323846 / 180.0;

// Reads a layout table from its start, one int at a time.
struct LayoutReader {
  std::span<const int> data;
  size_t pos = 0;
  int Next() { return pos < data.size() ? data[pos++] : 999; }
};

// What every frame of the build shows under its own extras.
void DrawBuildScene() {
  RefreshGridImage();
  DrawLevel();
}

void DrawPen(int penX, int penY) {
  SetColor(lineColour[0], lineColour[1], lineColour[2]);
  DrawRect(24.0f * penX - 8, 24.0f * penY - 12, 24, 24);
}

void BuildFrame(int penX, int penY, int h) {
  DrawBuildScene();
  if (h % 16 == 1) PlayCue(sndDrawLevel, 0.5f + 0.005f * h, 0.066f * (penX - 15), 0.5f);
  DrawGridGlow();
  DrawHud();
  DrawPen(penX, penY);
  Flip(-1);
  Cls();
}

void PenFlashFrames(int penX, int penY) {
  for (int i = 1; i <= 4; i++) {
    DrawBuildScene();
    DrawGridGlow();
    DrawHud();
    SetAlpha(0.7f - 0.1f * i);
    DrawPen(penX, penY);
    SetAlpha(1);
    Flip(-1);
    Cls();
  }
}

// A horizontal and a vertical bar of the image shrink onto (x, y).
void DrawEntranceBars(TImage* image, int x, int y, int i) {
  SetDrawScale(42.0f - 2 * i, 0.025f * i);
  DrawImageFrame(image, x, y, 0);
  SetDrawScale(0.025f * i, 42.0f - 2 * i);
  DrawImageFrame(image, x, y, 0);
}

void ChaserEntrance() {
  for (int i = 1; i <= 20; i++) {
    DrawBuildScene();
    DrawGridGlow();
    DrawHud();
    SetColor(100, 32, 32);
    DrawEntranceBars(chaserImage, chaser1->x, chaser1->y, i);
    SetDrawScale(1, 1);
    SetColor(255, 255, 255);
    SetAlpha(1);
    Flip(-1);
    Cls();
  }
}

void PlayerEntrance() {
  for (int i = 1; i <= 20; i++) {
    DrawBuildScene();
    DrawGridGlow();
    DrawHud();
    chaser1->Draw();
    SetAlpha(0.05f * i);
    SetDrawRotation(player->spin);
    SetColor(255, 255, 255);
    DrawEntranceBars(shipImage, player->x, player->y, i);
    SetDrawRotation(0);
    SetDrawScale(1, 1);
    SetAlpha(1);
    Flip(-1);
    Cls();
  }
}

TChaser* NewChaser(TChaser*& slot, int id, int X, int Y) {
  delete slot;
  slot = new TChaser;
  slot->id = id;
  slot->x = CellCentreX(X);
  slot->y = CellCentreY(Y);
  slot->move = 0;
  return slot;
}

void DrawInstructions() {
  // Always in the small font: the name entry leaves the big one selected
  // while it redraws the level behind its panel.
  TImageFont* font = CurrentFont();
  if (smallFont) SetCurrentFont(smallFont);
  float alpha = cellsLeft < 100 ? 0.01f * cellsLeft : 1.0f;
  SetAlpha(alpha);
  SetColor(50, 50, 5);
  DrawString(u"Cursor keys to move.", 70, 100);
  DrawString(u"Space makes a temporary", 55, 130);
  DrawString(u"gap on the level grid.", 70, 150);
  SetColor(50, 5, 5);
  DrawString(u"Avoid the chasers!", 610, 390);
  DrawString(u"They will sap your precious", 580, 420);
  DrawString(u"energy reserves.", 615, 440);
  SetColor(255, 255, 255);
  SetAlpha(1);
  SetCurrentFont(font);
}

}  // namespace

int neighbourMask(int x, int y) {
  return Sign(levelGrid[x + 1][y]) + 2 * Sign(levelGrid[x - 1][y]) + 4 * Sign(levelGrid[x][y - 1]) +
         8 * Sign(levelGrid[x][y + 1]);
}

int SelectLayout(int n) {
  if (n >= 1 && n <= 6) selectedLayout = n;
  return selectedLayout;
}

int SelectedLayout() { return selectedLayout; }

void ClearLevelGrid() {
  for (auto& column : levelGrid)
    for (int& cell : column) cell = CELL_EMPTY;
}

void BuildLevel() {
  ClearLevelGrid();
  BlankLightImage();
  if (!player) player = new TPlayer;

  LayoutReader in{levelLayouts[selectedLayout - 1]};
  int px = in.Next(), py = in.Next();
  player->x = CellCentreX(px);
  player->y = CellCentreY(py);
  for (int& c : lineColour) c = in.Next();
  for (int& c : trailColour) c = in.Next();
  player->move = 0;
  player->block = 0;
  player->untouched = 1;
  player->dx2 = 0;
  player->dy2 = 0;

  int penX = 0, penY = 0, h = 0;
  for (int command = in.Next(); command != 999; command = in.Next()) {
    if (command == 3 || command == 4) {
      int X = in.Next(), Y = in.Next();
      NewChaser(command == 3 ? chaser1 : chaser2, command - 2, X, Y);
    } else if (command == 1) {
      penX = in.Next();
      penY = in.Next();
    } else if (command == 2) {
      for (;;) {
        int u = in.Next(), t = in.Next();
        if (u == 255 && t == 255) break;
        if (u >= 255 || t >= 255) continue;
        do {
          levelGrid[penX][penY] = CELL_LINE;
          int su = Sign(u), st = Sign(t);
          penX += su;
          penY += st;
          u -= su;
          t -= st;
          h++;
          if (h % 4 == 1) BuildFrame(penX, penY, h);
        } while (!(std::abs(u) < 2 && std::abs(t) < 2));
        PenFlashFrames(penX, penY);
      }
    }
  }
  // Every layout defines both chasers; keep the game safe with a broken one.
  if (!chaser1) NewChaser(chaser1, 1, px, py);
  if (!chaser2) NewChaser(chaser2, 2, CellOfX(chaser1->x), CellOfY(chaser1->y));

  ChaserEntrance();
  PlayerEntrance();

  // The start cell counts as painted, but the bonus counts it as a line cell.
  levelGrid[CellOfX(player->x)][CellOfY(player->y)] = CELL_TRAIL;
  maxBonus = cellsLeft * 7;
  bonus = maxBonus;
  PrintLine(u"max bonus: " + IntText(maxBonus));
}

// What DrawLevel does for the outcome: the count of cells left and the
// flicker's random call on every cell it draws, made at once.
void CountLevelCells() {
  cellsLeft = 0;
  long long drawn = 0;
  bool gapOpen = player && player->block != 0;
  for (int x = 1; x <= 32; x++) {
    for (int y = 1; y <= 22; y++) {
      int v = levelGrid[x][y];
      if (v == 0) continue;
      if (v > 1) cellsLeft++;
      if (neighbourMask(x, y) == 0 || (gapOpen && x == player->bx && y == player->by)) continue;
      ++drawn;
    }
  }
  SkipRandomInts(drawn);
}

void DrawLevel() {
  if (logicOnly) return CountLevelCells();
  cellsLeft = 0;
  int t = ElapsedMillis();
  SetBlend(BLEND_LIGHT);
  bool gapOpen = player && player->block != 0;
  struct TCellTiles {
    float cx, cy, sx, sy;
    int m, k;
    const int* colour;
  };
  std::vector<TCellTiles> cells;
  const int* lastColour = nullptr;
  for (int x = 1; x <= 32; x++) {
    for (int y = 1; y <= 22; y++) {
      int v = levelGrid[x][y];
      if (v == 0) continue;
      int m = neighbourMask(x, y);
      const int* colour = trailColour;
      if (v > 1) {
        colour = lineColour;
        cellsLeft++;
      }
      lastColour = colour;
      if (m == 0 || (gapOpen && x == player->bx && y == player->by)) continue;
      int k = ((t / 120 + 3 * x + 4 * y) % 8 + 8) % 8;  // the clock may wrap below 0
      double a = (double(t) + 100.0 * x + 80.0 * y) * DEG;
      cells.push_back({24.0f * x + 4, 24.0f * y, float(1 - 0.5 * v * std::sin(a)),
                       float(1 - 0.5 * v * std::cos(a)), m, k, colour});
    }
  }
  auto halo = [](const TCellTiles& c) {  // pulsing
    SetColor(c.colour[0], c.colour[1], c.colour[2]);
    SetDrawScale(c.sx, c.sy);
    SetAlpha(0.75f);
    DrawImageFrame(tiles4, c.cx, c.cy, c.m + 16 * c.k);
  };
  auto sprites = [](const TCellTiles& c) {
    SetDrawScale(1, 1);
    SetAlpha(1);
    SetColor(c.colour[0], c.colour[1], c.colour[2]);
    DrawImageFrame(tiles10, c.cx, c.cy, c.m);
    DrawImageFrame(tiles4, c.cx, c.cy, c.m + 16 * c.k);
    DrawImageFrame(tiles4, c.cx, c.cy, c.m + 16 * RandomInt(0, 7));  // flickers anew every frame
  };
  // Light adds up in any order: all the scaled halos first, then the
  // sprites that land texel for pixel, in one batch read unfiltered. The
  // flicker's random calls keep their order either way.
  if (DrawShortcuts()) {
    for (const TCellTiles& c : cells) halo(c);
    SetTexelForPixel(true);
    for (const TCellTiles& c : cells) sprites(c);
    SetTexelForPixel(false);
  } else {
    for (const TCellTiles& c : cells) halo(c), sprites(c);
  }
  if (lastColour) SetColor(lastColour[0], lastColour[1], lastColour[2]);
  SetDrawScale(1, 1);
  if (level == 1) DrawInstructions();
}
