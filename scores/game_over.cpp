#include "scores/game_over.h"

#include <cmath>

#include "flow/comfort.h"
#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/stream.h"
#include "replay/replay.h"
#include "scores/online_identity.h"
#include "scores/score_table.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

Text playerName;
Text entryLabel;

namespace {

// Frames of the sequence, counted by playState from 1.
constexpr int PANEL_FADE_END = 20;
constexpr int TITLE_FADE_START = 50, TITLE_FADE_END = 75;
constexpr int SCORE_OFFER_FRAME = 150;
constexpr int PROMPT_FRAME = 200;
constexpr int WIPE_END = 25;
constexpr int MAX_NAME_LENGTH = 20;
// The name entry takes the name as it stands after three minutes at 50
// frames a second, so no replay keeps a verifier in it longer.
constexpr int NAME_ENTRY_FRAMES = 9000;

float Frac(float x) { return std::fmod(x, 1.0f); }

void DrawPanel() {
  DrawPanelBox(playState < PANEL_FADE_END ? 0.025f * playState : 0.5f, 5, 5, 100);
  SetCurrentFont(bigFont);
}

void DrawGameOverTitle() {
  SetDrawScale(2.5f, 3);
  // The lettering pulses between grey and colour every 90 frames.
  float saturation = std::sin(2.0 * playState * M_PI / 180.0) > 0 ? 0.1f : 0.5f;
  SetColorHSL(Frac(0.01f * playState), saturation, 0.4f);
  SetAlpha(playState < TITLE_FADE_END ? 0.04f * (playState - TITLE_FADE_START) : 1.0f);
  DrawString(u"GAME OVER", 400 - 1.25f * StringWidth(u"GAME OVER"), 75);
  SetDrawScale(1, 1);
  SetAlpha(1);
}

void DrawHighScoreTexts() {
  SetColorHSL(Frac(0.2f + 0.025f * playState), 0.6f, 0.6f);
  DrawCentredText(u"* Congratulations! *", 220);
  SetColorHSL(Frac(0.4f + 0.025f * playState), 0.6f, 0.6f);
  DrawCentredText(u"You have a high score!", 270);
  SetColorHSL(Frac(0.6f + 0.025f * playState), 0.6f, 0.6f);
  DrawCentredText(entryLabel, 320);
}

void DrawResult() {
  if (!gotHighScore) {
    SetColorHSL(0.5f + Frac(0.025f * playState), 0.6f, 0.6f);
    DrawCentredText(u"UNLUCKY... NO HIGH SCORE!", 270);
    return;
  }
  SetAlpha(0.5f);
  DrawHighScoreTexts();
  SetAlpha(1);
}

bool NameCharAccepted(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' || (c >= 45 && c <= 59);
}

// One typed character; true when it was Enter.
bool TakeTypedChar() {
  int c = NextTypedChar();
  if (c == KEY_ENTER) {
    if (playerName.empty()) playerName = u"Anonymous";
    return true;
  }
  if (c == KEY_BACKSPACE) {
    if (!playerName.empty()) playerName.pop_back();
  } else if (NameCharAccepted(c) && playerName.size() < MAX_NAME_LENGTH) {
    playerName += static_cast<char16_t>(c);
  }
  return false;
}

// With a gamepad: up and down change the last letter through every
// character the entry takes, right adds a letter, left removes the last,
// A or Start ends the entry. Only the pad's own codes count here, so the
// cursor keys of the keyboard still do nothing in the entry; they are read
// from the poll the typed character took.
constexpr char16_t PAD_LETTERS[] =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-./:; ";
constexpr int PAD_LETTER_COUNT = sizeof(PAD_LETTERS) / sizeof(char16_t) - 1;

bool TakePadEdit() {
  int confirm = PolledKeyHits(KEY_PAD_A) + PolledKeyHits(KEY_PAD_START);
  int step = PolledKeyHits(KEY_PAD_UP) + PolledKeyHits(KEY_STICK_UP) - PolledKeyHits(KEY_PAD_DOWN) -
             PolledKeyHits(KEY_STICK_DOWN);
  int add = PolledKeyHits(KEY_PAD_RIGHT) + PolledKeyHits(KEY_STICK_RIGHT);
  int remove = PolledKeyHits(KEY_PAD_LEFT) + PolledKeyHits(KEY_STICK_LEFT);
  for (; remove > 0 && !playerName.empty(); --remove) playerName.pop_back();
  for (; add > 0 && playerName.size() < MAX_NAME_LENGTH; --add) playerName += PAD_LETTERS[0];
  if (step != 0) {
    if (playerName.empty()) {  // the first letter starts at A whichever way
      playerName += PAD_LETTERS[0];
      step -= step > 0 ? 1 : -1;
    }
    const char16_t* at =
        std::char_traits<char16_t>::find(PAD_LETTERS, PAD_LETTER_COUNT, playerName.back());
    int index = at ? static_cast<int>(at - PAD_LETTERS) : 0;
    playerName.back() =
        PAD_LETTERS[((index + step) % PAD_LETTER_COUNT + PAD_LETTER_COUNT) % PAD_LETTER_COUNT];
  }
  if (confirm == 0) return false;
  if (playerName.empty()) playerName = u"Anonymous";
  return true;
}

void DrawNameBar() {
  SetColor(128, 0, 0);
  DrawRect(0, 405, 800, 42);
  SetColor(255, 255, 255);
  if (!playerName.empty()) DrawCentredText(playerName, 413);
  // A block right of the name, white in the first half of each second and
  // blue in the second.
  if (ElapsedMillis() % 1000 > 500) SetColor(0, 0, 255);
  DrawRect(static_cast<float>(400 + StringWidth(playerName) / 2), 408, 36, 36);
}

}  // namespace

