// Whole games through the real flow are recorded and verify, in this
// process and in a fresh one, to the score and state they ended with.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/random.h"
#include "replay/replay.h"
#include "replay/replay_store.h"
#include "scores/entry_replays.h"
#include "replay/verify.h"
#include "scores/board.h"
#include "scores/score_table.h"
#include "tests/scenario/world_bot.h"
#include "world/scoring.h"
#include "tests/support/paths.h"
#include "tools/replay_copy.h"

namespace {

// `zephrant --verify` on the bytes, in a fresh process: its line and status.
std::pair<std::string, int> VerifyInFreshProcess(const std::vector<uint8_t>& bytes,
                                                 const std::string& dir) {
  std::string path = dir + "/game.zrp";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  std::string command = ZephrantBin() + " --verify " + path;
  FILE* p = popen(command.c_str(), "r");
  char line[4096] = {};
  std::string out = p && std::fgets(line, sizeof line, p) ? line : "";
  int status = p ? pclose(p) : -1;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

namespace {

// A bot game from the title: paints its way up to level `lastLevel` and
// leaves it with ESC, or with `lose` runs into the chasers once it has
// `lose` points and plays the game-over sequence to its end.
bool PlayBotGame(const std::string& dir, int lastLevel, int lose) {
  enum { TITLE, PLAY, OVER, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, framesOver = 0, framesPlayed = 0, spaceLevel = 0;
  int status = RunWholeProgram(
      dir,
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY;
            break;
          case PLAY:
            if (playState == PLAY_ON && level == lastLevel && !lose) {
              TapKey(KEY_ESCAPE);
              phase = OVER;
            } else if (playState == PLAY_ON) {
              // A gap now and then on the first level and among the fast chasers.
              if (++framesPlayed % 150 == 0 && (level == 1 || level >= 19)) TapKey(KEY_SPACE);
              if (lose && ReadScore() >= lose)
                bot.ChaseStep();
              else
                bot.PaintStep(chaserCount);
            } else if (ReadHealth() < 1) {
              bot.LetGo();
              phase = OVER;
            } else if (playState > 200 && bonus == 0 && spaceLevel != level) {
              bot.LetGo();
              TapKey(KEY_SPACE);
              spaceLevel = level;
            }
            break;
          case OVER:
            if (++framesOver % 25 == 0) {
              TypeText("Bot\r");
              TapKey(KEY_SPACE);
            }
            if (BackOnTitle(startTitleTime)) {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            }
            break;
          default: break;
        }
      },
      400000);
  return status == 0 && phase == DONE;
}

}  // namespace

TEST(ReplayScenario, ALostGameVerifiesToItsScoreAndIsKeptWithItsEntry) {
  std::string dir = MakeTempDir("replay-scenario");
  ASSERT_TRUE(PlayBotGame(dir, 0, 3000));
  int finalScore = ReadScore();
  const std::vector<uint8_t> bytes = LastGameReplay();
  ASSERT_FALSE(bytes.empty());

  VerifyResult here = VerifyReplayBytes(bytes.data(), bytes.size());
  EXPECT_EQ(here.status, VERIFY_VALID) << here.line;
  EXPECT_EQ(here.line.rfind("score=" + std::to_string(finalScore) + " level=", 0), 0u) << here.line;
  auto [line, code] = VerifyInFreshProcess(bytes, dir);
  EXPECT_EQ(code, VERIFY_VALID);
  EXPECT_EQ(line, here.line);

  // The entry the game made serves its replay; the default entries have none.
  ASSERT_LT(newEntryIndex, LOCAL_ROWS);
  std::filesystem::current_path(dir);
  std::vector<uint8_t> stored;
  EXPECT_TRUE(LoadEntryReplay(newEntryIndex, stored));
  EXPECT_EQ(stored, bytes);
  EXPECT_FALSE(LoadEntryReplay(newEntryIndex == 0 ? 1 : 0, stored));
}

// The real millisecond clock, as in the window: frames paced at 50 a
// second, ticks as they fall due.
TEST(ReplayScenario, AGameOnTheRealClockVerifiesInAFreshProcess) {
  std::string dir = MakeTempDir("replay-real-clock");
  UseRealClock();
  TGridBot bot;
  int framesPlayed = 0, finalScore = -1;
  int status = RunWholeProgram(
      dir,
      [&] {
        if (titleTime == 20 && framesPlayed == 0) TapKey(KEY_SPACE);
        if (framesPlayed >= 300) {
          if (titleTime == 4) {  // back on the title: the game is over
            finalScore = ReadScore();
            TapKey(KEY_ESCAPE);
          }
        } else if (player && chaser1 && playState == PLAY_ON && maxBonus > 0) {
          bot.PaintStep(chaserCount);
          if (++framesPlayed % 60 == 0) TapKey(KEY_SPACE);
          if (framesPlayed == 300) TapKey(KEY_ESCAPE);
        }
      },
      5000);
  UseVirtualClock(1000);
  ASSERT_EQ(status, 0);
  const std::vector<uint8_t> bytes = LastGameReplay();
  auto [line, code] = VerifyInFreshProcess(bytes, dir);
  EXPECT_EQ(code, VERIFY_VALID) << line;
  EXPECT_EQ(line.rfind("score=" + std::to_string(finalScore) + " level=A1 ", 0), 0u) << line;
}

namespace {

// A field of a verifier line ("" when it has none).
std::string Field(const std::string& line, const std::string& name) {
  size_t at = (" " + line).find(" " + name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 1;
  return line.substr(at, line.find(' ', at) - at);
}

}  // namespace

// Many short games with keys pressed and released at random moments, so
// that keys are held across the title's wipe, the level's end, the game
// over and the name entry: each verifies in a fresh process to the result
// the game itself recorded. Games played apart share no level's play.
TEST(ReplayScenario, GamesWithRandomKeyTimingVerifyToTheirOwnResult) {
  constexpr size_t GAMES = 12;
  std::string dir = MakeTempDir("replay-random-keys");
  std::mt19937 rng(21);
  const int noise[] = {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, KEY_SPACE, KEY_ENTER, KEY_BACKSPACE};
  std::vector<std::vector<uint8_t>> games;
  std::vector<int> scores;
  std::vector<uint8_t> seen = LastGameReplay();
  TGridBot bot;
  int lastTitleTime = -1, played = 0, plan = 0;
  int status = RunWholeProgram(
      dir,
      [&] {
        if (LastGameReplay() != seen) {
          games.push_back(seen = LastGameReplay());
          scores.push_back(ReadScore());
        }
        bool onTitle = titleTime != lastTitleTime;
        lastTitleTime = titleTime;
        bool inPlay = !onTitle && player && chaser1 && playState == PLAY_ON && maxBonus > 0;
        if (games.size() >= GAMES) {
          if (onTitle && titleTime > 60) TapKey(KEY_ESCAPE);
          return;
        }
        int key = noise[rng() % 7];
        if (rng() % 10 == 0 || (onTitle && wipeStep > 20)) (rng() % 2 ? PressKey : ReleaseKey)(key);
        if (rng() % 15 == 0) TypeText(std::string(1, char('a' + rng() % 26)));
        if (!inPlay) {
          played = 0;
          return;
        }
        if (played++ == 0) plan = int(games.size() % 3);  // ESC soon, die, or paint level 1
        if (plan == 0 && played > 40 + int(games.size()) * 20) TapKey(KEY_ESCAPE);
        if (plan == 1 && played > 60) bot.ChaseStep();
        if (plan == 2) bot.PaintStep(chaserCount);
        if (plan == 2 && level == 2 && played % 50 == 0) TapKey(KEY_ESCAPE);
      },
      60000);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(games.size(), GAMES);
  std::set<std::string> digests;
  int counted = 0;
  for (size_t i = 0; i < GAMES; ++i) {
    ReplayData d;
    std::string why;
    ASSERT_EQ(DecodeReplay(games[i].data(), games[i].size(), d, why), ReplayParse::Ok) << why;
    EXPECT_EQ(d.score, scores[i]);
    char own[128];
    std::snprintf(own, sizeof own, "score=%d level=%s frames=%u hash=%016llx", d.score,
                  ByteString(d.levelLabel).c_str(), d.frames, (unsigned long long)d.stateHash);
    auto [line, code] = VerifyInFreshProcess(games[i], dir);
    EXPECT_EQ(code, VERIFY_VALID) << "game " << i << ": " << line;
    EXPECT_EQ(line.rfind(own, 0), 0u) << "game " << i << ": " << line;
    std::string plays = Field(line, "plays");
    if (plays == "-") continue;
    ++counted;
    for (size_t at = 0; at < plays.size(); at += 17)
      EXPECT_TRUE(digests.insert(plays.substr(at, 16)).second) << "game " << i << ": " << line;
  }
  EXPECT_GE(counted, 3);
}

// A copy of a game with only its name, table answer or starting combo
// changed, and its header made to fit, still verifies, but as the same
// game: its fingerprint is the original's. Another game has another.
TEST(ReplayScenario, ACopyWithOtherNameRowOrComboHasTheOriginalsFingerprint) {
  auto read = [](const char* name) {
    std::ifstream in(SourceDir() + "/tests/replays/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  auto fingerprint = [](const std::string& line) { return line.substr(line.find("fingerprint=")); };
  std::vector<uint8_t> original = read("game_over.zrp");
  VerifyResult own = VerifyReplayBytes(original.data(), original.size());
  ASSERT_EQ(own.status, VERIFY_VALID) << own.line;
  ReplayData d;
  std::string why;
  ASSERT_EQ(DecodeReplay(original.data(), original.size(), d, why), ReplayParse::Ok);
  ASSERT_EQ(d.tableAnswers.size(), 1u);
  for (int change = 0; change < 3; ++change) {
    ReplayData copy = d;
    if (change == 0) copy.playerName = u"Thief";
    if (change == 1) copy.tableAnswers[0] = uint8_t((d.tableAnswers[0] + 1) % 25);
    if (change == 2) copy.combo = 360;
    std::vector<uint8_t> bytes = EncodeReplay(copy);
    std::string line = VerifyReplayBytes(bytes.data(), bytes.size()).line;
    unsigned long long hash = 0;  // the header the thief computes from what the game reached
    ASSERT_EQ(std::sscanf(line.c_str() + line.find("(score="), "(score=%d level=%*2s hash=%llx",
                          &copy.score, &hash), 2) << line;
    copy.stateHash = hash;
    bytes = EncodeReplay(copy);
    VerifyResult stolen = VerifyReplayBytes(bytes.data(), bytes.size());
    ASSERT_EQ(stolen.status, VERIFY_VALID) << change << ": " << stolen.line;
    EXPECT_NE(stolen.line, own.line);
    EXPECT_EQ(fingerprint(stolen.line), fingerprint(own.line)) << change;
  }
  std::vector<uint8_t> other = read("bot_level1.zrp");
  EXPECT_NE(fingerprint(VerifyReplayBytes(other.data(), other.size()).line), fingerprint(own.line));
}

// Copies of a game made the ways a thief would: each verifies on its own
// and is the same play, level for level (a partial copy its first levels),
// though the frames, clock reads, pauses, the level-complete screen and
// the moment of ESC all differ. Most of them have another fingerprint: the
// copies a board took for new games.
TEST(ReplayScenario, EveryKindOfCopyPlaysTheOriginalsLevels) {
  std::ifstream in(SourceDir() + "/tests/replays/fast_chasers.zrp", std::ios::binary);
  const std::vector<uint8_t> original(std::istreambuf_iterator<char>(in), {});
  std::string own = VerifyReplayBytes(original.data(), original.size()).line;
  std::string plays = Field(own, "plays");
  ASSERT_GT(plays.size(), 17 * 3u) << own;
  struct Case {
    const char* kind;
    const char* arg;
    bool newFingerprint;
  };
  for (Case c : {Case{"extra-frame", nullptr, true}, Case{"extra-frame", "40", true},
                 Case{"split-reads", nullptr, true}, Case{"pause", nullptr, false},
                 Case{"focus", nullptr, false}, Case{"level-end-pause", nullptr, false},
                 Case{"level-end-idle", nullptr, true}, Case{"late-esc", "3", true},
                 Case{"partial", "A3", true}}) {
    std::string name = std::string(c.kind) + " " + (c.arg ? c.arg : "");
    WaitingFor wait("the " + name + " copy", 3 * 400000);
    CopyResult copy = MakeReplayCopy(c.kind, c.arg, original);
    ASSERT_TRUE(copy.made) << name << ": " << copy.line;
    EXPECT_NE(copy.copy, original) << name;
    VerifyResult v = VerifyReplayBytes(copy.copy.data(), copy.copy.size());
    ASSERT_EQ(v.status, VERIFY_VALID) << name << ": " << v.line;
    EXPECT_EQ(Field(v.line, "fingerprint") != Field(own, "fingerprint"), c.newFingerprint) << name;
    if (c.kind == std::string("partial")) {
      EXPECT_EQ(Field(v.line, "level"), "A3");
      EXPECT_EQ(Field(v.line, "plays"), plays.substr(0, 2 * 17 - 1)) << v.line;
    } else {
      EXPECT_EQ(Field(v.line, "score"), Field(own, "score")) << name;
      EXPECT_EQ(Field(v.line, "plays"), plays) << name;
    }
  }
}

namespace {

// Where a recording played back at full speed leaves the game: drawn on the
// headless display as a watch draws it, or run as the verifier runs it.
struct Reached {
  uint64_t hash, fingerprint;
  int random, frames;
  bool operator==(const Reached&) const = default;
};

Reached PlayBack(const ReplayData& d, bool drawn) {
  UseHeadlessGraphics(true);
  OpenGraphics(800, 600, 0, 50, 0);
  EXPECT_TRUE(LoadOutcomeMedia());
  logicOnly = !drawn;
  int start = FramesFlipped();
  StartPlayback(d, false);
  try {
    RunGame();
  } catch (const ReplayEnded&) {
  } catch (const ReplayBroken&) {
  }
  AbandonPlayback();
  logicOnly = false;
  Reached r{GameStateHash(), PlayedFingerprint(), RandomState(), FramesFlipped() - start};
  CloseGraphics();
  return r;
}

uint64_t probedPolls = 0;
void CountProbedPoll(const InputEvent*, int) { ++probedPolls; }

// An idle game at five ticks a frame: the ship is lost, and in the game
// over, among hundreds of explosions, the focus goes and never comes back.
ReplayData PausedAtABusyGameOver() {
  ReplayData d;
  d.frames = 20000;
  d.randomState = 12345;
  d.clockSteps.assign(20000, 80);
  d.tableAnswers = {REPLAY_NO_ENTRY};
  uint64_t pausePoll = 0;
  SetFrameHook([&] {
    SetPollObserver(CountProbedPoll);  // the playback clears it at New game
    if (playState == 120 && !pausePoll) pausePoll = probedPolls;
  });
  probedPolls = 0;
  PlayBack(d, false);
  SetFrameHook(nullptr);
  SetPollObserver(nullptr);
  EXPECT_GT(pausePoll, 0u);
  d.events = {{pausePoll, {InputEventKind::FocusLost, 0}}};
  return d;
}

}  // namespace

// What the verifier skips (the drawing's random calls, made at once; the
// standing scene of a pause; the particles' turns) leaves every game where
// drawing it leaves it: the regression replays, and costly hostile ones cut
// off where their frames run out.
TEST(ReplayScenario, TheVerifiersShortcutsEndWhereDrawingEnds) {
  std::vector<ReplayData> games;
  for (const char* name : {"bot_level1.zrp", "game_over.zrp", "fast_chasers.zrp"}) {
    std::ifstream in(SourceDir() + "/tests/replays/" + name, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::string why;
    games.emplace_back();
    ASSERT_EQ(DecodeReplay(bytes.data(), bytes.size(), games.back(), why), ReplayParse::Ok);
  }
  games.push_back(PausedAtABusyGameOver());
  // Level 1 won, and its end left waiting: the SPACE that leaves it is cut.
  games.push_back(games[0]);
  auto& events = games.back().events;
  while (!events.empty() && events.back().event.code != KEY_SPACE) events.pop_back();
  events.pop_back();
  games.back().clockSteps.resize(40000, 80);
  games.back().frames = 12000;
  WaitingFor wait("the games to be played back", 1000000);  // frames and clock moves
  for (const ReplayData& d : games) {
    Reached drawn = PlayBack(d, true), run = PlayBack(d, false);
    EXPECT_EQ(run, drawn) << "game " << &d - games.data();
    EXPECT_GT(run.frames, 1000);
  }
}

// Re-records the regression replays under tests/replays when
// ZEPHRANT_RECORD_REPLAYS names that folder (scripts/record-replays.sh).
TEST(ReplayScenario, RecordRegressionReplays) {
  const char* out = std::getenv("ZEPHRANT_RECORD_REPLAYS");
  if (!out) GTEST_SKIP() << "set by scripts/record-replays.sh";
  struct Game {
    const char* name;
    int lastLevel, lose;
  };
  for (Game g :
       {Game{"bot_level1", 2, 0}, Game{"game_over", 0, 2000}, Game{"fast_chasers", 20, 0}}) {
    ASSERT_TRUE(PlayBotGame(MakeTempDir("record"), g.lastLevel, g.lose)) << g.name;
    const std::vector<uint8_t>& bytes = LastGameReplay();
    WaitingFor wait("the recorded game to verify", 3 * 400000);
    VerifyResult r = VerifyReplayBytes(bytes.data(), bytes.size());
    ASSERT_EQ(r.status, VERIFY_VALID) << g.name << ": " << r.line;
    std::string base = std::string(out) + "/" + g.name;
    std::ofstream(base + ".zrp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::ofstream(base + ".expected") << "rules=" << REPLAY_RULES_VERSION << "\n" << r.line << "\n";
    std::printf("%s: %s (%zu bytes)\n", g.name, r.line.c_str(), bytes.size());
  }
}

namespace {

// Local table row `row` in `dir` becomes Bot's game with these replay bytes.
void KeepAsEntry(const std::string& dir, int row, const std::vector<uint8_t>& bytes) {
  std::filesystem::current_path(dir);
  LoadScoreFile();
  int score = bytes[8] | bytes[9] << 8 | bytes[10] << 16;
  localScores[row] = CipherText(MakeScoreRecord(u"Bot", u"A2", score, u"0"));
  ASSERT_TRUE(SaveScoreFile());
  localReplays[row] = StoreReplay(bytes);
  ASSERT_TRUE(SaveEntryLinks());
}

}  // namespace

namespace {

// Follows the live polls of a watch: a key the replay does not use stands
// waiting in the window's queue all the time, and the longest stretch of
// the clock between two of its deliveries is the longest the viewer could
// go unheard.
struct LivePolls {
  static inline int lastAt = -1, longest = 0;
  static inline bool waiting = false;
  static void Seen(const InputEvent& e) {
    if (e.code != KEY_F1) return;
    if (lastAt >= 0) longest = std::max(longest, ElapsedMillis() - lastAt);
    lastAt = ElapsedMillis();
    waiting = false;
  }
  static void Step() {  // at every move of the clock
    if (!ReplayPlaying() || playState != PLAY_ON) {
      lastAt = -1;
      return;
    }
    SetLiveKeyWatcher(Seen);
    if (!waiting) InjectInputEvent({InputEventKind::KeyDown, KEY_F1});
    waiting = true;
  }
};

}  // namespace

// A recording whose first clock step is a billion milliseconds, whose
// frames all fall half a second behind and whose clock stands still for as
// many reads as the rules allow is watched from the board. The viewer is heard at least every 20 ms of the
// clock (a frame's pacing), however the recording's clock moves; ESC ends
// the watch, and a window close (SIGTERM arrives as one) the program,
// within 100 ms.
TEST(ReplayScenario, AWatchWhoseClockLeapsAheadAnswersEscAndCloseAtOnce) {
  std::string dir = MakeTempDir("replay-leap");
  std::ifstream in(SourceDir() + "/tests/replays/game_over.zrp", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  ReplayData d;
  std::string why;
  ASSERT_EQ(DecodeReplay(bytes.data(), bytes.size(), d, why), ReplayParse::Ok);
  std::vector<uint32_t> steps;
  for (size_t i = 0; i < d.clockSteps.size(); ++i)  // every frame half a second behind
    steps.insert(steps.end(), {600, 0, 0, 0, 600});
  steps[0] = 1000000000;
  d.clockSteps = steps;
  d.frames = REPLAY_MAX_FRAMES;
  KeepAsEntry(dir, 3, EncodeReplay(d));
  LivePolls::longest = 0;
  SetStepObserver(LivePolls::Step);
  int boardFrames = 0, watched = 0, watches = 0, escAt = -1, escEnded = -1, closeAt = -1;
  int status = RunWholeProgram(
      dir,
      [&] {
        if (ReplayPlaying()) {
          if (playState == PLAY_ON && ++watched == 300) {
            (watches ? closeAt : escAt) = ElapsedMillis();
            InjectInputEvent({watches++ ? InputEventKind::Close : InputEventKind::KeyDown, KEY_ESCAPE});
          }
          return;
        }
        if (escAt >= 0 && escEnded < 0) escEnded = ElapsedMillis();
        watched = 0;
        if (titleTime == 20) TapKey(KEY_H);
        if (boardOpen && ++boardFrames == 30) TapKey(KEY_W);
        if (boardFrames == 32 || boardFrames == 40) TapKey(KEY_ENTER);
      },
      3000);
  SetStepObserver(nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(watches, 2);
  EXPECT_GT(LivePolls::longest, 0);
  EXPECT_LE(LivePolls::longest, 20);
  EXPECT_LE(escEnded - escAt, 100);  // ESC: the board is back
  EXPECT_LE(ElapsedMillis() - closeAt, 100);  // the close: the program has ended
}

// From the high-score panel: W marks the entry that has a replay, ENTER
// plays it in the window (real GL; a frame of play is saved as
// frames/watch_play.png), ESC ends it and the title goes on with the
// player's own score.
TEST(ReplayScenario, TheBoardWatchesAnEntrysReplayUntilEscape) {
  std::string dir = MakeTempDir("replay-watch");
  std::ifstream in(SourceDir() + "/tests/replays/game_over.zrp", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 36u);
  KeepAsEntry(dir, 3, bytes);

  std::filesystem::path frames =
      std::filesystem::path(ZephrantBin()).parent_path() / "frames";
  std::filesystem::create_directories(frames);
  int boardFrames = 0, watchedFrames = 0, saved = 0, titleFramesAfter = 0;
  bool stopped = false;
  int status = RunWholeProgram(
      dir,
      [&] {
        if (ReplayPlaying()) {
          if (++watchedFrames == 240)
            saved += SaveBackBufferPNG((frames / "watch_play.png").string());
          if (watchedFrames == 250) {
            TapKey(KEY_ESCAPE);
            stopped = true;
          }
          return;
        }
        if (stopped) {
          if (++titleFramesAfter == 30) {
            EXPECT_EQ(ReadScore(), 0);  // the title shows the player's own (no) game
            EXPECT_EQ(watchRow, 3);
            TapKey(KEY_ESCAPE);
          }
          return;
        }
        if (titleTime == 20) TapKey(KEY_H);
        if (boardOpen && ++boardFrames == 30) TapKey(KEY_W);
        if (boardFrames == 32) TapKey(KEY_ENTER);
      },
      20000, true);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(watchedFrames, 250);  // ESC ended the replay before its next frame
  EXPECT_EQ(saved, 1);
}

// The viewer's keys while a replay from the board is in play: F twice plays
// it at four times the pace, P stops its clock until P again, R starts it
// again from New game; P holds the level's end too, which reads no clock;
// ESC still ends it.
TEST(ReplayScenario, TheViewerPausesSpeedsUpAndRestartsAReplay) {
  std::string dir = MakeTempDir("replay-controls");
  std::ifstream in(SourceDir() + "/tests/replays/game_over.zrp", std::ios::binary);
  KeepAsEntry(dir, 3, {std::istreambuf_iterator<char>(in), {}});
  static constexpr int MARKS[4] = {20, 60, 100, 140};  // frames of play
  int boardFrames = 0, inPlay = 0, pausedAt = -1, scoreAfterR = -1, endFrames = 0,
      endPausedAt = 0;
  int at[4] = {};  // the clock at those frames
  bool leaving = false;
  // While paused no frame comes: the clock's waits resume the replay.
  SetWaitWatch([&] {
    if (pausedAt >= 0 && ElapsedMillis() - pausedAt >= 3000) {
      pausedAt = -1;
      TapKey(KEY_P);
    }
  });
  int status = RunWholeProgram(
      dir,
      [&] {
        if (!ReplayPlaying()) {
          if (leaving) return TapKey(KEY_ESCAPE);
          if (titleTime == 20) TapKey(KEY_H);
          if (boardOpen && ++boardFrames == 30) TapKey(KEY_W);
          if (boardFrames == 32) TapKey(KEY_ENTER);
          return;
        }
        if (ReadScore() == 0 && inPlay == 0) return;  // the level is being built
        ++inPlay;
        for (int i = 0; i < 4; ++i)
          if (inPlay == MARKS[i]) at[i] = ElapsedMillis();
        if (inPlay == MARKS[1]) TapKey(KEY_F), TapKey(KEY_F);
        if (inPlay == MARKS[2]) TapKey(KEY_1);
        if (inPlay == MARKS[3]) pausedAt = ElapsedMillis(), TapKey(KEY_P);
        if (inPlay == MARKS[3] + 1) {
          EXPECT_GE(ElapsedMillis() - at[3], 3000);
          TapKey(KEY_R);
        }
        if (inPlay == MARKS[3] + 2) scoreAfterR = ReadScore();
        if (playState != PLAY_NEXT_LEVEL) return;  // the level's end from here
        if (++endFrames == 2) endPausedAt = pausedAt = ElapsedMillis(), TapKey(KEY_P);
        if (endFrames == 3) {
          EXPECT_GE(ElapsedMillis() - endPausedAt, 3000) << "the level's end went on, paused";
          leaving = true;
          TapKey(KEY_ESCAPE);
        }
      },
      20000);
  SetWaitWatch(nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(scoreAfterR, 0);
  EXPECT_EQ(endFrames, 3);
  // 40 frames at four times the pace take about a quarter of the time.
  EXPECT_LT((at[2] - at[1]) * 3, at[1] - at[0]) << at[0] << " " << at[1] << " " << at[2];
  EXPECT_LT((at[2] - at[1]) * 3, at[3] - at[2]) << at[3];
}
