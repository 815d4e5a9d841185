// The game's numbers and how they are shown: score and health counters,
// the combo meter, the level bonus with its awards, the status panel and
// the level-complete sequence.
#pragma once
#include <cstdint>

#include "media/audio.h"
#include "media/text.h"

// An int whose stored form is never the plain value in one memory word:
// two halves, each xored with its own per-counter key.
class ProtectedCounter {
 public:
  ProtectedCounter();
  void Add(int n);
  int Read() const;
  void Set(int value);

 private:
  uint32_t key_lo_, key_hi_;
  uint32_t lo_, hi_;  // low and high 16 bits of the value, each xored with its key
};

// --- Counters ---
void AddScore(int n);
int ReadScore();
void SetScore(int value);
void AddHealth(int n);  // n may be negative; health may go below 0
int ReadHealth();
void SetHealth(int value);

constexpr int MAX_HEALTH = 160;  // the health bar's full width in pixels
constexpr int COMBO_MIN = 36, COMBO_MAX = 360;

extern int combo;         // 36..360; points per painted cell = combo div 36
extern int maxBonus;      // 7 per line cell of the level; 0 before the first game
extern int bonus;         // counts down per player tick, paid out at level end
extern int bonusPercent;  // trunc(100 * bonus / maxBonus)
extern Text awardText, pointsText;
extern ChannelRef bonusChannel;

// --- Colours ---
void SetColorHSL(float h, float s, float l);
float HueToChannel(float p, float q, float t);

// --- Status panel and level end ---
Text ScoreText(int score);  // seven digits at least, zero-padded
float BonusGaugeDegrees();  // lit arc of the bonus gauge; 0 when maxBonus < 360
void DrawHud();             // status panel; ends the program on a close request
void EndOnCloseRequest();   // what the panel does beside drawing: a poll, and the end on a close
void RunLevelComplete();    // frames from playState 2 until the wipe ends (playState 2 or 3)
void LevelCompleteFrame();  // one frame of it, without Flip (tests)
