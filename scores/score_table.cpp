#include "scores/score_table.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "flow/flow_state.h"
#include "flow/options.h"
#include "media/clock.h"
#include "media/file_util.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/stream.h"
#include "replay/replay.h"
#include "replay/replay_store.h"
#include "scores/entry_replays.h"
#include "scores/game_over.h"
#include "world/scoring.h"

Text localScores[27];
Text onlineBoard[1001];
int newEntryIndex = 25;
bool gotHighScore = false;

namespace {

// A file can only be read by a build with the key that wrote it.
constexpr char16_t scoreCipherKey[] =
    u"E73,+*qbPTJ}z#Fip5JJ,S2h11L)(f|2=0vAV?vO:UxF7X4#YF?kl-ois|3Hzg[qOYzXR|<PrB9W:CBZfGt^Hc+"
    u"Ix}zx:d5z0)b?2*Ul?cE1Q7g[w&ZAyaG/{8/({UDkW/h9Lq3[<";
static_assert(sizeof(scoreCipherKey) / sizeof(char16_t) - 1 == 137);

constexpr char16_t NAME_PADDING[] = u"....................";
constexpr char16_t SCORE_PADDING[] = u"0000000";
constexpr char16_t TEMP_SUFFIX[] = u".tmp";

bool noticePending = false;
bool busyNoticePending = false;
int writeBudget = -1;
Text savesRefused;  // why this run keeps its scores in memory only; "" while it saves them

// The cipher is keyed afresh on every call, so every record meets the same
// keystream; it is worked out once and extended when a longer text comes.
const std::vector<uint8_t>& Keystream(size_t length) {
  static std::vector<uint8_t> stream;
  if (stream.size() >= length) return stream;
  std::array<uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  constexpr int keyLength = 137;
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + (scoreCipherKey[i % keyLength] & 0xFF)) & 0xFF;
    std::swap(s[i], s[j]);
  }
  size_t want = std::max<size_t>(length, 64);
  stream.clear();
  for (size_t n = 0, i = 0, j = 0; n < want; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    stream.push_back(s[(s[i] + s[j]) & 0xFF]);
  }
  return stream;
}

Text Printable(const Text& text, char16_t replacement) {
  Text out = text;
  for (char16_t& c : out)
    if (c < 32 || c > 126) c = replacement;
  return out;
}

Text DefaultRecord(int score) { return MakeScoreRecord(Text(), u"A1", score, u"0"); }

void FillDefaultTables() {
  Text online = CipherText(DefaultRecord(0));
  for (int i = 0; i < ONLINE_ROWS; ++i) onlineBoard[i] = online;
  for (int k = 0; k < LOCAL_ROWS; ++k) localScores[k] = CipherText(DefaultRecord(2500 - 100 * k));
}

// Rows the file takes as they are: already enciphered and 30 characters
// long. A row that is not (only before the first load) goes out as a
// default record so the file keeps its size.
Text FileRow(const Text& row, int defaultScore) {
  return row.size() == RECORD_LENGTH ? row : CipherText(DefaultRecord(defaultScore));
}

// Passes writes on until the budget is spent, then fails them as a full
// disk would; lets tests break a save part-way.
class TBudgetStream : public TStream {
 public:
  TBudgetStream(StreamRef inner, int budget) : inner_(std::move(inner)), left_(budget) {}
  int Eof() override { return inner_->Eof(); }
  int Pos() override { return inner_->Pos(); }
  int Size() override { return inner_->Size(); }
  int Seek(int pos) override { return inner_->Seek(pos); }
  void Flush() override { inner_->Flush(); }
  void Close() override { inner_->Close(); }
  int Read(void* buf, int count) override { return inner_->Read(buf, count); }
  int Write(const void* buf, int count) override {
    int n = std::min(count, left_);
    if (n <= 0) return 0;
    int written = inner_->Write(buf, n);
    left_ -= written;
    return written;
  }

 private:
  StreamRef inner_;
  int left_;
};

}  // namespace

bool WriteScoreTables(TStream& out) {
  uint32_t sum = 0;
  try {
    for (int i = 0; i < ONLINE_ROWS; ++i) {
      Text row = FileRow(onlineBoard[i], 0);
      sum += static_cast<uint32_t>(RecordScore(row));
      out.WriteString(row);
    }
    for (int k = 0; k < LOCAL_ROWS; ++k) {
      Text row = FileRow(localScores[k], 2500 - 100 * k);
      sum += static_cast<uint32_t>(RecordScore(row));
      out.WriteString(row);
    }
    out.WriteLong(static_cast<int32_t>(sum));
  } catch (const TStreamWriteException&) {
    return false;
  }
  return true;
}

