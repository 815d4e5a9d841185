// The score file loader: a file whose checksum matches is never taken for a
// tampered one, a loaded file saves back byte for byte (only the low half of
// the checksum is compared, so its high half is written back as the sign
// of the sum), and a save always reads back clean.
#include <cstring>

#include "scores/score_table.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The checksum the file should carry, worked out on its own bytes.
  bool whole = size >= static_cast<size_t>(SCORE_FILE_SIZE);
  bool sumMatches = false;
  if (whole) {
    uint32_t sum = 0;
    for (int r = 0; r < ONLINE_ROWS + LOCAL_ROWS; ++r)
      sum += static_cast<uint32_t>(RecordScore(AsciiText(std::string_view(
          reinterpret_cast<const char*>(data) + r * RECORD_LENGTH, RECORD_LENGTH))));
    const uint8_t* stored = data + SCORE_FILE_SIZE - 8;
    uint32_t low = stored[0] | stored[1] << 8 | stored[2] << 16 | uint32_t(stored[3]) << 24;
    sumMatches = low == sum;
  }
  ScoreFileState state = ReadScoreTables(*InputStream(data, size));
  FUZZ_CHECK(state == (whole && sumMatches ? ScoreFileState::Good : ScoreFileState::Damaged));

  auto bank = std::make_shared<TBank>();
  TBankStream saved(bank);
  FUZZ_CHECK(WriteScoreTables(saved));
  FUZZ_CHECK(bank->bytes.size() == static_cast<size_t>(SCORE_FILE_SIZE));
  if (state == ScoreFileState::Good) {
    FUZZ_CHECK(std::memcmp(bank->bytes.data(), data, static_cast<size_t>(SCORE_FILE_SIZE - 4)) ==
               0);
    const uint8_t high = data[SCORE_FILE_SIZE - 5] & 0x80 ? 0xFF : 0;
    for (int i = SCORE_FILE_SIZE - 4; i < SCORE_FILE_SIZE; ++i) FUZZ_CHECK(bank->bytes[i] == high);
  }
  saved.Seek(0);
  FUZZ_CHECK(ReadScoreTables(saved) == ScoreFileState::Good);
  return 0;
}
