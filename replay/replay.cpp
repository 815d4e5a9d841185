#include "replay/replay.h"

#include <cstring>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/frame_end.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/random.h"
#include "scores/game_over.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {

enum class Mode { Idle, Recording, Playing };

Mode mode = Mode::Idle;
ReplayData data;  // being recorded, or played back
std::vector<uint8_t> lastReplay;
int startFrames = 0;
uint64_t polls = 0;
uint32_t lastClock = 0;  // recording: the previous clock value
// Playing back
bool pacedPlayback = false;
LiveEventSink liveSink = nullptr;
bool playbackArmed = false;  // set up, waiting for BeginGameRecord
// Whether another application was active before the playback: a recording's
// focus changes move that state, and the window's own go to the live sink.
int suspendedBefore = 0;
bool focusToRestore = false;
size_t nextClock = 0, nextEvent = 0, nextAnswer = 0;
int playbackClock = 0;
// Watching: real time plus this is the recorded time the game may have
// reached; it grows when the recording leaps ahead, so no clock read waits
// longer than a frame.
int paceLead = 0;
constexpr int MAX_PACE_WAIT_MS = 20;  // a frame at 50 frames a second
constexpr int MAX_PACE_LAG_MS = 250;
// Copying: the edit, the recording made meanwhile, its poll count and how
// much of the recording's next clock read has been handed out in parts.
PlaybackEdit* edit = nullptr;
ReplayData copy;
uint64_t copyPolls = 0;
uint32_t stepTaken = 0;
// The viewer's time: real time at the chosen speed, standing while paused.
int watchSpeed = 1;
bool watchPaused = false;
int watchReal = 0, watchNow = 0;

// A stop the viewer asked for: made at the end of the frame being drawn,
// or at the next clock read, where none is begun.
bool stopAsked = false;

void StopIfAsked() {
  if (!stopAsked) return;
  stopAsked = false;
  throw ReplayBroken{"stopped by the viewer"};
}

// The end of every watched frame: a stop the viewer asked for is made, and
// a paused viewer holds the replay there. Play also holds at its clock
// reads, but the screens paced by their frames alone (a level's end, the
// game over) read no clock, and would otherwise play on under a pause.
// A wait that hears the viewer every millisecond until `done`; a pause is
// one. It leaves short waits unskipped: the next clock read sets them again.
template <typename Done>
void HearTheViewerUntil(Done done) {
  SkipShortWaits(false);
  for (;;) {
    PollLiveEvents();
    StopIfAsked();
    if (done()) return;
    DelayMillis(1);
  }
}

void AtWatchedFrameEnd() {
  StopIfAsked();
  if (watchPaused) HearTheViewerUntil([] { return !watchPaused; });
}

int WatchTime() {
  const int real = ElapsedMillis();
  if (!watchPaused) watchNow += (real - watchReal) * watchSpeed;
  watchReal = real;
  return watchNow;
}

void RecordPoll(const InputEvent* events, int count) {
  ++polls;
  for (int i = 0; i < count; ++i) data.events.push_back({polls, events[i]});
}

void CheckFrames() {
  if (uint32_t(FramesFlipped() - startFrames) > (edit ? REPLAY_MAX_FRAMES : data.frames))
    throw ReplayBroken{"the game runs longer than recorded"};
}

void SupplyCopiedPoll() {
  std::vector<InputEvent> events;
  if (edit->RecordedPoll()) {
    ++polls;
    while (nextEvent < data.events.size() && data.events[nextEvent].poll == polls)
      events.push_back(data.events[nextEvent++].event);
  }
  edit->PollEvents(events);
  ++copyPolls;
  for (const InputEvent& e : events) {
    HandleInputEvent(e);
    copy.events.push_back({copyPolls, e});
  }
}

void SupplyPoll() {
  CheckFrames();
  if (edit) return SupplyCopiedPoll();
  ++polls;
  while (nextEvent < data.events.size() && data.events[nextEvent].poll == polls)
    HandleInputEvent(data.events[nextEvent++].event);
}

