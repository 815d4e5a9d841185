// Verifying and watching replays: the game runs from the recording, headless
// and as fast as it goes, or in the window at the recorded pace.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "replay/replay.h"

constexpr int VERIFY_VALID = 0, VERIFY_USAGE = 1, VERIFY_INVALID = 2, VERIFY_OTHER_RULES = 3;

struct VerifyResult {
  int status = VERIFY_INVALID;
  std::string line;  // "score=12345 level=B3 frames=54321 hash=… fingerprint=… plays=…", or why not
};

// Runs the recorded game without drawing and checks that it ends as its
// header says. Any byte string gives a result in bounded time and memory.
VerifyResult VerifyReplayBytes(const uint8_t* bytes, size_t size);

// Plays `source` back as the verifier does while `edit` changes it at the
// taps (see PlaybackEdit), and gives the game it made as a new recording,
// its header from where that game ended. False, with `why`, when the game
// broke off before its end.
bool CopyReplay(const ReplayData& source, PlaybackEdit& edit, ReplayData& copy, std::string& why);

// `zephrant --verify FILE`: prints one line on standard output and returns
// the exit status (0 valid, 1 no file given or it cannot be read, 2 invalid,
// 3 made by other rules).
int RunVerifyCommand(const char* path);

// `zephrant --watch FILE`: plays the replay in the window at its recorded
// pace with sound; ESC ends it. Returns the exit status (0, or 1 when the
// file cannot be read or is not a replay of these rules).
int RunWatchCommand(const char* path);

// Watches a replay inside the running game (from the high-score panel); the
// game's own state (score, name, random state) is put back afterwards.
// False when the bytes are not a replay of these rules.
bool WatchReplayInGame(const uint8_t* bytes, size_t size);
