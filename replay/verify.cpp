#include "replay/verify.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/clock.h"
#include "media/file_util.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/random.h"
#include "media/stream.h"
#include "media/system.h"
#include "replay/replay.h"
#include "scores/game_over.h"
#include "scores/score_table.h"
#include "world/scoring.h"

namespace {

// The play digests go last: " plays=" and the digests in play order, comma
// separated, or "-" when no level had enough choices to count.
std::string ResultLine(const ReplayData& d, uint64_t hash, uint64_t fingerprint,
                       const std::vector<uint64_t>& plays) {
  char field[160];
  std::snprintf(field, sizeof field,
                "score=%d level=%s frames=%" PRIu32 " hash=%016" PRIx64 " fingerprint=%016" PRIx64
                " plays=",
                d.score, ByteString(d.levelLabel).c_str(), d.frames, hash, fingerprint);
  std::string line = field;
  for (size_t i = 0; i < plays.size(); ++i) {
    std::snprintf(field, sizeof field, "%s%016" PRIx64, i ? "," : "", plays[i]);
    line += field;
  }
  return plays.empty() ? line + "-" : line;
}

// Decodes, and reports what is wrong with bytes that do not decode.
bool Decode(const uint8_t* bytes, size_t size, ReplayData& d, VerifyResult& r) {
  std::string why;
  switch (DecodeReplay(bytes, size, d, why)) {
    case ReplayParse::Ok: return true;
    case ReplayParse::OtherRules:
      r.status = VERIFY_OTHER_RULES;
      r.line = "other rules: the replay has rules " + std::to_string(d.rulesVersion) +
               ", this game " + std::to_string(REPLAY_RULES_VERSION);
      return false;
    case ReplayParse::Invalid: break;
  }
  r.status = VERIFY_INVALID;
  r.line = "invalid: " + why;
  return false;
}

// Runs one game from the recording. True when it used up the recording
// exactly; otherwise `why` says where it left it.
bool PlayRecorded(const ReplayData& d, bool paced, LiveEventSink live, std::string& why) {
  StartPlayback(d, paced, live);
  SetDrawScale(1, 1);
  SetDrawRotation(0);
  SetDrawOrigin(0, 0);
  try {
    RunGame();
  } catch (const ReplayEnded&) {
    // the outcome was settled where the recording ends
  } catch (const ReplayBroken& broken) {
    AbandonPlayback();
    why = broken.why;
    return false;
  }
  return FinishPlayback(why);
}

// The game state a watch inside the running game must not disturb.
struct SavedGame {
  int score = ReadScore(), health = ReadHealth(), lvl = level, state = playState;
  int rnd = RandomState(), comboNow = combo, entry = newEntryIndex;
  bool high = gotHighScore;
  Text label = levelLabel, name = playerName;
  void Restore() const {
    SetScore(score);
    SetHealth(health);
    level = lvl;
    playState = state;
    SeedRandom(rnd);
    combo = comboNow;
    newEntryIndex = entry;
    gotHighScore = high;
    levelLabel = label;
    playerName = name;
  }
};

bool watchStopped = false, watchClosed = false, watchRestarted = false;

// What the viewer is told beside the picture while the replay plays.
void ShowWatchState() {
  Text state = WatchPaused() ? Text(u"replay paused") : Text(u"replay");
  if (WatchSpeed() > 1) state += u" at " + IntText(WatchSpeed()) + u"\u00d7";
  ShowViewerState(state);
}

// The viewer's keys: P or SPACE pauses and goes on, F is faster (2x, 4x,
// then back to 1x), 1 the recorded pace, R starts again from the beginning.
// The clock waits hear the viewer every millisecond and the game polls
// several times a frame, so ESC, the window's close and SIGTERM (which
// arrives as a close) end a watch within a frame, however the recording's
// clock leaps; a frame begun is finished first.
void WatchLiveEvent(const InputEvent& e) {
  if (e.kind == InputEventKind::Close ||
      (e.kind == InputEventKind::KeyDown && (e.code == KEY_ESCAPE || e.code == KEY_R))) {
    watchStopped = e.code != KEY_R;
    watchRestarted = !watchStopped;
    watchClosed = watchClosed || e.kind == InputEventKind::Close;
    AskPlaybackStop();
    return;
  }
  if (e.kind != InputEventKind::KeyDown) return;
  if (e.code == KEY_P || e.code == KEY_SPACE)
    SetWatchPaused(!WatchPaused());
  else if (e.code == KEY_F)
    SetWatchSpeed(WatchSpeed() == 4 ? 1 : WatchSpeed() * 2);
  else if (e.code == KEY_1)
    SetWatchSpeed(1);
  else
    return;
  ShowWatchState();
}

// After the replay (played to its end, or stopped with ESC) its last frame
// stays. True when the viewer asks to watch again (R), false on ESC or the
// window's close.
bool WatchAgain() {
  ShowViewerState(u"replay ended \u2014 R watches again, ESC leaves");
  FlushKeyState();
  for (;;) {
    if (KeyHits(KEY_R)) return true;
    if (KeyHits(KEY_ESCAPE)) return false;
    if (CloseRequested()) {
      watchClosed = true;
      return false;
    }
    DelayMillis(20);
  }
}

// Plays the replay in the open window with the loaded media, then leaves
// the game as after a game that was left with ESC; a close ends the program.
// With `stay`, the end waits for the viewer, who may watch it again.
void Watch(const ReplayData& d, bool stay) {
  SavedGame start;
  SetWatchSpeed(1);
  for (;;) {
    watchStopped = watchClosed = watchRestarted = false;
    SetWatchPaused(false);
    ShowWatchState();
    std::string why;
    if (!PlayRecorded(d, true, WatchLiveEvent, why) && !watchStopped && !watchRestarted)
      PrintLine(u"replay: " + AsciiText(why));
    Cls();  // a stop comes between a frame and its clear: what follows starts clean
    EndOfGame();
    if (watchClosed) EndProgram(0);
    if (!watchRestarted && !(stay && WatchAgain())) break;
    start.Restore();
  }
  // A page that shows the replay lives on after the program: it says so.
  ShowViewerState(stay ? u"replay stopped" : u"");
  if (watchClosed) EndProgram(0);
}

}  // namespace

