// The text operations on any text and any positions: results stay within
// what was asked for and what the text holds, and numbers read back.
#include <algorithm>
#include <cstring>

#include "media/text.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int pos, count;
  std::memcpy(&pos, data, 4);
  std::memcpy(&count, data + 4, 4);
  Text s = AsciiText(std::string_view(reinterpret_cast<const char*>(data) + 8, size - 8));
  const long long len = static_cast<long long>(s.size());
  const size_t from = static_cast<size_t>(std::clamp<long long>(pos - 1LL, 0, len));

  Text mid = MidText(s, pos, count);
  if (count >= 0) {
    FUZZ_CHECK(mid.size() <= static_cast<size_t>(count));
    FUZZ_CHECK(mid == s.substr(from, mid.size()));
  } else if (pos <= len) {
    Text tail = s.substr(from);
    FUZZ_CHECK(mid.size() >= tail.size() &&
               mid.compare(mid.size() - tail.size(), Text::npos, tail) == 0);
    FUZZ_CHECK(mid.size() <= tail.size() + static_cast<size_t>(MAX_TEXT_PADDING));
  } else {
    FUZZ_CHECK(mid.empty());
  }

  Text left = LeftText(s, pos);
  FUZZ_CHECK(left == s.substr(0, static_cast<size_t>(std::clamp<long long>(pos, 0, len))));

  Text sub = MidText(s, count % 16, 3);
  int at = FindText(s, sub, pos);
  if (at != 0) {
    FUZZ_CHECK(at >= pos && at >= 1);
    FUZZ_CHECK(s.compare(static_cast<size_t>(at - 1), sub.size(), sub) == 0);
  } else {
    FUZZ_CHECK(s.find(sub, from) == Text::npos || pos - 1LL > len);
  }

  FUZZ_CHECK(TextToInt(IntText(pos)) == pos);
  FUZZ_CHECK(CharCode(CharText(count)) == (count & 0xFFFF));
  (void)TextToInt(s);
  double d;
  if (size >= 16) {
    std::memcpy(&d, data + 8, sizeof d);
    int n = FloatToInt(d);
    if (d > -2147483648.0 && d < 2147483647.0) FUZZ_CHECK(n == static_cast<int>(d));
  }
  return 0;
}
