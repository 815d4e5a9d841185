// Program flow: the screen loop, the fixed logic tick of the play frames and
// the state every screen shares.
#pragma once
#include "media/audio.h"
#include "media/text.h"

extern int playState;     // 0 playing, 1 dead, 2 next level / level-complete frame count, 3 quit
extern int level;         // from 1
extern Text levelLabel;   // "A1" .. "Z6", "??" from level 157
extern int chaserCount;   // 1 or 2
extern int chaserSpeed;   // 1 slow, 2 fast
extern int tickRate;      // logic ticks per second
extern int tickMs;        // 1000 div tickRate, at least 1
extern int lastTick;      // clock time up to which ticks have run
extern int ticksDue;
extern int wipeStep;      // closing wipe, 0 = none, 1 .. 25
extern ChannelRef musicChannel;
extern float musicVolume;
extern float musicMaster;
// Set while a replay is verified: frames keep everything the outcome
// depends on (the logic, the cell count, the random calls of drawing, the
// polls) and draw nothing.
extern bool logicOnly;

constexpr int PLAY_ON = 0, PLAY_DEAD = 1, PLAY_NEXT_LEVEL = 2, PLAY_QUIT = 3;

// --- Screens and sequences ---
[[noreturn]] void RunProgram();  // start-up, then the screen loop for ever
void StartUp(bool loadScores = true);  // everything up to the first title frame
[[noreturn]] void RunScreenLoop();  // title, game, title ... (never returns)
void RunGame();                  // one game from New game to End of game
void NewGame();
void PlayLevels();               // from the first level start to the end of the game
void StartLevel();               // Level start: label, layout, variant, rate, build
void RunPlayFrames();            // play frames while playState = 0
void PlayFrame();                // one play frame
int TickLength(int rate);                  // tickMs for a rate: 1000 div rate, at least 1
int TicksToRun();                // the scheduler: ticks due now, adjusting lastTick
void RunTick();                  // one logic tick of play
void DrawPlayScene(bool withShip = true);  // the play frame's drawing, without Flip
void EndOfGame();
[[noreturn]] void NoDisplay();  // no display could be opened: a message and exit status 1
void DrawWipe(int w);
void DrawPanelBox(float alpha, int r, int g, int b);  // the 700 x 450 panel with its outline
void DrawCentredText(const Text& text, float y);      // centred on x = 400 at scale 1
void DrawCentredText2x(const Text& text, float y);    // centred on x = 400 at scale 2
void LevelSettings(int lvl, Text& label, int& layout, int& count, int& speed, int& rate);
