// The links from the local table's entries to their replays: any bytes in
// the links file give each row a replay name or none, never more than a
// line holds, and what is read writes back to links that read the same.
#include "scores/entry_replays.h"
#include "scores/score_table.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Rows 0 and 1 share a key, so the count of rows above matters.
  for (int row = 0; row < LOCAL_ROWS; ++row)
    localScores[row] = CipherText(MakeScoreRecord(u"Ann", u"B3", row < 2 ? 900 : 800 - row, u"1"));
  ReadEntryLinks(std::vector<uint8_t>(data, data + size));
  Text read[LOCAL_ROWS];
  for (int row = 0; row < LOCAL_ROWS; ++row) {
    FUZZ_CHECK(localReplays[row].size() <= 64 && localReplays[row] != u"-");
    read[row] = localReplays[row];
  }
  ReadEntryLinks(EntryLinkBytes());
  for (int row = 0; row < LOCAL_ROWS; ++row) FUZZ_CHECK(localReplays[row] == read[row]);
  return 0;
}