// Reads into scratch tables first, so a damaged file leaves nothing half
// loaded. A file too short for its 1025 records and checksum counts as
// damaged, like a checksum that does not match.
ScoreFileState ReadScoreTables(TStream& file) {
  std::vector<Text> rows(ONLINE_ROWS + LOCAL_ROWS);
  uint32_t sum = 0;
  int64_t stored = 0;
  try {
    int size = file.Size();
    if (size >= 0 && size < SCORE_FILE_SIZE) return ScoreFileState::Damaged;
    for (Text& row : rows) {
      row = file.ReadString(RECORD_LENGTH);
      sum += static_cast<uint32_t>(RecordScore(row));
    }
    stored = file.ReadLong();
  } catch (const TStreamReadException&) {
    return ScoreFileState::Damaged;
  }
  if (static_cast<uint32_t>(stored) != sum) return ScoreFileState::Damaged;
  for (int i = 0; i < ONLINE_ROWS; ++i) onlineBoard[i] = rows[i];
  for (int k = 0; k < LOCAL_ROWS; ++k) localScores[k] = rows[ONLINE_ROWS + k];
  return ScoreFileState::Good;
}

namespace {

// vek.hsf, or the file it leads to when it is a link of the player's own to
// a file of theirs; "" for any other link, and `why` says what it is.
Text ScoreFilePath(Text& why) {
  Text path;
  return FollowOwnLink(WritePath(SCORE_FILE_NAME), path, why) ? path : Text();
}

void RefuseSaves(const Text& why) {
  savesRefused = why;
  PrintLine(u"high scores: " + why);
}

// Writes both tables and their checksum to a temporary file and puts it in
// place of vek.hsf only once it is complete and on disk.
bool WriteTablesToFile() {
  if (!savesRefused.empty()) {
    PrintLine(u"high scores: not saved: " + savesRefused);
    return false;
  }
  Text why, finalPath = ScoreFilePath(why);
  if (finalPath.empty()) {
    PrintLine(u"high scores: " + WritePath(SCORE_FILE_NAME) + u" " + why + u"; scores not saved");
    return false;
  }
  Text tmpPath = finalPath + TEMP_SUFFIX;
  StreamRef file = CreateFreshFile(tmpPath);
  if (!file) {
    PrintLine(u"high scores: cannot create " + tmpPath + u"; scores not saved");
    return false;
  }
  StreamRef out = writeBudget >= 0 ? std::make_shared<TBudgetStream>(file, writeBudget) : file;
  bool written = WriteScoreTables(*out);
  out->Close();
  if (!written) {
    file->Close();
    RemoveFile(tmpPath);
    PrintLine(u"high scores: writing " + tmpPath + u" failed; scores not saved");
    return false;
  }
  // A failed flush at close is not reported by the stream: check the size.
  StreamRef check = OpenFileForReading(tmpPath);
  int size = check ? check->Size() : -1;
  if (check) check->Close();
  if (size != SCORE_FILE_SIZE) {
    RemoveFile(tmpPath);
    PrintLine(u"high scores: " + tmpPath + u" came out short; scores not saved");
    return false;
  }
  if (!SyncAndReplaceFile(tmpPath, finalPath)) {
    PrintLine(u"high scores: cannot replace " + finalPath + u"; scores not saved");
    return false;
  }
  return true;
}

ScoreFileState ReadScoreFile(const Text& path) {
  StreamRef file = OpenFileForReading(path);
  if (!file) return ScoreFileState::Missing;
  ScoreFileState state = ReadScoreTables(*file);
  file->Close();
  return state;
}

}  // namespace

Text CipherText(const Text& text) {
  const std::vector<uint8_t>& key = Keystream(text.size());
  Text out = text;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(out[i] ^ key[i]);
  return out;
}

Text MakeScoreRecord(const Text& name, const Text& level, int score, const Text& mark) {
  Text n = Printable(LeftText(name, 20), u'?');
  Text l = Printable(LeftText(level, 2), u'?');
  l += Text(2 - l.size(), u'?');
  Text s = IntText(std::clamp(score, 0, MAX_RECORD_SCORE));
  Text m = mark.size() == 1 && (mark == u"0" || mark == u"1") ? mark : Text(u"0");
  return n + LeftText(NAME_PADDING, 20 - static_cast<int>(n.size())) + l +
         LeftText(SCORE_PADDING, 7 - static_cast<int>(s.size())) + s + m;
}

int RecordScore(const Text& enciphered) {
  return TextToInt(MidText(CipherText(enciphered), 23, 7));
}

int ScoreDigitsValue(const Text& digits) {
  int value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') break;
    value = std::min(value * 10 + (c - u'0'), MAX_RECORD_SCORE + 1);
  }
  return std::min(value, MAX_RECORD_SCORE);
}

int ScoreTableChecksum() {
  uint32_t sum = 0;
  for (int i = 0; i < ONLINE_ROWS; ++i) sum += static_cast<uint32_t>(RecordScore(onlineBoard[i]));
  for (int k = 0; k < LOCAL_ROWS; ++k) sum += static_cast<uint32_t>(RecordScore(localScores[k]));
  return static_cast<int32_t>(sum);
}

