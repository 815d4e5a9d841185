// The program's spine: start-up, the screen loop, and the play frames with
// their fixed logic tick.
#include <algorithm>
#include <cstdlib>

#include "flow/comfort.h"
#include "flow/flow_state.h"
#include "flow/light.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/random.h"
#include "media/stream.h"
#include "media/system.h"
#include "replay/replay.h"
#include "scores/game_over.h"
#include "scores/score_table.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

int playState = PLAY_ON;
int level = 1;
Text levelLabel = u"A1";
int chaserCount = 1;
int chaserSpeed = 1;
int tickRate = 60;
int tickMs = 0;
int lastTick = 0;
int ticksDue = 0;
int wipeStep = 0;
ChannelRef musicChannel;
float musicVolume = 0.0f;
float musicMaster = 1.0f;
bool logicOnly = false;

namespace {
// The four credit lines of the start-up screen.
constexpr const char16_t* CREDIT_LINES[4] = {
    u"A game of lines, gaps and chasers",
    u"Code, pictures, sounds and music",
    u"made for this game by its own team",
    u"and its own media generator",
};
constexpr int CREDIT_Y[4] = {100, 180, 220, 260};

void StartUpScreen() {
  SetDrawScale(2, 2);
  SetColor(255, 255, 255);
  DrawCentredText2x(u"QUARV - Zephrant", 60);
  for (int i = 0; i < 4; ++i) DrawCentredText2x(CREDIT_LINES[i], CREDIT_Y[i]);
  FlushKeyState();
  DrawCentredText2x(u"*** LOADING/UNPACKING MEDIA ***", 280);
  SetDrawScale(1, 1);
  Flip(-1);
}
}  // namespace

void LevelSettings(int lvl, Text& label, int& layout, int& count, int& speed, int& rate) {
  label = lvl > 156 ? Text(u"??") : CharText(65 + (lvl - 1) / 6) + IntText((lvl - 1) % 6 + 1);
  layout = (lvl - 1) % 6 + 1;
  switch (((lvl - 1) / 6) % 4) {
    case 0: count = 1; speed = 1; break;
    case 1: count = 2; speed = 1; break;
    case 2: count = 1; speed = 2; break;
    default: count = 2; speed = 2; break;
  }
  rate = 60 + 10 * ((lvl - 1) / 24);
}

void StartUp(bool loadScores) {
  RegisterMediaFiles();
  SetAppTitle(u"QUARV: Zephrant v1.02");
  if (std::unique_ptr<TPixmap> icon = LoadPixmap(u"incbin::icon.png")) SetAppIcon(*icon);
  if (SelectAudioDriver(u"OpenAL")) {
    PrintLine(u"OPENAL AUDIO SET");
  } else {
    SelectAudioDriver(u"DirectSound");
    PrintLine(u"DIRECT SOUND AUDIO SET");
    PrintLine(u"no sound device or OpenAL library was found: the game plays without sound");
  }
  // Decode the effects on worker threads while the display opens and the
  // start-up screen shows; the two music tracks are streamed as they play.
  PreloadSounds({u"incbin::snd_chaser_turn.ogg", u"incbin::snd_collision.ogg",
                 u"incbin::snd_die.ogg", u"incbin::snd_make_gap.ogg",
                 u"incbin::snd_pickup.ogg", u"incbin::snd_draw_level.ogg",
                 u"incbin::snd_untouched.ogg", u"incbin::snd_bonus.ogg"});
  SeedRandom(ElapsedMillis());
  SetScore(0);
  SetHealth(0);
  if (loadScores) LoadScoreFile();
  StartComfort();
  OpenFirstDisplay();
  ShowDeferredScoreNotice();
  StartUpScreen();
  SeedRandom(ElapsedMillis());
  LoadMediaSet();
}

// Without a window there is no input and no way to quit: say why and stop.
void NoDisplay() {
  PrintErrorLine(u"QUARV: Zephrant: cannot open the display: " + GraphicsFailure());
  EndProgram(1);
}

void RunProgram() {
  StartUp();
  RunScreenLoop();
}

[[noreturn]] void RunScreenLoop() {
  for (;;) {
    RunTitleScreen();
    RunGame();
  }
}

void NewGame() {
  level = 1;
  SetScore(0);
  SetHealth(MAX_HEALTH);
  playState = PLAY_NEXT_LEVEL;
  delete player;
  player = new TPlayer();
  if (musicChannel) musicChannel->Stop();
  musicChannel = musicIngame ? musicIngame->Cue() : nullptr;
  if (musicChannel) {
    musicChannel->SetVolume(musicMaster);
    musicChannel->SetPaused(false);
  }
}