uint32_t CopiedClockStep(bool frameStart) {
  bool left = nextClock < data.clockSteps.size();
  uint32_t pending = left ? data.clockSteps[nextClock] - stepTaken : 0, step = pending;
  switch (edit->Clock(frameStart, playbackClock, left, pending, step)) {
    case PlaybackEdit::Read::Recorded:
      if (!left) throw ReplayBroken{"the clock reads run out"};
      step = pending;
      ++nextClock;
      stepTaken = 0;
      break;
    case PlaybackEdit::Read::Part:
      if (!left || step >= pending) throw ReplayBroken{"a part longer than the read"};
      stepTaken += step;
      break;
    case PlaybackEdit::Read::Added: break;
  }
  copy.clockSteps.push_back(step);
  return step;
}

void StopTaps() {
  SetPollObserver(nullptr);
  SetPollSupplier(nullptr, nullptr);
}

struct Fnv {
  uint64_t h = 0xcbf29ce484222325ull;
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
  }
  void Int(int v) {
    uint32_t u = uint32_t(v);
    uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    Bytes(b, 4);
  }
  void Float(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Int(int(u));
  }
  void Text16(const Text& t) {
    Int(int(t.size()));
    for (char16_t c : t) Int(c);
  }
};

// The fingerprint: a record of the play at every frame the scheduler
// runs, while the game is played back and still in play.
Fnv print;
bool printing = false;

void ChaserPlace(Fnv& f, const TChaser* c) {
  if (!c) return f.Int(-1);
  for (int v : {c->x, c->y}) f.Int(v);
}

void PrintPlay(int ticks) {
  for (int v : {ticks, RandomState(), level, ReadHealth(), cellsLeft}) print.Int(v);
  if (player)
    for (int v : {player->x, player->y, player->block}) print.Int(v);
  ChaserPlace(print, chaser1);
  ChaserPlace(print, chaser2);
}

// The play digests of the game running now: the level being played and
// the digests of the levels played before it.
struct LevelPlay {
  Fnv digest;
  bool open = false;
  int tick = -1;  // the level's logic tick now, from 0
  int choices = 0;
  int lastStep = -1, lastKeys = -1;
};
LevelPlay levelPlay;
std::vector<uint64_t> playDigests;
bool digesting = false;

void CloseLevelPlay() {
  if (levelPlay.open && levelPlay.choices >= PLAY_MIN_CHOICES &&
      playDigests.size() < PLAY_MAX_DIGESTS)
    playDigests.push_back(levelPlay.digest.h);
  levelPlay.open = false;
}

void StartDigests() {
  playDigests.clear();
  levelPlay = LevelPlay{};
  digesting = true;
}

void HashChaser(Fnv& f, const TChaser* c) {
  if (!c) return f.Int(-1);
  for (int v : {c->id, c->x, c->y, c->dx, c->dy, c->dx2, c->dy2, c->spin, c->move}) f.Int(v);
}

}  // namespace

uint64_t GameStateHash() {
  Fnv f;
  for (int v : {ReadScore(), ReadHealth(), level, playState, wipeStep, combo, bonus, maxBonus,
                cellsLeft, tickRate, chaserCount, chaserSpeed, RandomState()})
    f.Int(v);
  // The row the score took (a game left with ESC was never offered one).
  f.Int(data.tableAnswers.empty() ? -1 : data.tableAnswers[0]);
  f.Text16(levelLabel);
  f.Text16(playerName);
  f.Bytes(levelGrid, sizeof levelGrid);
  if (player) {
    const TPlayer& p = *player;
    for (int v :
         {p.x, p.y, p.dx, p.dy, p.dx2, p.dy2, p.spin, p.move, p.untouched, p.block, p.bx, p.by})
      f.Int(v);
  }
  HashChaser(f, chaser1);
  HashChaser(f, chaser2);
  f.Int(ParticleCount());
  for (const auto& p : particles) {
    if (p->removed) continue;
    if (const auto* e = dynamic_cast<const TExplosion*>(p.get())) {
      for (float v : {e->x, e->y, e->dx, e->dy, e->alpha}) f.Float(v);
    } else if (const auto* d = dynamic_cast<const TDebris*>(p.get())) {
      for (float v : {d->x, d->y, d->dx, d->dy, d->alpha}) f.Float(v);
    }
  }
  return f.h;
}

