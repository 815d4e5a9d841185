// Effects over the play field: a coarse light map that moving things
// deposit coloured light into, the glowing picture of the level grid with
// its zoom trail, and scan lines over the whole screen.
#pragma once
#include <cstdint>

// Cell (i, j) stands for the 12 x 12 screen square at (12i - 24, 12j - 24).
constexpr int LIGHT_W = 70, LIGHT_H = 50;

extern int lightMap[LIGHT_W][LIGHT_H][3];  // [i][j][channel]: red, green, blue

uint32_t LightPixel(int r, int g, int b);  // ARGB with alpha min(|r+g+b|, 255) div 2

void AddLight(int x, int y, int r, int g, int b);  // screen position; ignored outside the map
void SmoothLightMap();    // one in-place spreading and fading pass (once per tick)
void ClearLightMap();     // inner cells to 0
void BlankLightImage();   // inner pixels of lightImage transparent
void DrawLightMap();      // uploads and draws the map magnified 12 times
void RefreshGridImage();  // gridImage from levelGrid, with the gap as a hole
void DrawGridGlow();      // the grid picture magnified 24 times, trail and wobble; then scan lines
void DrawScanlines();     // leaves the line width at 2
