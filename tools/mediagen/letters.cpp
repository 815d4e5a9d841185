#include "letters.h"

#include <initializer_list>

namespace {

void Poly(std::vector<Stroke>& out, std::initializer_list<Vec2> pts) {
  const Vec2* prev = nullptr;
  for (const Vec2& p : pts) {
    if (prev) out.push_back({*prev, p});
    prev = &p;
  }
}

}  // namespace

std::vector<Stroke> LetterStrokes(char c) {
  std::vector<Stroke> s;
  switch (c) {
    case 'Q':
      Poly(s, {{2.5, 0}, {7.5, 0}, {10, 2.5}, {10, 9.5}, {7.5, 12}, {2.5, 12}, {0, 9.5}, {0, 2.5}, {2.5, 0}});
      Poly(s, {{6, 8}, {10.8, 12.8}});
      break;
    case 'U':
      Poly(s, {{0, 0}, {0, 9.5}, {2.5, 12}, {7.5, 12}, {10, 9.5}, {10, 0}});
      break;
    case 'A':
      Poly(s, {{0, 12}, {0, 3.5}, {3.5, 0}, {6.5, 0}, {10, 3.5}, {10, 12}});
      Poly(s, {{0, 7}, {10, 7}});
      break;
    case 'R':
      Poly(s, {{0, 12}, {0, 0}, {8, 0}, {10, 2}, {10, 5}, {8, 7}, {0, 7}});
      Poly(s, {{6, 7}, {10, 11}, {10, 12}});
      break;
    case 'V':
      Poly(s, {{0, 0}, {0, 5.5}, {5, 12}, {10, 5.5}, {10, 0}});
      break;
    case 'Z':
      Poly(s, {{0, 0}, {10, 0}, {10, 1.5}, {0, 10.5}, {0, 12}, {10, 12}});
      break;
    case 'E':
      Poly(s, {{10, 0}, {0, 0}, {0, 12}, {10, 12}});
      Poly(s, {{0, 6}, {7, 6}});
      break;
    case 'P':
      Poly(s, {{0, 12}, {0, 0}, {8, 0}, {10, 2}, {10, 5}, {8, 7}, {0, 7}});
      break;
    case 'H':
      Poly(s, {{0, 0}, {0, 12}});
      Poly(s, {{10, 0}, {10, 12}});
      Poly(s, {{0, 6}, {10, 6}});
      break;
    case 'N':
      Poly(s, {{0, 12}, {0, 0}, {10, 12}, {10, 0}});
      break;
    case 'T':
      Poly(s, {{0, 0}, {10, 0}});
      Poly(s, {{5, 0}, {5, 12}});
      break;
    default:
      break;
  }
  return s;
}
