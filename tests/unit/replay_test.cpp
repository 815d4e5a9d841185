// The replay file and the entries' replays beside the score file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/file_util.h"
#include "replay/replay.h"
#include "replay/replay_file.h"
#include "replay/replay_store.h"
#include "scores/entry_replays.h"
#include "tests/unit/scores_test_util.h"
#include "world/scoring.h"

namespace {

ReplayData Sample() {
  ReplayData d;
  d.score = 4321;
  d.levelLabel = u"B3";
  d.frames = 777;
  d.stateHash = 0x0123456789abcdefull;
  d.randomState = 987654;
  d.combo = 200;
  d.playerName = u"Ann 2";
  d.clockSteps = {3, 20, 20, 21, 19, 5000};
  d.events = {{1, {InputEventKind::KeyDown, KEY_RIGHT}},
              {1, {InputEventKind::Char, 0x263A}},
              {400, {InputEventKind::FocusLost, 0}},
              {90000, {InputEventKind::KeyUp, KEY_RIGHT}}};
  d.tableAnswers = {4};
  return d;
}

ReplayParse Parse(const std::vector<uint8_t>& bytes, ReplayData& d) {
  std::string why;
  return DecodeReplay(bytes.data(), bytes.size(), d, why);
}

std::vector<uint8_t> Game(int score, uint32_t frames) {
  ReplayData d = Sample();
  d.score = score;
  d.frames = frames;
  return EncodeReplay(d);
}

// Row `row` becomes Ann's game of `score` points and `frames` frames.
void StoreFor(int row, int score, uint32_t frames = 777) {
  localScores[row] = CipherText(MakeScoreRecord(u"Ann", u"B3", score, u"1"));
  localReplays[row] = StoreReplay(Game(score, frames));
}

uint32_t EntryFrames(int row) {
  std::vector<uint8_t> bytes;
  if (!LoadEntryReplay(row, bytes)) return 0;
  return bytes[16] | bytes[17] << 8 | bytes[18] << 16;
}

}  // namespace

TEST(ReplayFile, RoundTripsAndRefusesEveryDamagedField) {
  std::vector<uint8_t> bytes = EncodeReplay(Sample());
  ReplayData d;
  ASSERT_EQ(Parse(bytes, d), ReplayParse::Ok);
  EXPECT_EQ(d.playerName, u"Ann 2");
  EXPECT_EQ(d.clockSteps, Sample().clockSteps);
  EXPECT_EQ(d.events[3].poll, 90000u);
  EXPECT_EQ(d.events[1].event.code, 0x263A);
  EXPECT_EQ(d.stateHash, 0x0123456789abcdefull);

  // Every prefix is cut short; a flipped byte anywhere is refused or, in
  // the header's free fields, read as another value.
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_EQ(Parse({bytes.begin(), bytes.begin() + long(n)}, d), ReplayParse::Invalid) << n;
  auto with = [&](size_t at, uint8_t v) {
    std::vector<uint8_t> b = bytes;
    b[at] = v;
    return Parse(b, d);
  };
  EXPECT_EQ(with(0, 'X'), ReplayParse::Invalid);    // magic
  EXPECT_EQ(with(4, 2), ReplayParse::Invalid);      // format version
  EXPECT_EQ(with(6, 9), ReplayParse::OtherRules);   // rules version
  EXPECT_EQ(with(12, 'a'), ReplayParse::Invalid);   // level label
  EXPECT_EQ(with(19, 0xFF), ReplayParse::Invalid);  // frames past six hours
  EXPECT_EQ(with(31, 0x40), ReplayParse::Invalid);  // unpacked size
  EXPECT_EQ(with(bytes.size() - 1, bytes.back() ^ 1), ReplayParse::Invalid);  // zlib check
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_EQ(Parse(longer, d), ReplayParse::Invalid);
}

TEST(ReplayFile, FieldsAtTheirLimitsAreKeptAndPastThemInvalid) {
  auto invalid = [](ReplayData d) {
    ReplayData out;
    return Parse(EncodeReplay(d), out) == ReplayParse::Invalid;
  };
  ReplayData d = Sample(), out;
  d.playerName = u"Twenty letters: 1234";
  d.clockSteps = {(1u << 30) - 2, 1};  // the clock runs just short of 12 days
  d.frames = REPLAY_MAX_FRAMES;
  d.combo = 360;
  ASSERT_EQ(Parse(EncodeReplay(d), out), ReplayParse::Ok);
  EXPECT_EQ(out.playerName, d.playerName);
  EXPECT_EQ(out.clockSteps, d.clockSteps);
  EXPECT_EQ(out.frames, REPLAY_MAX_FRAMES);
  EXPECT_EQ(out.combo, 360);
  d.playerName += u"5";
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.randomState = 0;
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.combo = 361;
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.playerName = u"a_b";
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.clockSteps.push_back(1u << 30);  // the clock may not run for 12 days
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.clockSteps = {0, 20, 0, 0, 0, 5};  // three reads of one time: kept
  ASSERT_EQ(Parse(EncodeReplay(d), out), ReplayParse::Ok);
  d.clockSteps.insert(d.clockSteps.begin() + 2, 0);  // a fourth: no real clock stands so long
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.events.push_back({90000, {InputEventKind::Close, 0}});
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.events.push_back({90001, {InputEventKind::KeyDown, 256}});
  EXPECT_TRUE(invalid(d));
  d = Sample();
  d.tableAnswers = {26};
  EXPECT_TRUE(invalid(d));
  // A payload that claims far more than zlib could have packed is refused
  // before anything is unpacked.
  std::vector<uint8_t> bytes = EncodeReplay(Sample());
  bytes[30] = 0xFF;
  EXPECT_EQ(Parse(bytes, out), ReplayParse::Invalid);
}

