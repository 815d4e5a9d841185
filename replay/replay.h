// Every game is recorded from "New game" until its outcome is settled: the
// table has answered its score (and the name entry has run when the score
// took a row), or the game was left with ESC. The recording holds the state
// it started from, what the scheduler's clock read, the input events each poll handed
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
void EndGameRecord();      // when the game has ended; ends a recording that has not been settled
// When the table's answer and the name entry have settled the outcome: ends
// the recording and gives its bytes (none when nothing is recorded). While
// a recording plays back, its game ends here: throws ReplayEnded.
const std::vector<uint8_t>& SettleGameRecord();
// The scheduler's millisecond clock; `frameStart` marks the read a frame
// starts with (where a copy may split a read into two frames).
int GameClock(bool frameStart = false);
int TableAnswer(int row);  // the local table row the score takes (REPLAY_NO_ENTRY for none)
bool ReplayPlaying();
void NoteTicks(int ticks);  // the scheduler: the ticks a frame is about to run
void NoteEndOfPlay();       // the game is lost: what follows no longer decides it
// The play digests' taps: a level starts, a logic tick of play runs, the
// ship starts a step (with the cursor keys it steered by, a bit each: left,
// right, up, down) or opens a gap.
void NoteLevelStart();
void NotePlayTick();
void NoteShipStep(int dx, int dy, int keys);
void NoteGap();

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
struct ReplayEnded {};  // thrown out of the game where its recording was settled
// From now on the game runs on the recording: the next BeginGameRecord
// starts from its state. With `paced` the scheduler's clock waits for real
// time to catch up with the recorded time (watching); without, it runs at
// full speed (verifying). The window's own events go to `live` meanwhile.
void StartPlayback(const ReplayData& data, bool paced, LiveEventSink live = nullptr);
// The fingerprint of the game last played back: a 64-bit FNV-1a hash of
// the play itself, the same for two recordings of one game whatever their
// name, table answer or combo say. It covers the random state at "New
// game" and, at every frame the scheduler ran up to the end of play (the
// game lost, or left with ESC), the ticks it ran and where that left the
// game: random state, level, health, cells left, the ship and its gap, the
// chasers. docs/replay-format.md gives the layout.
uint64_t PlayedFingerprint();
// What a game is, as a board tells games apart: per level, a 64-bit FNV-1a
// digest of the level's number and every move the ship made in it (each
// step's heading and each gap opened, with the tick of the level it came
// at). Frames, clock reads, pauses, the level-complete screen, the moment
// of ESC after the last move and everything outside play leave them as
// they are. Only levels with at least PLAY_MIN_CHOICES choices get one
// (see docs/replay-format.md); at most PLAY_MAX_DIGESTS, in play order.
constexpr int PLAY_MIN_CHOICES = 8;
constexpr size_t PLAY_MAX_DIGESTS = 156;
const std::vector<uint64_t>& PlayDigests();  // of the game last played or recorded
// Re-recording a game while it plays back, with changes made at the taps:
// how tools/replay_copy.cpp makes other recordings of one game. Both hooks
// may look at the game's state (a query that polls returns at once there).
class PlaybackEdit {
 public:
  virtual ~PlaybackEdit() = default;
  enum class Read {
    Recorded,  // hands out what is left of the recording's next read (the default)
    Part,      // hands out `step`, less than that; the rest stays for the next read
    Added,     // hands out `step` and keeps the recording's read for later
  };
  // A clock read at recorded time `now`; `left` says whether the recording
  // has a read left, `pending` what is left of it.
  virtual Read Clock(bool frameStart, int now, bool left, uint32_t pending, uint32_t& step) {
    (void)frameStart, (void)now, (void)left, (void)pending, (void)step;
    return Read::Recorded;
  }
  // Whether the next poll is the recording's next one (it delivers its
  // events) or one the copy adds (it delivers none of the recording's).
  virtual bool RecordedPoll() { return true; }
  // The events the poll is about to deliver, to be changed at will.
  virtual void PollEvents(std::vector<InputEvent>& events) { (void)events; }
};
// Plays `source` back as StartPlayback does (verifying), with `edit` at the
// taps, and records what the game got as it runs; the game may run up to
// REPLAY_MAX_FRAMES. After the game, TakeCopy gives the recording with its
// header from where the game stands.
void StartCopy(const ReplayData& source, PlaybackEdit* edit);
ReplayData TakeCopy();

// A watched recording's pace: 1, 2 or 4 times the recorded one, or standing
// still while paused. Kept from one playback to the next.
void SetWatchSpeed(int speed);
int WatchSpeed();
void SetWatchPaused(bool paused);
bool WatchPaused();
// Ends a watched playback at the end of the frame being drawn, or at its
// next clock read if none is begun, so that a whole frame stays on the
// screen: the game gets ReplayBroken ("stopped by the viewer") there.
void AskPlaybackStop();
// True when the game used up exactly what the recording holds; ends the playback.
bool FinishPlayback(std::string& why);
void AbandonPlayback();  // ends the playback whatever state it is in
