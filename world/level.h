// The level grid: the figure of lines the ship paints, its six built-in
// layouts, the animated construction of a level and the per-frame tiles.
#pragma once

constexpr int GRID_W = 42, GRID_H = 32;  // only columns 0..33, rows 0..23 are ever shown
constexpr int CELL_EMPTY = 0, CELL_TRAIL = 1, CELL_LINE = 2;

extern int levelGrid[GRID_W][GRID_H];  // [x][y]: 0 empty, 1 painted (trail), 2 unpainted line
extern int lineColour[3];              // r, g, b of unpainted line cells
extern int trailColour[3];             // r, g, b of painted cells
extern int cellsLeft;                  // unpainted cells counted by the last DrawLevel

// --- Cells and pixels ---
inline int CellOfX(int x) { return (x - 4) / 24; }  // truncating, like every cell look-up
inline int CellOfY(int y) { return y / 24; }
inline int CellCentreX(int cx) { return 24 * cx + 4; }
inline int CellCentreY(int cy) { return 24 * cy; }
int neighbourMask(int x, int y);  // bit 0 right, 1 left, 2 up, 3 down: the tile frame 0..15

// --- Level life ---
int SelectLayout(int n);  // 1..6: the table the next BuildLevel reads; returns the number in use
int SelectedLayout();
void ClearLevelGrid();  // every cell 0
void BuildLevel();      // reads the layout, places the actors, animates the build (own frames)
void DrawLevel();        // the tiles of this frame; recounts cellsLeft; level-1 instructions
void CountLevelCells();  // DrawLevel without the drawing: cellsLeft and the flicker's random calls
