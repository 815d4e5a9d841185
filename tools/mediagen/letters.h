#pragma once
// Stroke skeletons of the capitals used in the title pictures, on a grid 10
// wide and 12 high (y down), drawn as thick distance-field strokes.
#include <vector>

#include "canvas.h"

struct Stroke {
  Vec2 a, b;
};
std::vector<Stroke> LetterStrokes(char c);
