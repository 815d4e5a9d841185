#include "scores/entry_replays.h"

#include <algorithm>
#include <set>

#include "media/file_util.h"
#include "media/stream.h"
#include "replay/replay_file.h"
#include "replay/replay_store.h"
#include "scores/score_table.h"

Text localReplays[27];

namespace {

constexpr char16_t LINKS_FILE[] = u"/entries";
constexpr size_t MAX_LINKS_FILE = 4096;

// Name, level and score of the row: what stays when its upload mark changes.
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

}  // namespace

void LoadEntryLinks() {
  std::vector<uint8_t> bytes;
  ReadSmallFile(ReplayFolder() + LINKS_FILE, MAX_LINKS_FILE, bytes);
  ReadEntryLinks(bytes);
}

namespace {

// Each line's key and replay name.
std::vector<std::pair<Text, Text>> ParseLinks(const std::vector<uint8_t>& bytes) {
  std::vector<std::pair<Text, Text>> links;
  Text line;
  for (uint8_t b : bytes) {
    if (b != '\n') {
      if (line.size() < 64) line += char16_t(b);
      continue;
    }
    int space = FindText(line, u" ");
    if (space) links.push_back({LeftText(line, space - 1), MidText(line, space + 1, 64)});
    line.clear();
  }
  return links;
}

}  // namespace

void ReadEntryLinks(const std::vector<uint8_t>& bytes) {
  std::vector<std::pair<Text, Text>> links = ParseLinks(bytes);
  Text keys[LOCAL_ROWS];
  for (int row = 0; row < LOCAL_ROWS; ++row) {
    keys[row] = EntryKey(row);
    int above = int(std::count(keys, keys + row, keys[row]));  // rows above with this key
    localReplays[row].clear();
    for (const auto& [key, name] : links)
      if (key == keys[row] && above-- == 0) {
        if (name != u"-") localReplays[row] = name;
        break;
      }
  }
}

// The row a new entry has just pushed off the table is written too: until
// the score file is replaced, the table on disk still holds it.
std::vector<uint8_t> EntryLinkBytes() {
  std::vector<uint8_t> bytes;
  int rows = localScores[LOCAL_ROWS].size() == RECORD_LENGTH ? LOCAL_ROWS + 1 : LOCAL_ROWS;
  for (int row = 0; row < rows; ++row) {
    Text name = localReplays[row].empty() ? Text(u"-") : localReplays[row];
    for (char16_t c : EntryKey(row) + u" " + name + u"\n") bytes.push_back(uint8_t(c));
  }
  return bytes;
}

bool SaveEntryLinks() {
  Text path = ReplayFolder() + LINKS_FILE;
  if (EnsureFolder(ReplayFolder()) && WriteFileAtomically(path, EntryLinkBytes())) return true;
  PrintLine(u"replays: cannot write " + path + u"; the game goes on without it");
  return false;
}

// The replays of a damaged table's entries stay for as long as the copy of
// its links ("entries.damaged-...") lies beside them.
void PruneEntryReplays() {
  std::set<Text> kept(localReplays, localReplays + LOCAL_ROWS);
  for (const Text& file : FolderFileNames(ReplayFolder())) {
    std::vector<uint8_t> bytes;
    if (LeftText(file, 16) != u"entries.damaged-" ||
        !ReadSmallFile(ReplayFolder() + u"/" + file, MAX_LINKS_FILE, bytes))
      continue;
    for (const auto& link : ParseLinks(bytes)) kept.insert(link.second);
  }
  PruneReplays(kept);
}

bool LoadEntryReplay(int row, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (row < 0 || row >= LOCAL_ROWS || !LoadReplay(localReplays[row], bytes)) return false;
  // The header must name the entry's score and level.
  Text plain = CipherText(localScores[row]);
  bool match =
      plain.size() == RECORD_LENGTH && bytes.size() >= size_t(REPLAY_HEADER_SIZE) &&
      std::equal(REPLAY_MAGIC, REPLAY_MAGIC + 4, bytes.begin()) &&
      std::min<uint32_t>(bytes[8] | bytes[9] << 8 | bytes[10] << 16 | uint32_t(bytes[11]) << 24,
                         MAX_RECORD_SCORE) == uint32_t(RecordScore(localScores[row])) &&
      bytes[12] == (plain[20] & 0xFF) && bytes[13] == (plain[21] & 0xFF);
  if (!match) bytes.clear();
  return match;
}
