#include "flow/comfort.h"

#include <algorithm>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "media/audio.h"
#include "media/clock.h"
#include "media/config.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/random.h"
#include "replay/replay.h"
#include "world/scoring.h"

bool gamePaused = false;

namespace {

int volumeStep = VOLUME_STEPS;
bool muted = false;
int volumeShownAt = 0;
bool volumeShown = false;
PauseAt pausedAt = PauseAt::Play;
constexpr int INDICATOR_MS = 1000;

// Loudness follows the square of the step, so the low steps stay usable.
void ApplyVolume() {
  float part = static_cast<float>(volumeStep) / VOLUME_STEPS;
  SetMasterVolume(muted ? 0.0f : part * part);
}

void ShowVolume() {
  volumeShown = true;
  volumeShownAt = ElapsedMillis();
}

void KeepVolume() {
  SetConfigInt(u"volume", volumeStep);
  SetConfigInt(u"mute", muted ? 1 : 0);
  SaveConfig();
}

void ComfortKey(const InputEvent& e) {
  if (e.kind == InputEventKind::KeyDown && e.code == KEY_M) return ToggleMute();
  if (e.kind != InputEventKind::Char) return;
  if (e.code == u'-') ChangeVolume(-1);
  if (e.code == u'=' || e.code == u'+') ChangeVolume(1);
}

void DarkBox(float x, float y, float w, float h) {
  SetBlend(BLEND_ALPHA);
  SetAlpha(0.7f);
  SetColor(0, 0, 0);
  DrawRect(x, y, w, h);
  SetAlpha(1);
}

void DrawVolume() {
  if (!volumeShown) return;
  if (ElapsedMillis() - volumeShownAt > INDICATOR_MS) {
    volumeShown = false;
    return;
  }
  SetCurrentFont(smallFont);
  DarkBox(600, 6, 194, 26);
  SetColor(255, 255, 255);
  DrawString(u"VOLUME", 608, 10);
  if (muted) {
    SetColor(255, 96, 96);
    DrawString(u"OFF (M)", 690, 10);
    return;
  }
  for (int i = 0; i < VOLUME_STEPS; ++i) {
    if (i < volumeStep)
      SetColor(96, 255, 128);
    else
      SetColor(64, 64, 64);
    DrawRect(690.0f + 10 * i, 24.0f - 1.4f * i, 7, 4 + 1.4f * i);
  }
}

void DrawReplayLabel() {
  if (!ReplayPlaying()) return;
  SetCurrentFont(smallFont);
  DarkBox(6, 6, 92, 44);
  SetColor(255, 80, 80);
  DrawString(u"REPLAY", 14, 10);
  SetColor(200, 200, 200);
  DrawString(u"ESC ends", 14, 28);
}

void DrawPaused() {
  if (!gamePaused) return;
  SetViewport(0, 0, 800, 600);
  DarkBox(0, 0, 800, 550);
  SetBlend(BLEND_ALPHA);
  SetCurrentFont(bigFont);
  SetColor(255, 255, 255);
  DrawCentredText(u"PAUSED", 220);
  SetCurrentFont(smallFont);
  SetColor(200, 200, 200);
  if (AppSuspended()) {
    DrawCentredText(u"The game goes on when its window is active again.", 300);
  } else {
    DrawCentredText(u"Press P or the pad's Start to go on.", 300);
    if (pausedAt != PauseAt::GameOver) DrawCentredText(u"ESC leaves the game.", 325);
  }
}

void DrawComfortOverlay() {
  SetDrawScale(1, 1);
  SetDrawRotation(0);
  SetDrawOrigin(0, 0);
  if (logicOnly) return;
  DrawPaused();
  DrawReplayLabel();
  DrawVolume();
}

}  // namespace

void StartComfort() {
  volumeStep = std::clamp(ConfigInt(u"volume", VOLUME_STEPS), 0, VOLUME_STEPS);
  muted = ConfigInt(u"mute", 0) != 0;
  ApplyVolume();
  SetLiveKeyWatcher(ComfortKey);
  SetFlipOverlay(DrawComfortOverlay);
}

int VolumeStep() { return volumeStep; }

bool Muted() { return muted; }

void ChangeVolume(int steps) {
  volumeStep = std::clamp(volumeStep + steps, 0, VOLUME_STEPS);
  muted = false;
  ApplyVolume();
  ShowVolume();
  KeepVolume();
}

void ToggleMute() {
  muted = !muted;
  ApplyVolume();
  ShowVolume();
  KeepVolume();
}

void ForgetPauseKeys() {
  PolledKeyHits(KEY_P);
  PolledKeyHits(KEY_PAD_START);
}

bool PausePoint(PauseAt where) {
  // Reads what this frame's polls left; asking without a poll keeps the
  // poll count, and so every recording, as it was.
  int asked = PolledKeyHits(KEY_P);
  if (where == PauseAt::Play) asked += PolledKeyHits(KEY_PAD_START);
  if (asked == 0 && !AppSuspended()) return false;

  bool byKey = asked > 0, escaped = false;
  gamePaused = true;
  pausedAt = where;
  int stoppedAt = GameClock();
  bool music = musicChannel && musicChannel->Playing();
  if (music) musicChannel->SetPaused(true);
  // A replay that stops being watched ends the pause by throwing out of it.
  struct Resume {
    ~Resume() { gamePaused = false; }
  } resume;
  while (byKey || AppSuspended()) {
    // The standing scene flickers as it draws; the random state it leaves
    // is put back so that a pause changes nothing the game goes on with;
    // a verifier, which draws nothing, keeps only the panel's poll.
    if (logicOnly) {
      EndOnCloseRequest();
    } else {
      int state = RandomState();
      DrawPlayScene(where != PauseAt::GameOver);
      SeedRandom(state);
    }
    Flip(-1);
    Cls();
    if (KeyHits(KEY_ESCAPE) && where != PauseAt::GameOver) {
      escaped = true;
      break;
    }
    int again = KeyHits(KEY_P);
    if (where == PauseAt::Play) again += PolledKeyHits(KEY_PAD_START);
    if (again > 0) byKey = !byKey;
  }
  gamePaused = false;
  lastTick += GameClock() - stoppedAt;
  if (music) musicChannel->SetPaused(false);
  return escaped;
}
