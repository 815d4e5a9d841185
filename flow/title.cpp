// The title screen: drifting grid, title pictures, key list, the board,
// the display switch and the closing wipe.
#include "flow/title.h"

#include <cmath>

#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "media/config.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/system.h"
#include "scores/board.h"
#include "world/scoring.h"

int titleTime = 0;
int fullscreen = 0;

namespace {

constexpr double DEG = 3.14159265358979323846 / 180.0;

struct TKeyLine {
  int start;  // titleTime after which the line shows
  const char16_t* text;
  int y;
};
constexpr TKeyLine KEY_LIST[] = {
    {100, u"[H] View high-scores.", 250},
    {120, u"[F12] Switch fullscreen/windowed.", 300},
    {140, u"[SPACE] Play the game.", 350},
    {160, u"[ESC] Quit to operating system.", 460},
};

void SetMusicVolume() {
  if (musicChannel) musicChannel->SetVolume(musicMaster * musicVolume);
}

void DrawBackground(int t) {
  SetViewport(0, 0, 800, 530);
  SetAlpha(0.25f);
  SetColor(50, 5, 5);
  TileImageFrame(gridTile, float(t % 256), float((t / 2) % 256), 0);
  SetColor(5, 5, 50);
  TileImageFrame(gridTile, float(-(((t / 2) % 256) / 2)), float(t % 256), 0);
  SetColor(5, 50, 5);
  TileImageFrame(gridTile, float(64 * std::sin(t * DEG)), float(64 * std::cos(t * DEG)), 0);
  SetViewport(0, 0, 800, 600);
  SetColor(255, 255, 255);
}

void DrawPictures(int t) {
  if (t < 100) {
    SetAlpha(0.01f * t);
    DrawImageFrame(titleImage1, 400, float(t - 10), 0);
    DrawImageFrame(titleImage2, 400, 175, 0);
    SetAlpha(1);
  } else {
    SetAlpha(1);
    DrawImageFrame(titleImage1, 400, 90, 0);
    DrawImageFrame(titleImage2, 400, 175, 0);
  }
}

void DrawKeyList(int t) {
  SetColor(128, 128, 128);
  SetDrawScale(2, 2);
  for (const TKeyLine& line : KEY_LIST) {
    if (line.start >= t) continue;
    SetAlpha(t < line.start + 40 ? 0.025f * (t - line.start) : 1.0f);
    Text text = line.text;
    DrawCentredText2x(text, float(line.y));
  }
  SetDrawScale(1, 1);
  SetAlpha(1);
}

// The player's last choice of F12, kept in the settings file.
const Text FULLSCREEN_SETTING = u"fullscreen";

// A full screen that cannot be opened leaves the game in a window; when
// not even that opens, the game cannot go on. The choice is kept, so the
// next run opens where this one was left.
void SwitchDisplay() {
  fullscreen = (fullscreen + 1) % 2;
  if (fullscreen == 1 && !OpenGraphics(800, 600, 32, 60, 0)) fullscreen = 0;
  if (fullscreen == 0 && !OpenGraphics(800, 600, 0, 60, 0)) NoDisplay();
  SetMouseVisible(fullscreen == 0);
  SetColor(255, 255, 255);
  SetBlend(BLEND_LIGHT);
  SetConfigInt(FULLSCREEN_SETTING, fullscreen);
  SaveConfig();
}

}  // namespace

void TitleFrame() {
  if (musicVolume < 1.0f && wipeStep == 0) {
    musicVolume += 0.05f;
    SetMusicVolume();
  }
  if (KeyHits(KEY_ESCAPE)) EndProgram(0);

  DrawBackground(titleTime);
  DrawPictures(titleTime);
  DrawKeyList(titleTime);

  if (boardOpen == 0) {
    if (KeyHits(KEY_SPACE) && wipeStep == 0) wipeStep = 1;
    if (wipeStep == 0) OpenBoardIfRequested();
  }
  if (boardOpen != 0) BoardPanelStep();

  if (wipeStep != 0) {
    musicVolume -= 0.04f;
    SetMusicVolume();
    DrawWipe(wipeStep);
    wipeStep++;
    SetColor(255, 255, 255);
  }

  DrawHud();
  DrawScanlines();
  titleTime += 2;
  Flip(-1);
  Cls();

  if (KeyHits(KEY_F12)) SwitchDisplay();
}

// The game starts in a window paced at 50 frames a second, or, when the
// player left it in full screen, in full screen as F12 opens it.
void OpenFirstDisplay() {
  fullscreen = ConfigInt(FULLSCREEN_SETTING, 0) == 1 ? 1 : 0;
  if (fullscreen == 1 && !OpenGraphics(800, 600, 32, 60, 0)) fullscreen = 0;
  if (fullscreen == 0 && !OpenGraphics(800, 600, 0, 50, 0)) NoDisplay();
  SetMouseVisible(fullscreen == 0);
}

void RunTitleScreen() {
  ReleaseFreeMemory();  // what the game before used
  FlushKeyState();
  titleTime = 0;
  musicVolume = 0.0f;
  musicChannel = musicTitle ? musicTitle->Cue() : nullptr;
  if (musicChannel) musicChannel->SetPaused(false);
  wipeStep = 0;
  boardAnim = 0;
  boardOpen = 0;
  SetBlend(BLEND_LIGHT);
  do {
    TitleFrame();
  } while (wipeStep != 25);
}