void RunGameOver() {
  NoteEndOfPlay();
  if (sndDie) sndDie->Play();
  gotHighScore = false;
  musicVolume = 1.0f;
  wipeStep = 0;
  do {
    DrawGameOverFrame();
    if (playState == SCORE_OFFER_FRAME) InsertLocalScore();
    if (playState > SCORE_OFFER_FRAME) DrawResult();
    SetCurrentFont(bigFont);
    // SPACE is read every frame so that a press before the prompt is
    // forgotten rather than kept for later.
    int space = KeyHits(KEY_SPACE);
    if (playState > PROMPT_FRAME) {
      SetColorHSL(Frac(0.05f * playState), 0.5f, 0.4f);
      DrawCentredText(u"Press SPACE for title screen.", 450);
      if (space && wipeStep == 0) wipeStep = 1;
    }
    SetCurrentFont(smallFont);
    if (wipeStep != 0) {
      musicVolume -= 0.04f;
      if (musicChannel) musicChannel->SetVolume(musicMaster * musicVolume);
      DrawWipe(wipeStep);
      ++wipeStep;
    }
    Flip(-1);
    Cls();
    if (wipeStep == 0) PausePoint(PauseAt::GameOver);
  } while (wipeStep < WIPE_END);
  if (musicChannel) musicChannel->Stop();
  ClearLightMap();
  FlushKeyState();
}

// The world goes on without the ship: the chasers patrol, the wreck keeps
// exploding where the ship was, and the logic rate falls back to 60.
void DrawGameOverFrame() {
  if (tickRate > 60) {
    --tickRate;
    tickMs = TickLength(tickRate);
    PrintLine(IntText(tickRate));
  }
  int ticks = TicksToRun();
  for (int i = 0; i < ticks; ++i) {
    lastTick += tickMs;
    SmoothLightMap();
    if (chaser1) chaser1->Update();
    if (player)
      for (int n = 0; n < 5; ++n)
        SpawnExplosion(static_cast<float>(player->x), static_cast<float>(player->y));
    if (chaserCount == 2 && chaser2) chaser2->Update();
    UpdateParticles();
  }

  DrawPlayScene(false);  // the world goes on without the ship
  DrawPanel();
  if (playState > TITLE_FADE_START) DrawGameOverTitle();
  ++playState;
}

void EnterScoreName() {
  FlushKeyState();
  SetDrawOrigin(0, 0);
  SetAlpha(1);
  SetDrawScale(1, 1);
  SetBlend(BLEND_ALPHA);
  entryLabel.clear();
  if (newEntryIndex < 25) entryLabel = u"Local Score #" + IntText(newEntryIndex + 1);
  gotHighScore = true;
  bool done = false;
  int frames = 0;
  SetTypingText(true);  // M, '-' and '=' are letters of the name here
  while (!done) {
    DrawGameOverFrame();
    SetColor(255, 255, 255);
    done = TakeTypedChar();
    if (!done) done = TakePadEdit();
    if (!done && ++frames >= NAME_ENTRY_FRAMES) {
      done = true;
      if (playerName.empty()) playerName = u"Anonymous";
    }
    SetAlpha(0.5f);
    SetDrawScale(1, 1);
    DrawHighScoreTexts();
    DrawNameBar();
    Flip(-1);
    Cls();
  }
  SetTypingText(false);
  // The name typed here is the player's name on the online board too; an
  // entry left empty keeps the one the board already knows.
  if (playerName != u"Anonymous") RememberOnlineName(playerName);
  FlushKeyState();
}
