#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "media/file_util.h"
#include "scores/entry_replays.h"
#include "scores/game_over.h"
#include "tests/unit/scores_test_util.h"
#include "world/scoring.h"

namespace {

// The first keystream bytes of RC4 under the game's 137-character key,
// worked out apart from the game's code: every record is XORed with these.
constexpr unsigned char KEYSTREAM[30] = {
    0x5D, 0x6A, 0xCB, 0xB0, 0x37, 0xA2, 0x22, 0x0A, 0xC1, 0xCA, 0xEF, 0x35, 0x18, 0xBE, 0xB6,
    0xBA, 0x27, 0x4B, 0x8E, 0xDD, 0xB3, 0x91, 0x38, 0xC4, 0x5D, 0xC8, 0x70, 0x8B, 0xDC, 0x06};

std::string Enciphered(const std::string& plain) {
  std::string out = plain;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ KEYSTREAM[i]);
  return out;
}

Text Local(const char16_t* name, const char16_t* level, const char16_t* score,
           const char16_t* mark) {
  return Text(name) + level + score + mark;
}

}  // namespace

TEST(ScoreRecords, CipherTwiceGivesThePlainRecordBack) {
  Text plain = Local(u"Anna................", u"C4", u"0012345", u"1");
  Text once = CipherText(plain);
  EXPECT_EQ(once.size(), plain.size());
  EXPECT_NE(once, plain);
  EXPECT_EQ(CipherText(once), plain);
  EXPECT_EQ(ByteString(once), Enciphered("Anna................C400123451"));
  EXPECT_EQ(ByteString(CipherText(u"Zed Q...............??99999990")),
            Enciphered("Zed Q...............??99999990"));
  // Keyed afresh each time: the same text always enciphers the same way,
  // and every character stays below 256.
  EXPECT_EQ(CipherText(plain), once);
  for (char16_t c : once) EXPECT_LT(c, 256);
  // Only the low byte of a wide character changes.
  Text wide = u"\u4100";
  EXPECT_EQ(CipherText(wide)[0] & 0xFF00, 0x4100);
  EXPECT_EQ(CipherText(CipherText(wide)), wide);
}

TEST(ScoreRecords, EveryRecordIsThirtyPrintableCharacters) {
  EXPECT_EQ(MakeScoreRecord(u"Bob", u"A1", 1234, u"1"),
            Local(u"Bob.................", u"A1", u"0001234", u"1"));
  EXPECT_EQ(MakeScoreRecord(u"ABCDEFGHIJKLMNOPQRSTUVWXY", u"**", 0, u"0"),
            Local(u"ABCDEFGHIJKLMNOPQRST", u"**", u"0000000", u"0"));
  // Scores beyond seven digits are kept as the largest that fits.
  EXPECT_EQ(MakeScoreRecord(u"Max", u"Z6", 12345678, u"1"),
            Local(u"Max.................", u"Z6", u"9999999", u"1"));
  EXPECT_EQ(MakeScoreRecord(u"Neg", u"A1", -5, u"0"),
            Local(u"Neg.................", u"A1", u"0000000", u"0"));
  EXPECT_EQ(MakeScoreRecord(u"a\tb\u00e9", u"LONGLEVEL", 7, u"x"),
            Local(u"a?b?................", u"LO", u"0000007", u"0"));
  EXPECT_EQ(MakeScoreRecord(u"", u"", 1, u"1"),
            Local(u"....................", u"??", u"0000001", u"1"));
  EXPECT_EQ(ScoreDigitsValue(u"0001234"), 1234);
  EXPECT_EQ(ScoreDigitsValue(u"123456789012"), 9999999);
  EXPECT_EQ(ScoreDigitsValue(u"-400"), 0);
  EXPECT_EQ(ScoreDigitsValue(u"12ab"), 12);
}