// Two games of the same name, level and score keep a replay each; the
// links written for a new entry before the score file still serve the rows
// of the table that was on disk when the game stopped in between.
TEST(ReplayStore, EachEntryKeepsItsOwnReplayAcrossRunsAndStops) {
  ScoreDir dir("replay-store");
  LoadScoreFile();
  StoreFor(0, 9000, 777);
  StoreFor(1, 9000, 778);
  ASSERT_TRUE(SaveEntryLinks());
  ASSERT_TRUE(SaveScoreFile());
  LoadScoreFile();
  EXPECT_EQ(EntryFrames(0), 777u);
  EXPECT_EQ(EntryFrames(1), 778u);
  EXPECT_EQ(EntryFrames(2), 0u);  // a default entry
  for (int i = LOCAL_ROWS - 1; i >= 0; --i) {
    localScores[i + 1] = localScores[i];
    localReplays[i + 1] = localReplays[i];
  }
  StoreFor(0, 9500, 779);
  ASSERT_TRUE(SaveEntryLinks());
  LoadScoreFile();  // the stop: the old table with the new links
  EXPECT_EQ(EntryFrames(0), 777u);
  EXPECT_EQ(EntryFrames(1), 778u);
  // A replay no row names goes; a file whose header does not name the
  // entry's score is not served.
  localReplays[1].clear();
  PruneEntryReplays();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("vek.replays"), {}), 2);
  localReplays[0] = StoreReplay(Game(9001, 777));
  EXPECT_EQ(EntryFrames(0), 0u);
}

// A game that takes a row puts its replay in place, then the links, then
// the score file, and removes the replay pushed off the table last. A stop
// after any of these leaves the table from before the game or after it,
// every entry with its own replay, two equal entries included.
TEST(ReplayStore, AGameStoppedBetweenItsWritesLeavesEveryEntryWithItsReplay) {
  bool entered = false;
  for (int stop = 0, left = 0; left == 0; ++stop) {
    ScoreDir dir("replay-stop");
    LoadScoreFile();
    for (int row = 0; row < LOCAL_ROWS; ++row)
      StoreFor(row, 9000 - 100 * row + (row == 4 ? 100 : 0), 700 + row);  // rows 3 and 4 equal
    ASSERT_TRUE(SaveEntryLinks() && SaveScoreFile());
    SetScore(8850);  // row 2; the last row is pushed off
    BeginGameRecord();
    SetDiskChangeBudget(stop);
    EnterWithName("\r");
    left = SetDiskChangeBudget(-1);
    LoadScoreFile();  // the next start
    entered = RecordScore(localScores[2]) == 8850;
    for (int row = 0; row < LOCAL_ROWS; ++row)
      EXPECT_NE(EntryFrames(row), 0u) << "row " << row << ", stopped after " << stop;
    EXPECT_NE(EntryFrames(entered ? 4 : 3), EntryFrames(entered ? 5 : 4)) << stop;
  }
  EXPECT_TRUE(entered);
}

TEST(ReplayStore, AFailedWriteCostsOnlyTheReplayAndNeverFollowsALink) {
  ScoreDir dir("replay-store-fail");
  LoadScoreFile();
  SetReplaceFileFailure(true);
  StoreFor(0, 9000);
  SetReplaceFileFailure(false);
  EXPECT_EQ(EntryFrames(0), 0u);
  EXPECT_TRUE(std::filesystem::is_empty("vek.replays"));  // no temporary file left
  // A link planted where the temporary file goes is replaced, not written through.
  std::ofstream("target") << "keep";
  std::filesystem::create_symlink(
      "../target", "vek.replays/" + ByteString(ReplayName(Game(9000, 777))) + ".tmp");
  StoreFor(0, 9000);
  EXPECT_EQ(EntryFrames(0), 777u);
  EXPECT_EQ(FileBytes("target"), "keep");
  // A replay folder that is a file: the game goes on without replays.
  std::filesystem::remove_all("vek.replays");
  std::ofstream("vek.replays") << "x";
  StoreFor(1, 8000);
  EXPECT_EQ(EntryFrames(1), 0u);
  EXPECT_FALSE(SaveEntryLinks());
}