void BeginGameRecord() {
  // Every game starts from no keys held and nothing typed, recorded or
  // played back: a key still down from the screen before counts only once
  // it is pressed again.
  FlushKeyState();
  polls = 0;
  startFrames = FramesFlipped();
  if (playbackArmed) {
    playbackArmed = false;
    mode = Mode::Playing;
    SeedRandom(data.randomState);
    combo = data.combo;
    playerName = data.playerName;
    playbackClock = ElapsedMillis();
    watchNow = watchReal = playbackClock;
    paceLead = 0;
    SetAppSuspended(0);  // as in the recording, which started from the title
    SetPollObserver(nullptr);
    SetPollSupplier(SupplyPoll, liveSink);
    print = Fnv{};
    print.Int(data.randomState);
    printing = true;
    StartDigests();
    return;
  }
  if (mode == Mode::Playing) return;
  StartDigests();
  mode = Mode::Recording;
  data = ReplayData{};
  data.randomState = RandomState();
  data.combo = combo;
  data.playerName = playerName;
  lastClock = uint32_t(ElapsedMillis());
  data.clockSteps.reserve(4096);
  data.events.reserve(1024);
  SetPollObserver(RecordPoll);
}

namespace {

void FinishRecording() {
  StopTaps();
  mode = Mode::Idle;
  data.score = ReadScore();
  data.levelLabel = levelLabel;
  data.frames = uint32_t(FramesFlipped() - startFrames);
  data.stateHash = GameStateHash();
  lastReplay = EncodeReplay(data);
}

}  // namespace

const std::vector<uint8_t>& SettleGameRecord() {
  static const std::vector<uint8_t> none;
  if (mode == Mode::Playing) throw ReplayEnded{};
  if (mode != Mode::Recording) return none;
  FinishRecording();
  return lastReplay;
}

void EndGameRecord() {
  if (mode == Mode::Recording) FinishRecording();
  NoteEndOfPlay();
}

int GameClock(bool frameStart) {
  if (mode == Mode::Recording) {
    uint32_t now = uint32_t(ElapsedMillis());
    data.clockSteps.push_back(now - lastClock);
    lastClock = now;
    return int(now);
  }
  if (mode != Mode::Playing) return ElapsedMillis();
  CheckFrames();
  if (edit) {
    playbackClock = int(uint32_t(playbackClock) + CopiedClockStep(frameStart));
    return playbackClock;
  }
  if (nextClock >= data.clockSteps.size()) throw ReplayBroken{"the clock reads run out"};
  playbackClock = int(uint32_t(playbackClock) + data.clockSteps[nextClock++]);
  if (pacedPlayback) {
    int ahead = playbackClock - (WatchTime() + paceLead);
    if (ahead > MAX_PACE_WAIT_MS) paceLead += ahead - MAX_PACE_WAIT_MS;
    // More than a quarter of a second behind (a slow machine, a page that
    // was hidden): give up catching up, as the game itself does.
    if (ahead < -MAX_PACE_LAG_MS) paceLead += ahead + MAX_PACE_LAG_MS;
    HearTheViewerUntil(
        [] { return !watchPaused && playbackClock - (WatchTime() + paceLead) <= 0; });
    // Watched faster than recorded, or behind: the game's own waits of a
    // millisecond (its pace is the recording's) are skipped, and not every
    // frame need reach the screen.
    const bool hurry = watchSpeed > 1 || ahead < -MAX_PACE_WAIT_MS;
    SkipShortWaits(hurry);
    SetFrameLate(hurry);
  }
  return playbackClock;
}

int TableAnswer(int row) {
  if (mode == Mode::Recording) {
    data.tableAnswers.push_back(uint8_t(row));
    return row;
  }
  if (mode != Mode::Playing) return row;
  if (nextAnswer >= data.tableAnswers.size()) throw ReplayBroken{"the table answers run out"};
  if (edit) copy.tableAnswers.push_back(data.tableAnswers[nextAnswer]);
  return data.tableAnswers[nextAnswer++];
}

bool ReplayPlaying() { return mode == Mode::Playing || playbackArmed; }