TEST(ScoreFile, FirstStartWritesTheDefaults) {
  ScoreDir dir("first-start");
  LoadScoreFile();
  EXPECT_FALSE(ScoreNoticePending());
  for (int k = 0; k < LOCAL_ROWS; ++k) {
    Text plain = PlainLocal(k);
    EXPECT_EQ(MidText(plain, 1, 20), u"....................") << k;
    EXPECT_EQ(MidText(plain, 21, 2), u"A1") << k;
    EXPECT_EQ(TextToInt(MidText(plain, 23, 7)), 2500 - 100 * k) << k;
    EXPECT_EQ(MidText(plain, 30, 1), u"0") << k;
  }
  for (int i = 0; i < ONLINE_ROWS; ++i)
    ASSERT_EQ(PlainOnline(i), u"....................A100000000") << i;
  // Byte for byte what any build with the same key writes and reads.
  std::string expected;
  for (int i = 0; i < ONLINE_ROWS; ++i) expected += Enciphered("....................A100000000");
  for (int k = 0; k < LOCAL_ROWS; ++k) {
    std::string digits = std::to_string(2500 - 100 * k);
    expected +=
        Enciphered("....................A1" + std::string(7 - digits.size(), '0') + digits + "0");
  }
  expected += std::string("\xF4\x7E\0\0\0\0\0\0", 8);  // 32 500, 64-bit little-endian
  std::string bytes = FileBytes("vek.hsf");
  ASSERT_EQ(bytes.size(), 30758u);
  size_t firstDifference =
      std::mismatch(bytes.begin(), bytes.end(), expected.begin()).first - bytes.begin();
  EXPECT_EQ(firstDifference, expected.size()) << "the first byte that differs";
  EXPECT_EQ(ChecksumField(bytes), 32500);
  EXPECT_FALSE(std::filesystem::exists("vek.hsf.tmp"));
}

TEST(ScoreFile, AChangedScoreResetsTheTablesOnceAChangedNameIsAccepted) {
  ScoreDir dir("tamper");
  LoadScoreFile();
  playerName.clear();
  SetScore(3000);
  EnterWithName("Keep\r");
  std::string good = FileBytes("vek.hsf");
  ASSERT_EQ(good.substr(30000, 30), Enciphered("Keep................A100030001"));

  // A renamed entry, enciphered properly, still loads.
  std::string renamed = good;
  renamed.replace(30000, 30, Enciphered("Kept................A100030001"));
  WriteFileBytes("vek.hsf", renamed);
  LoadScoreFile();
  EXPECT_FALSE(ScoreNoticePending());
  EXPECT_EQ(MidText(PlainLocal(0), 1, 4), u"Kept");

  // One point more anywhere in a score field is caught.
  std::string cheated = good;
  cheated.replace(30000, 30, Enciphered("Keep................A100030011"));
  WriteFileBytes("vek.hsf", cheated);
  LoadScoreFile();
  EXPECT_TRUE(ScoreNoticePending());
  EXPECT_EQ(TextToInt(MidText(PlainLocal(0), 23, 7)), 2500);
  EXPECT_EQ(ChecksumField(FileBytes("vek.hsf")), 32500);

  // The notice waits for the display, shows for three seconds, once.
  {
    FrameScript script([](int) {});
    int t0 = ElapsedMillis();
    ShowDeferredScoreNotice();
    EXPECT_EQ(script.frames, 1);
    EXPECT_GE(ElapsedMillis() - t0, 3000);
    EXPECT_FALSE(ScoreNoticePending());
    ShowDeferredScoreNotice();
    EXPECT_EQ(script.frames, 1);
  }
  LoadScoreFile();  // the reset file is accepted on the next start
  EXPECT_FALSE(ScoreNoticePending());
}

TEST(ScoreFile, AShortOrEmptyFileIsTreatedAsTampered) {
  ScoreDir dir("short");
  for (size_t size : {0u, 30u, 30757u}) {
    WriteFileBytes("vek.hsf", std::string(size, 'x'));
    LoadScoreFile();
    EXPECT_TRUE(ScoreNoticePending()) << size;
    EXPECT_EQ(FileBytes("vek.hsf").size(), 30758u) << size;
    EXPECT_EQ(TextToInt(MidText(PlainLocal(24), 23, 7)), 100) << size;
    FrameScript script([](int) {});
    ShowDeferredScoreNotice();
  }
}

