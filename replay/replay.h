// Every game is recorded from "New game" to its end: the state it started
// from, what the scheduler's clock read, the input events each poll handed
// to the game and the local table's answer to its score. A recording played
// back feeds the same answers to the same game code, which then runs to the
// same end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "replay/replay_file.h"

// --- Hooks in the game ---
void BeginGameRecord();    // at New game; while a recording plays back it does nothing
void EndGameRecord();      // when the game has ended; files the replay with the table entry it made
int GameClock();           // the scheduler's millisecond clock
int TableAnswer(int row);  // the local table row the score takes (REPLAY_NO_ENTRY for none)
bool ReplayPlaying();

// The replay of the last game recorded to its end; empty before the first.
const std::vector<uint8_t>& LastGameReplay();

// A 64-bit FNV-1a hash of the game state the outcome consists of: score,
// health, level, the grid, the ship, the chasers, the particles, the random
// state, the name entered and the game-over state.
uint64_t GameStateHash();

// --- Playing a recording back ---
struct ReplayBroken {  // thrown out of the game when a recording is overrun
  const char* why;
};
// From now on the game runs on the recording: the next BeginGameRecord
// starts from its state. With `paced` the scheduler's clock waits for real
// time to catch up with the recorded time (watching); without, it runs at
// full speed (verifying). The window's own events go to `live` meanwhile.
void StartPlayback(const ReplayData& data, bool paced, LiveEventSink live = nullptr);
// True when the game used up exactly what the recording holds; ends the playback.
bool FinishPlayback(std::string& why);
void AbandonPlayback();  // ends the playback whatever state it is in
