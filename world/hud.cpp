// The status panel along the bottom of every screen.
#include <cmath>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/system.h"
#include "world/scoring.h"

namespace {

// Ten wedges round a centre; the lit ones cover `lit` degrees, the last
// one partly transparent.
template <class Colour, class Fade>
void DrawGauge(float cx, float cy, float lit, Colour colour, Fade fade) {
  for (int a = 0; a <= 324; a += 36) {
    SetDrawRotation(float(a));
    SetColor(65, 65, 65);
    SetDrawScale(0.85f, 0.85f);
    DrawImageFrame(wedgeImage, cx, cy, 0);  // dark backing
    SetDrawScale(0.75f, 0.75f);
    colour(a);
    if (a < lit) {
      if (lit - a < 36) SetAlpha(fade(lit - a));
      DrawImageFrame(wedgeImage, cx, cy, 0);
    }
    SetAlpha(1);
  }
}

void DrawCentredAt(const Text& text, int centre, float y) {
  DrawString(text, float(centre - StringWidth(text) / 2), y);
}

}  // namespace

Text ScoreText(int score) {
  Text digits = IntText(score);
  if (digits.size() < 7) digits.insert(0, 7 - digits.size(), u'0');
  return digits;
}

// The gauge shows bonus / (maxBonus div 360) degrees. Before the first game
// (and for figures under 360 cells' worth) there is no scale to show: dark.
float BonusGaugeDegrees() {
  int unit = maxBonus / 360;
  if (unit <= 0) return 0.0f;
  float k = 1.0f / float(unit);
  return k * float(bonus);
}

void EndOnCloseRequest() {
  if (CloseRequested()) EndProgram(0);
}

void DrawHud() {
  SetCurrentFont(smallFont);
  EndOnCloseRequest();
  if (logicOnly) {
    SetDrawScale(1, 1);  // the ship's collision test reads the scale the panel leaves
    SetDrawRotation(0);
    return;
  }

  DrawGauge(
      50, 570, float(combo), [](int a) { SetColorHSL(a * 0.003f / 3, 1.0f, 0.5f); },
      [](float part) { return part * 0.027777f; });
  DrawGauge(
      750, 570, BonusGaugeDegrees(), [](int a) { SetColorHSL(-(a * 0.0028f) / 3, 0.5f, 0.35f); },
      [](float part) { return part / 36; });

  SetColor(128, 128, 128);
  SetDrawScale(1, 1);
  SetDrawRotation(-90);
  DrawString(u"combo", 5, 590);
  SetDrawRotation(90);
  DrawString(u"bonus", 795, 550);
  SetDrawRotation(0);

  SetDrawScale(2, 2);
  Text frame = u"FRAME " + levelLabel;
  DrawCentredText2x(frame, 560);
  Text score = ScoreText(ReadScore());
  SetColorHSL(0.5f - ((ElapsedMillis() % 5000) * 0.001f) / 5, 0.5f, 0.5f);
  DrawString(score, float(200 - StringWidth(score)), 560);

  SetDrawScale(1, 1);
  SetColor(64, 64, 64);
  DrawLine(520, 562, 680, 562);
  DrawLine(520, 578, 680, 578);
  DrawLine(520, 562, 520, 578);
  SetColorHSL(((ElapsedMillis() % 10000) * 0.001f) / 10, 0.5f, 0.5f);
  int health = ReadHealth();
  if (health > 0) DrawRect(520, 562, float(health), 16);

  SetColor(64, 64, 64);
  DrawLine(300, 592, 500, 592, false);
  DrawLine(100, 552, 700, 552, false);
  DrawLine(500, 552, 500, 592, false);
  DrawLine(300, 552, 300, 592, false);
  DrawLine(100, 552, 100, 592, false);
  DrawLine(700, 552, 700, 592, false);

  SetColor(128, 128, 64);
  DrawCentredAt(u"my score", 200, 585);
  DrawCentredAt(u"my health", 600, 585);
}
