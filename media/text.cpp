// Text operations with the edge behaviour the game's logic was written
// against: 1-based positions, forgiving ranges, and number parsing that
// stops quietly at the first character it does not understand.
#include "media/text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

Text MidText(const Text& s, int pos, int size) {
  const long long len = static_cast<long long>(s.size());
  if (pos > len) return Text();
  long long start = static_cast<long long>(pos) - 1;
  if (size < 0) {
    // Asking for "everything from position 0 or before" pads the front with
    // one space per position in front of the text.
    if (start < 0)
      return Text(static_cast<size_t>(std::min<long long>(-start, MAX_TEXT_PADDING)), u' ') + s;
    return s.substr(static_cast<size_t>(start));
  }
  long long count = size;
  if (start < 0) {
    count += start;
    start = 0;
  }
  if (count <= 0) return Text();
  long long end = start + count;
  if (end > len) end = len;
  return s.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

Text LeftText(const Text& s, int n) {
  if (n <= 0) return Text();
  if (static_cast<size_t>(n) >= s.size()) return s;
  return s.substr(0, static_cast<size_t>(n));
}

int FindText(const Text& s, const Text& sub, int start) {
  size_t from = start > 1 ? static_cast<size_t>(start - 1) : 0;
  if (from > s.size()) return 0;
  size_t at = s.find(sub, from);
  return at == Text::npos ? 0 : static_cast<int>(at) + 1;
}

Text CharText(int code) { return Text(1, static_cast<char16_t>(code & 0xFFFF)); }

int CharCode(const Text& s) { return s.empty() ? -1 : static_cast<int>(s[0]); }

Text IntText(int n) { return AsciiText(std::to_string(n)); }

int TextToInt(const Text& s) {
  size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;  // spaces, tabs and line ends
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && s[i] == u'%') {
    base = 2;
    ++i;
  } else if (i < s.size() && s[i] == u'$') {
    base = 16;
    ++i;
  }
  // Unsigned arithmetic: an over-long number wraps like the 32-bit int it
  // ends up in instead of being undefined.
  uint32_t value = 0;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    int digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      break;
    if (digit >= base) break;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

int FloatToInt(double v) {
  // Out-of-range values saturate (and NaN gives 0) rather than being
  // undefined; inside the range this is plain truncation toward zero.
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

Text AsciiText(std::string_view s) {
  Text out;
  out.reserve(s.size());
  for (unsigned char c : s) out.push_back(static_cast<char16_t>(c));
  return out;
}

std::string ByteString(const Text& s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(static_cast<char>(c & 0xFF));
  return out;
}