void StartLevel() {
  ClearParticles();
  PrintLine(u"creating level");
  int layout = 1;
  LevelSettings(level, levelLabel, layout, chaserCount, chaserSpeed, tickRate);
  SelectLayout(layout);
  ClearLevelGrid();
  BlankLightImage();
  BuildLevel();
  NoteLevelStart();
  playState = PLAY_ON;
  tickMs = TickLength(tickRate);
  lastTick = GameClock() - tickMs;
}

// From level 2281 on the rate passes 1000 ticks a second; a tick of 0 ms
// would stall the scheduler, so a tick lasts at least 1 ms.
int TickLength(int rate) { return rate > 1000 ? 1 : 1000 / std::max(rate, 1); }

int TicksToRun() {
  int elapsed;
  do {
    elapsed = GameClock(true) - lastTick;
    DelayMillis(1);
  } while (elapsed == 0);
  ticksDue = elapsed / tickMs;
  if (ticksDue > tickRate / 2) {
    // More than half a second behind: give up catching up.
    ticksDue = 2;
    lastTick = GameClock() - tickMs;
  }
  if (ticksDue > 5) ticksDue = 5;
  if (ticksDue < 0) ticksDue = 0;
  NoteTicks(ticksDue);
  return ticksDue;
}

void RunTick() {
  lastTick += tickMs;
  NotePlayTick();
  SmoothLightMap();
  player->Update();
  chaser1->Update();
  if (chaserCount == 2) chaser2->Update();
  UpdateParticles();
  RefreshGridImage();
}

void DrawPlayScene(bool withShip) {
  DrawLevel();
  SetColor(255, 255, 255);
  if (withShip && player) player->Draw();
  if (chaser1) chaser1->Draw();
  if (chaserCount == 2 && chaser2) chaser2->Draw();
  SetBlend(BLEND_LIGHT);
  DrawParticles();
  SetViewport(0, 0, 800, 550);
  DrawLightMap();
  DrawGridGlow();
  SetViewport(0, 0, 800, 600);
  DrawHud();
}

void PlayFrame() {
  if (KeyHits(KEY_ESCAPE)) playState = PLAY_QUIT;  // the rest of the frame still runs
  int n = TicksToRun();
  for (int i = 0; i < n; ++i) RunTick();
  DrawPlayScene();
  Flip(-1);
  Cls();
  // Later tests win: death over a finished level, a finished level over ESC.
  if (cellsLeft == 0) playState = PLAY_NEXT_LEVEL;
  if (ReadHealth() < 1) playState = PLAY_DEAD;
  if (playState == PLAY_ON && PausePoint(PauseAt::Play)) playState = PLAY_QUIT;
}

// While playing, the pad's Start pauses instead of opening a gap.
void RunPlayFrames() {
  ForgetPauseKeys();
  SetPadStartIsSpace(false);
  while (playState == PLAY_ON) PlayFrame();
  SetPadStartIsSpace(true);
}

void EndOfGame() {
  if (musicChannel) musicChannel->Stop();
  ClearLightMap();
  FlushKeyState();
}

// Every game is recorded from New game to its end.
void RunGame() {
  BeginGameRecord();
  NewGame();
  PlayLevels();
  EndGameRecord();
}

void PlayLevels() {
  for (;;) {
    StartLevel();
    RunPlayFrames();
    wipeStep = 0;
    if (playState == PLAY_NEXT_LEVEL) {
      RunLevelComplete();
      ClearLightMap();
      ++level;
      FlushKeyState();
      if (playState == PLAY_NEXT_LEVEL) continue;
      EndOfGame();
      return;
    }
    FlushKeyState();
    if (playState == PLAY_DEAD) {
      RunGameOver();  // ends with the music stopped, the light cleared and the keys flushed
      return;
    }
    EndOfGame();
    return;
  }
}

void DrawPanelBox(float alpha, int r, int g, int b) {
  SetAlpha(alpha);
  SetBlend(BLEND_ALPHA);
  SetColor(r, g, b);
  DrawRect(50, 50, 700, 450);
  SetColor(255, 255, 255);
  DrawLine(50, 50, 750, 50);
  DrawLine(50, 500, 750, 500);
  DrawLine(50, 50, 50, 500);
  DrawLine(750, 50, 750, 500);
  SetAlpha(1);
  SetBlend(BLEND_LIGHT);
}

void DrawCentredText(const Text& text, float y) {
  DrawString(text, static_cast<float>(400 - StringWidth(text) / 2), y);
}

// StringWidth measures unscaled text, so at scale 2 the width is the offset.
void DrawCentredText2x(const Text& text, float y) {
  DrawString(text, static_cast<float>(400 - StringWidth(text)), y);
}

void DrawWipe(int w) {
  SetBlend(BLEND_ALPHA);
  SetColor(0, 0, 0);
  DrawRect(400 - 16 * w, 275 - 11 * w, 32 * w, 22 * w);
  SetBlend(BLEND_LIGHT);
}