namespace {

// Runs `play` as the verifier plays a game: without drawing, with the
// outcome's media loaded, and leaving the caller's display, game state and
// print-out as they were. False when the media cannot be loaded.
template <class Play>
bool PlayHeadless(Play play) {
  bool opened = !Current2D();
  if (opened) OpenGraphics(800, 600, 0, 50, 0);
  if (!LoadOutcomeMedia()) {
    if (opened) CloseGraphics();
    return false;
  }
  SavedGame saved;
  bool wasLogicOnly = logicOnly;
  logicOnly = true;
  SetPrintLineQuiet(true);
  play();
  SetPrintLineQuiet(false);
  logicOnly = wasLogicOnly;
  saved.Restore();
  if (opened) CloseGraphics();
  return true;
}

constexpr const char* NO_MEDIA = "invalid: the ship and chaser pictures cannot be loaded";

}  // namespace

VerifyResult VerifyReplayBytes(const uint8_t* bytes, size_t size) {
  VerifyResult r;
  ReplayData d;
  if (!Decode(bytes, size, d, r)) return r;
  std::string why;
  bool ended = false, asRecorded = false;
  uint64_t hash = 0;
  int score = 0;
  Text label;
  std::vector<uint64_t> plays;
  bool loaded = PlayHeadless([&] {
    ended = PlayRecorded(d, false, nullptr, why);
    hash = GameStateHash();
    score = ReadScore();
    label = levelLabel;
    plays = PlayDigests();
    asRecorded = score == d.score && label == d.levelLabel && hash == d.stateHash;
  });
  if (!loaded) {
    r.line = NO_MEDIA;
  } else if (!ended) {
    r.line = "invalid: " + why;
  } else if (!asRecorded) {
    // What it reached, so that a refusal shows how far the header is off.
    char reached[96];
    std::snprintf(reached, sizeof reached, " (score=%d level=%s hash=%016" PRIx64 ")", score,
                  ByteString(label).c_str(), hash);
    r.line = std::string("invalid: the game ends otherwise than the header says") + reached;
  } else {
    r.status = VERIFY_VALID;
    r.line = ResultLine(d, hash, PlayedFingerprint(), plays);
  }
  return r;
}

bool CopyReplay(const ReplayData& source, PlaybackEdit& edit, ReplayData& copy,
                std::string& why) {
  bool ended = false;
  bool loaded = PlayHeadless([&] {
    StartCopy(source, &edit);
    SetDrawScale(1, 1);
    SetDrawRotation(0);
    SetDrawOrigin(0, 0);
    try {
      RunGame();
      ended = true;
    } catch (const ReplayEnded&) {
      ended = true;
    } catch (const ReplayBroken& broken) {
      why = broken.why;
    }
    if (ended) copy = TakeCopy();
    AbandonPlayback();
  });
  if (!loaded) why = NO_MEDIA;
  return loaded && ended;
}

int RunVerifyCommand(const char* path) {
  VerifyResult r;
  std::vector<uint8_t> bytes;
  long long size = path ? PlainFileSize(AsciiText(path)) : -1;
  if (!path) {
    r = {VERIFY_USAGE, "usage: zephrant --verify FILE"};
  } else if (size < 0 ||
             (size <= REPLAY_MAX_FILE && !ReadSmallFile(AsciiText(path), REPLAY_MAX_FILE, bytes))) {
    r = {VERIFY_USAGE, std::string("cannot read ") + path};
  } else if (size > REPLAY_MAX_FILE) {
    r = {VERIFY_INVALID, "invalid: file too large"};
  } else {
    // No window, no sound: a headless display and a clock that never waits.
    UseHeadlessGraphics(true);
    UseVirtualClock(0);
    SetPrintLineQuiet(true);
    r = VerifyReplayBytes(bytes.data(), bytes.size());
  }
  std::printf("%s\n", r.line.c_str());
  std::fflush(stdout);
  return r.status;
}

int RunWatchCommand(const char* path) {
  std::vector<uint8_t> bytes;
  ReplayData d;
  VerifyResult r;
  if (!path || !ReadSmallFile(AsciiText(path), REPLAY_MAX_FILE, bytes)) {
    std::printf("usage: zephrant --watch FILE (a replay that can be read)\n");
    return VERIFY_USAGE;
  }
  if (!Decode(bytes.data(), bytes.size(), d, r)) {
    std::printf("%s\n", r.line.c_str());
    return VERIFY_USAGE;
  }
  StartUp(false);
  Watch(d, true);
  EndProgram(0);
}

bool WatchReplayInGame(const uint8_t* bytes, size_t size) {
  ReplayData d;
  VerifyResult r;
  if (!Decode(bytes, size, d, r)) return false;
  SavedGame saved;
  Watch(d, false);
  saved.Restore();
  return true;
}
