#include "replay/replay_store.h"

#include <algorithm>
#include <set>

#include "flow/options.h"
#include "media/file_util.h"
#include "media/stream.h"
#include "replay/replay_file.h"
#include "scores/score_table.h"

namespace {

constexpr char16_t REPLAY_SUFFIX[] = u".zrp";

// Name, level and score of the entry: what stays when its upload mark changes.
Text EntryKey(int row) {
  Text plain = CipherText(localScores[row]);
  if (plain.size() != RECORD_LENGTH) return Text();
  uint64_t h = 0xcbf29ce484222325ull;
  for (int i = 0; i < RECORD_LENGTH - 1; ++i) h = (h ^ (plain[i] & 0xFF)) * 0x100000001b3ull;
  static constexpr char HEX[] = "0123456789abcdef";
  Text key;
  for (int shift = 60; shift >= 0; shift -= 4) key += char16_t(HEX[(h >> shift) & 0xF]);
  return key;
}

bool EndsWith(const Text& s, const Text& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Every file that is not the replay of a current entry goes.
void PruneReplays() {
  std::set<Text> kept;
  for (int row = 0; row < LOCAL_ROWS; ++row) kept.insert(EntryKey(row) + REPLAY_SUFFIX);
  for (const Text& name : FolderFileNames(ReplayFolder()))
    if ((EndsWith(name, REPLAY_SUFFIX) || EndsWith(name, u".tmp")) && !kept.count(name))
      RemovePlainFile(ReplayFolder() + u"/" + name);
}

}  // namespace

Text ReplayFolder() { return WritePath(u"vek.replays"); }

Text EntryReplayPath(int row) { return ReplayFolder() + u"/" + EntryKey(row) + REPLAY_SUFFIX; }

void StoreEntryReplay(int row, const std::vector<uint8_t>& bytes) {
  if (row < 0 || row >= LOCAL_ROWS || bytes.empty()) return;
  if (!EnsureFolder(ReplayFolder()) || !WriteFileAtomically(EntryReplayPath(row), bytes)) {
    PrintLine(u"replays: cannot write " + EntryReplayPath(row) + u"; the game goes on without it");
    return;
  }
  PruneReplays();
}

bool LoadEntryReplay(int row, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (row < 0 || row >= LOCAL_ROWS || EntryKey(row).empty()) return false;
  if (!ReadSmallFile(EntryReplayPath(row), REPLAY_MAX_FILE, bytes)) return false;
  // The header must name the entry's score and level.
  Text plain = CipherText(localScores[row]);
  bool match =
      bytes.size() >= size_t(REPLAY_HEADER_SIZE) &&
      std::equal(REPLAY_MAGIC, REPLAY_MAGIC + 4, bytes.begin()) &&
      std::min<uint32_t>(bytes[8] | bytes[9] << 8 | bytes[10] << 16 | uint32_t(bytes[11]) << 24,
                         MAX_RECORD_SCORE) == uint32_t(RecordScore(localScores[row])) &&
      bytes[12] == (plain[20] & 0xFF) && bytes[13] == (plain[21] & 0xFF);
  if (!match) bytes.clear();
  return match;
}