// A file cut short or with one byte changed is reset, but its bytes stay in
// a file of their own, never one taken before, and the replays of its
// entries outlive the clean-up of the next saves.
TEST(ScoreFile, ADamagedFileIsKeptWithTheReplaysOfItsEntries) {
  ScoreDir dir("damaged");
  LoadScoreFile();
  std::filesystem::create_directory("vek.replays");
  const std::string replay = "vek.replays/00000000000000aa.zrp";
  WriteFileBytes(replay, "a game");
  localReplays[0] = u"00000000000000aa.zrp";
  ASSERT_TRUE(SaveEntryLinks() && SaveScoreFile());
  std::string good = FileBytes("vek.hsf"), links = FileBytes("vek.replays/entries");
  std::string flipped = good;
  flipped[30025] ^= 1;  // a digit of the best local score
  std::vector<std::string> kept;
  for (const std::string& damaged : {good.substr(0, good.size() - 1), flipped}) {
    WriteFileBytes("vek.hsf", damaged);
    testing::internal::CaptureStdout();
    LoadScoreFile();
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ScoreNoticePending());
    EXPECT_EQ(ChecksumField(FileBytes("vek.hsf")), 32500);
    for (const auto& entry : std::filesystem::directory_iterator("."))
      if (std::string name = entry.path().filename(); name.rfind("vek.hsf.damaged-", 0) == 0 &&
                                                      std::count(kept.begin(), kept.end(), name) == 0)
        kept.push_back(name);
    ASSERT_EQ(kept.size(), damaged == flipped ? 2u : 1u);
    EXPECT_EQ(FileBytes(kept.back()), damaged);
    EXPECT_NE(said.find(kept.back()), std::string::npos) << said;
    EXPECT_EQ(FileBytes("vek.replays/entries." + kept.back().substr(8)), links);
    SaveEntryLinks();
    SaveScoreFile();
    PruneEntryReplays();
    EXPECT_TRUE(std::filesystem::exists(replay));
  }
  FrameScript script([](int) {});
  ShowDeferredScoreNotice();
}

// A vek.hsf that is the player's own link is read and saved where it
// leads; someone else's link is left alone, and this run saves nothing.
TEST(ScoreFile, OnlyThePlayersOwnLinkIsFollowed) {
  ScoreDir dir("link");
  LoadScoreFile();
  localScores[3] = CipherText(MakeScoreRecord(u"Linked", u"B2", 2250, u"1"));
  ASSERT_TRUE(SaveScoreFile());
  std::filesystem::rename("vek.hsf", "kept.hsf");
  std::filesystem::create_symlink("kept.hsf", "vek.hsf");
  LoadScoreFile();
  EXPECT_EQ(MidText(PlainLocal(3), 1, 6), u"Linked");
  localScores[3] = CipherText(MakeScoreRecord(u"Saved", u"B2", 2250, u"1"));
  ASSERT_TRUE(SaveScoreFile());
  EXPECT_TRUE(std::filesystem::is_symlink("vek.hsf"));
  EXPECT_EQ(PlainAt(FileBytes("kept.hsf"), 30090), u"Saved...............B200022501");
  if (geteuid() != 0) return;  // only root can give a link away
  ASSERT_EQ(lchown("vek.hsf", 65534, 65534), 0);
  std::string before = FileBytes("kept.hsf");
  testing::internal::CaptureStdout();
  LoadScoreFile();
  EXPECT_FALSE(SaveScoreFile());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("vek.hsf is a link owned by someone else"),
            std::string::npos);
  EXPECT_EQ(MidText(PlainLocal(3), 1, 5), u".....");
  EXPECT_EQ(FileBytes("kept.hsf"), before);
  EXPECT_TRUE(std::filesystem::is_symlink("vek.hsf"));
  std::filesystem::remove("vek.hsf");
  LoadScoreFile();  // the tests after this one save again
}

// While another copy of the game holds the table, this one plays on what
// it read, says so, and writes nothing: no table, no replay, no links.
TEST(ScoreFile, ASecondCopyOfTheGameSavesNothing) {
  ScoreDir dir("second");
  int other = open("vek.hsf.lock", O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  testing::internal::CaptureStdout();
  LoadScoreFile();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("another copy of the game is using"),
            std::string::npos);
  EXPECT_TRUE(ScoreNoticePending());
  playerName.clear();
  SetScore(3000);
  EnterWithName("Second\r");
  EXPECT_EQ(MidText(PlainLocal(0), 1, 6), u"Second");
  EXPECT_FALSE(SaveScoreFile());
  EXPECT_FALSE(std::filesystem::exists("vek.hsf"));
  EXPECT_FALSE(std::filesystem::exists("vek.replays"));
  {
    FrameScript script([](int) {});
    ShowDeferredScoreNotice();
    EXPECT_EQ(script.frames, 1);
  }
  close(other);  // the first copy has ended
  LoadScoreFile();
  EXPECT_TRUE(SaveScoreFile());
}