namespace {

// A damaged table is never simply written over: its bytes go to a dated
// file beside it first, and the links of its entries to their replays to a
// file of the same date in the replay folder, whose replays the clean-up
// then keeps. When either copy cannot be made the file is left as it is
// and this run saves nothing.
bool KeepDamagedFile(const Text& path) {
  Text kept = KeepDatedCopy(path, u"damaged");
  Text links = ReplayFolder() + u"/entries";
  Text keptLinks = links + u"." + (kept.empty() ? Text() : kept.substr(path.size() + 1));
  bool hasLinks = PlainFileSize(links) >= 0;
  if (kept.empty() || (hasLinks && !CopyToNewFile(links, keptLinks))) {
    if (!kept.empty()) RemoveFile(kept);
    RefuseSaves(path + u" is damaged and no copy of it can be kept; it is left as it is, and " +
                u"this run plays on the default tables and saves no scores");
    return false;
  }
  PrintLine(u"high scores: " + path + u" is damaged; its bytes are kept in " + kept +
            (hasLinks ? u", the links to its entries' replays in " + keptLinks : Text()));
  return true;
}

// Loading runs before the display opens, so a tamper notice waits for
// ShowDeferredScoreNotice. The defaults are read back after writing them; if
// they cannot be written the game plays on with the defaults in memory.
void LoadScoreTables() {
  savesRefused.clear();
  Text why, path = ScoreFilePath(why);
  if (path.empty()) {
    FillDefaultTables();
    RefuseSaves(WritePath(SCORE_FILE_NAME) + u" " + why + u"; it is left as it is, and this " +
                u"run plays on the default tables and saves no scores");
    return;
  }
  // One copy of the game writes a table: a second one started on the same
  // folder plays on the table as it was and saves nothing, so the first's
  // new entries are never written over.
  if (TakeFileLock(path + u".lock") == FileLock::Busy) {
    busyNoticePending = true;
    RefuseSaves(u"another copy of the game is using " + path +
                u"; this one plays on the tables as they are and saves no scores");
  }
  for (int pass = 0; pass < 2; ++pass) {
    ScoreFileState state = ReadScoreFile(path);
    if (state == ScoreFileState::Good) return;
    if (!savesRefused.empty()) {
      FillDefaultTables();
      return;
    }
    if (state == ScoreFileState::Damaged && pass == 0) {
      noticePending = true;
      if (Current2D()) ShowDeferredScoreNotice();
      if (!KeepDamagedFile(path)) {
        FillDefaultTables();
        return;
      }
    }
    if (!WriteDefaultScoreFile()) {
      PrintLine(u"high scores: playing with the default tables; " + WritePath(SCORE_FILE_NAME) +
                u" cannot be written");
      return;
    }
  }
  FillDefaultTables();
  PrintLine(u"high scores: " + WritePath(SCORE_FILE_NAME) +
            u" does not read back; playing with the default tables");
}

}  // namespace

// Each entry's replay link comes with the tables it was written for.
void LoadScoreFile() {
  LoadScoreTables();
  LoadEntryLinks();
}

bool WriteDefaultScoreFile() {
  FillDefaultTables();
  return WriteTablesToFile();
}

bool SaveScoreFile() { return WriteTablesToFile(); }

// A notice of two lines held for 3 seconds, as the game shows it at start.
static void ShowNotice(const char16_t* first, const char16_t* second) {
  Cls();
  DrawString(first, 10, 250);
  DrawString(second, 10, 300);
  Flip(-1);
  DelayMillis(3000);
}

void ShowDeferredScoreNotice() {
  if (!Current2D()) return;
  if (noticePending) {
    noticePending = false;
    ShowNotice(u"high scores file tampering detected!", u"resetting tables to default values...");
  }
  if (busyNoticePending) {
    busyNoticePending = false;
    ShowNotice(u"another copy of the game is running!", u"this one will not save its scores...");
  }
}

bool ScoreNoticePending() { return noticePending || busyNoticePending; }

bool ScoresSaved() { return savesRefused.empty(); }

// A score equal to an entry goes below it: only a strictly higher score
// takes a row. The game's replay is written before the entry that owns it,
// and the links before the score file, so a stop anywhere in between never
// leaves an entry whose replay is lost. A replay played back takes the row
// its recording took, and its game ends where the recording was settled.
void InsertLocalScore() {
  int s = ReadScore();
  newEntryIndex = 25;
  for (int i = LOCAL_ROWS - 1; i >= 0; --i)
    if (s > RecordScore(localScores[i])) newEntryIndex = i;
  newEntryIndex = TableAnswer(newEntryIndex);
  bool replaying = ReplayPlaying();
  if (!replaying)
    for (int i = LOCAL_ROWS - 1; i >= newEntryIndex; --i) {
      localScores[i + 1] = localScores[i];
      localReplays[i + 1] = localReplays[i];
    }
  if (newEntryIndex == 25) {
    gotHighScore = false;
    SettleGameRecord();
    return;
  }
  EnterScoreName();
  const std::vector<uint8_t>& replay = SettleGameRecord();
  if (replaying) return;
  localScores[newEntryIndex] = CipherText(MakeScoreRecord(playerName, levelLabel, s, u"1"));
  if (!ScoresSaved()) {  // nothing on disk changes, the replays included
    SaveScoreFile();
    return;
  }
  localReplays[newEntryIndex] = StoreReplay(replay);
  SaveEntryLinks();
  SaveScoreFile();
  PruneEntryReplays();
}

void SetScoreWriteBudget(int bytes) { writeBudget = bytes; }
