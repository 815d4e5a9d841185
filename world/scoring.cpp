// Score and health counters, the combo and bonus numbers, HSL colours and
// the level-complete sequence.
#include "world/scoring.h"

#include <algorithm>
#include <cmath>

#include "flow/comfort.h"
#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/stream.h"
#include "world/chaser.h"
#include "world/cue.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"

int combo = COMBO_MIN;
int maxBonus = 0;
int bonus = 0;
int bonusPercent = 0;
Text awardText, pointsText;
ChannelRef bonusChannel;

namespace {

// Fresh keys for every counter and every store, so a value never sits in
// memory in the same form twice. Does not touch the game's random numbers.
uint32_t NextKey() {
  static uint64_t state = 0x9E3779B97F4A7C15ull ^ uint64_t(reinterpret_cast<uintptr_t>(&state));
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return uint32_t(z ^ (z >> 31)) | 0x10001u;  // never 0 in either half
}

ProtectedCounter scoreCounter;
ProtectedCounter healthCounter;

}  // namespace

ProtectedCounter::ProtectedCounter() { Set(0); }

void ProtectedCounter::Set(int value) {
  uint32_t v = uint32_t(value);
  key_lo_ = NextKey();
  key_hi_ = NextKey();
  lo_ = (v & 0xFFFFu) ^ key_lo_;
  hi_ = (v >> 16) ^ key_hi_;
}

int ProtectedCounter::Read() const {
  uint32_t lo = (lo_ ^ key_lo_) & 0xFFFFu;
  uint32_t hi = (hi_ ^ key_hi_) & 0xFFFFu;
  return int((hi << 16) | lo);
}

void ProtectedCounter::Add(int n) { Set(int(uint32_t(Read()) + uint32_t(n))); }

void AddScore(int n) { scoreCounter.Add(n); }
int ReadScore() { return scoreCounter.Read(); }
void SetScore(int value) { scoreCounter.Set(value); }
void AddHealth(int n) { healthCounter.Add(n); }
int ReadHealth() { return healthCounter.Read(); }
void SetHealth(int value) { healthCounter.Set(value); }

float HueToChannel(float p, float q, float t) {
  while (t < 0) t += 1;
  if (t > 1) t -= 1;
  if (6 * t < 1) return p + (q - p) * 6 * t;
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (0.6666f - t) * 6;
  return p;
}

void SetColorHSL(float h, float s, float l) {
  float q = l > 0.5f ? l + s - l * s : l * (1 + s);
  float p = 2 * l - q;
  float r = HueToChannel(p, q, h + 0.3333f);
  float g = HueToChannel(p, q, h);
  float b = HueToChannel(p, q, h - 0.3333f);
  SetColor(int(255 * r), int(255 * g), int(255 * b));
}

// --- Level complete ---

namespace {

int ComputeBonusPercent() {
  if (maxBonus == 0) return 0;
  return int(100.0 * bonus / maxBonus);
}

Text AwardFor(int percent) {
  if (percent > 100) return u"PLATINUM Bonus Award!!!";
  if (percent > 50) return u"GOLD Bonus Award!!";
  if (percent > 25) return u"SILVER Bonus Award!";
  if (percent > 0) return u"BRONZE Bonus Award..";
  return u"Sorry, no bonus...";
}

// Three minutes at 50 frames a second: no replay keeps a verifier on this
// screen longer.
constexpr int LEVEL_END_FRAMES = 9000;

void SetMedalColour(int percent) {
  if (percent > 100)
    SetColor(129, 248, 249);
  else if (percent > 50)
    SetColor(208, 208, 0);
  else if (percent > 25)
    SetColor(128, 128, 128);
  else
    SetColor(123, 66, 18);
}


}  // namespace

void LevelCompleteFrame() {
  int& t = playState;
  DrawPlayScene();  // frozen: nothing is updated

  DrawPanelBox(t < 20 ? 0.025f * t : 0.5f, 5, 5, 100);
  SetCurrentFont(bigFont);
  SetDrawScale(1, 1);
  SetColorHSL(std::fmod(0.005f * t, 1.0f), 0.5f, 0.4f);

  if (t > 30 && t < 100) {
    if (player && player->untouched == 1) {
      DrawCentredText(u"You can't catch me!", 80);
      if (t == 50) {
        bonus *= 2;
        bonusPercent = ComputeBonusPercent();
        PlayCue(sndUntouched, 1.0f, 0.0f);
      }
    } else {
      DrawCentredText(u"Have a health boost!", 80);
      if (t == 32) PlayCue(sndUntouched, 0.5f, 0.0f);
    }
  }
  if (t > 30 && t < 71 && t % 4 == 1 && ReadHealth() < MAX_HEALTH) AddHealth(1);

  if (t == 100) {
    awardText = AwardFor(bonusPercent);
    pointsText = u"Points = " + IntText(bonus) + u" (" + IntText(bonusPercent) + u"%)";
  }
  if (t > 100) {
    if (bonusPercent != 0) {
      SetMedalColour(bonusPercent);
      float s = t < 200 ? 0.02f * (t - 100) : 2.0f;
      SetDrawScale(s, s);
      DrawImageFrame(starImage, 400, 270, 0);
      SetDrawScale(1, 1);
    }
    SetColorHSL(std::fmod(0.005f * t, 1.0f), 0.5f, 0.4f);
    DrawCentredText(awardText, 200);
    SetColorHSL(std::fmod(0.5f + 0.005f * t, 1.0f), 0.5f, 0.4f);
    DrawCentredText(pointsText, 300);
  }

  if (t > 110 && bonus != 0) {
    if (sndBonus && (!bonusChannel || !bonusChannel->Playing()))
      bonusChannel = sndBonus->Play(bonusChannel);
    if (bonusChannel) bonusChannel->SetRate(0.004f * t);
    int paid = std::min(bonus, 19);
    bonus -= paid;
    AddScore(paid);
    FlushKeyState();
  }

  t++;

  if (t > 200 && bonus == 0) {
    SetColorHSL(std::fmod(0.05f * t, 1.0f), 0.5f, 0.4f);
    DrawCentredText(u"Press SPACE to continue.", 450);
    // The screen waits at most LEVEL_END_FRAMES in all, then goes on by itself.
    if ((KeyHits(KEY_SPACE) || t > LEVEL_END_FRAMES) && wipeStep == 0) wipeStep = 1;
  }
  if (KeyHits(KEY_ESCAPE)) {
    playState = PLAY_QUIT;
    wipeStep = 25;  // one full-size wipe frame, then out
  }
  SetCurrentFont(smallFont);

  if (wipeStep != 0) {
    DrawWipe(wipeStep);
    wipeStep++;
  }
}

void RunLevelComplete() {
  PrintLine(u"bonus: " + IntText(bonus));
  bonusPercent = ComputeBonusPercent();
  bonusChannel = sndBonus ? sndBonus->Cue() : nullptr;
  do {
    LevelCompleteFrame();
    Flip(-1);
    Cls();
    if (wipeStep < 25 && PausePoint(PauseAt::LevelEnd)) {
      playState = PLAY_QUIT;
      wipeStep = 26;  // where ESC's full-size wipe frame leaves it
    }
  } while (wipeStep < 25);
  if (wipeStep == 25) playState = PLAY_NEXT_LEVEL;
}