TEST(ScoreFile, WithoutAWritableDirectoryTheGamePlaysOnTheDefaults) {
  ScoreDir dir("gone");
  // A working directory that no longer exists: nothing can be created in it,
  // not even by root.
  std::filesystem::path gone = std::filesystem::path(dir.path()) / "gone";
  std::filesystem::create_directory(gone);
  std::filesystem::current_path(gone);
  std::filesystem::remove(gone);
  localScores[0].clear();
  LoadScoreFile();
  EXPECT_EQ(TextToInt(MidText(PlainLocal(0), 23, 7)), 2500);
  EXPECT_EQ(PlainOnline(999), u"....................A100000000");
  EXPECT_FALSE(SaveScoreFile());
}

TEST(ScoreFile, AFailedSaveLeavesThePreviousFileLoadable) {
  ScoreDir dir("crash");
  LoadScoreFile();
  playerName.clear();
  SetScore(4000);
  EnterWithName("First\r");
  std::string before = FileBytes("vek.hsf");

  // A disk that fills up part-way through the records.
  SetScoreWriteBudget(12345);
  SetScore(5000);
  EnterWithName("\bSecond\r");  // the previous name is still there: Backspace it away
  SetScoreWriteBudget(-1);
  EXPECT_EQ(MidText(PlainLocal(0), 1, 20), u"FirsSecond..........");  // kept in memory
  EXPECT_EQ(FileBytes("vek.hsf"), before);
  EXPECT_FALSE(std::filesystem::exists("vek.hsf.tmp"));

  // A rename that fails after the data was written.
  SetReplaceFileFailure(true);
  EXPECT_FALSE(SaveScoreFile());
  SetReplaceFileFailure(false);
  EXPECT_EQ(FileBytes("vek.hsf"), before);
  EXPECT_FALSE(std::filesystem::exists("vek.hsf.tmp"));

  LoadScoreFile();
  EXPECT_FALSE(ScoreNoticePending());
  EXPECT_EQ(MidText(PlainLocal(0), 1, 20), u"First...............");
  EXPECT_TRUE(SaveScoreFile());
}

TEST(LocalScores, OnlyAStrictlyHigherScoreEntersAndGoesBelowItsEquals) {
  ScoreDir dir("insert");
  LoadScoreFile();
  std::string defaults = FileBytes("vek.hsf");

  SetScore(100);  // equal to the 25th entry: not in
  gotHighScore = true;
  {
    FrameScript script([](int) {});
    InsertLocalScore();
    EXPECT_EQ(script.frames, 0);
  }
  EXPECT_EQ(newEntryIndex, 25);
  EXPECT_FALSE(gotHighScore);
  EXPECT_EQ(FileBytes("vek.hsf"), defaults);

  playerName.clear();
  SetScore(101);
  EnterWithName("Low\r");
  EXPECT_EQ(newEntryIndex, 24);
  EXPECT_TRUE(gotHighScore);
  EXPECT_EQ(PlainLocal(24), u"Low.................A100001011");
  EXPECT_EQ(PlainAt(FileBytes("vek.hsf"), 30000 + 24 * 30), u"Low.................A100001011");

  SetScore(2000);  // equal to row 5
  levelLabel = u"C3";
  EnterWithName("\b\b\bMid\r");
  EXPECT_EQ(newEntryIndex, 6);
  EXPECT_EQ(TextToInt(MidText(PlainLocal(5), 23, 7)), 2000);
  EXPECT_EQ(MidText(PlainLocal(5), 1, 3), u"...");
  EXPECT_EQ(MidText(PlainLocal(6), 1, 3), u"Mid");
  EXPECT_EQ(PlainLocal(24), u"....................A100002000");  // "Low" fell off

  SetScore(12345678);  // a new best beyond seven digits
  EnterWithName("\r");
  EXPECT_EQ(newEntryIndex, 0);
  EXPECT_EQ(PlainLocal(0), u"Mid.................A199999991");
  EXPECT_EQ(PlainLocal(25), u"....................A100002000");  // the old row 24, dropped
  EXPECT_EQ(TextToInt(MidText(PlainLocal(24), 23, 7)), 300);
  std::string bytes = FileBytes("vek.hsf");
  EXPECT_EQ(bytes.size(), 30758u);
  EXPECT_EQ(ChecksumField(bytes), ScoreTableChecksum());
}