void NoteTicks(int ticks) {
  if (printing) PrintPlay(ticks);
}

void NoteEndOfPlay() {
  if (printing) PrintPlay(-1);
  printing = false;
  CloseLevelPlay();
  digesting = false;
}

void NoteLevelStart() {
  if (!digesting) return;
  CloseLevelPlay();
  levelPlay = LevelPlay{};
  levelPlay.open = true;
  levelPlay.digest.Int(level);
}

void NotePlayTick() {
  if (levelPlay.open) ++levelPlay.tick;
}

// A step is a choice when it starts from rest or under other keys than the
// step before; one that follows on by itself adds no choice.
void NoteShipStep(int dx, int dy, int keys) {
  LevelPlay& l = levelPlay;
  if (!l.open) return;
  l.digest.Int(l.tick);
  l.digest.Int(1 + 3 * (dx + 1) + (dy + 1));
  if (l.lastStep < 0 || l.tick != l.lastStep + 3 || keys != l.lastKeys) ++l.choices;
  l.lastStep = l.tick;
  l.lastKeys = keys;
}

void NoteGap() {
  if (!levelPlay.open) return;
  levelPlay.digest.Int(levelPlay.tick);
  levelPlay.digest.Int(0);
  ++levelPlay.choices;
}

const std::vector<uint64_t>& PlayDigests() { return playDigests; }

uint64_t PlayedFingerprint() { return print.h; }

const std::vector<uint8_t>& LastGameReplay() { return lastReplay; }

void StartPlayback(const ReplayData& recorded, bool paced, LiveEventSink live) {
  StopTaps();
  edit = nullptr;
  data = recorded;
  pacedPlayback = paced;
  liveSink = live;
  stopAsked = false;
  SetFrameEndWatch(live ? AtWatchedFrameEnd : nullptr);
  playbackArmed = true;
  mode = Mode::Idle;
  nextClock = nextEvent = nextAnswer = 0;
  if (!focusToRestore) suspendedBefore = AppSuspended();
  focusToRestore = true;
}

void StartCopy(const ReplayData& source, PlaybackEdit* copyEdit) {
  StartPlayback(source, false);
  edit = copyEdit;
  copy = ReplayData{};
  copy.randomState = source.randomState;
  copy.combo = source.combo;
  copy.playerName = source.playerName;
  copyPolls = 0;
  stepTaken = 0;
}

ReplayData TakeCopy() {
  copy.score = ReadScore();
  copy.levelLabel = levelLabel;
  copy.frames = uint32_t(FramesFlipped() - startFrames);
  std::swap(copy.tableAnswers, data.tableAnswers);  // the hash covers the answers given
  copy.stateHash = GameStateHash();
  std::swap(copy.tableAnswers, data.tableAnswers);
  return std::move(copy);
}

bool FinishPlayback(std::string& why) {
  bool playing = mode == Mode::Playing;
  uint32_t frames = uint32_t(FramesFlipped() - startFrames);
  AbandonPlayback();
  if (!playing) return why = "the game did not start", false;
  if (nextClock != data.clockSteps.size()) return why = "clock reads left over", false;
  if (nextEvent != data.events.size()) return why = "events left over", false;
  if (nextAnswer != data.tableAnswers.size()) return why = "table answers left over", false;
  if (frames != data.frames) return why = "the game ended before the recorded frame count", false;
  return true;
}

void SetWatchSpeed(int speed) {
  WatchTime();
  watchSpeed = speed;
}

int WatchSpeed() { return watchSpeed; }

void SetWatchPaused(bool paused) {
  WatchTime();
  watchPaused = paused;
}

bool WatchPaused() { return watchPaused; }

void AskPlaybackStop() { stopAsked = true; }

void AbandonPlayback() {
  SetFrameEndWatch(nullptr);
  stopAsked = false;
  SetFrameLate(false);
  SkipShortWaits(false);
  StopTaps();
  if (focusToRestore) SetAppSuspended(suspendedBefore);
  focusToRestore = false;
  printing = false;
  levelPlay.open = digesting = false;
  edit = nullptr;
  playbackArmed = false;
  mode = Mode::Idle;
}
