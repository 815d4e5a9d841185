// What a player of today expects beside the game itself: a pause, a volume
// that stays as set, and small hints drawn over whatever screen is up.
#pragma once
#include "media/text.h"

void StartComfort();  // the kept volume, the keys that act on every screen, the overlay

// --- Pause ---
// Where a pause can stop the game, once a frame after the frame's polls.
enum class PauseAt { Play, LevelEnd, GameOver };
// P, the pad's Start while playing, or a lost focus stops the game here;
// it goes on after P (or Start) again once the focus is back. While it
// waits the scene stands still under a PAUSED panel, the music holds and
// the scheduler's clock is moved on by the time it stood, so no tick is
// caught up afterwards. Only what a recording holds (keys, focus changes
// and two clock reads) decides it, so replays play it back exactly.
// True when ESC was pressed meanwhile (play and level end leave the game).
bool PausePoint(PauseAt where);
void ForgetPauseKeys();  // drops P and Start presses made before this frame
extern bool gamePaused;

// --- Volume (M mutes, '-' and '=' or '+' step) ---
constexpr int VOLUME_STEPS = 10;
int VolumeStep();  // 0 .. VOLUME_STEPS
bool Muted();
void ChangeVolume(int steps);  // kept in the settings file, shown for a second
void ToggleMute();
