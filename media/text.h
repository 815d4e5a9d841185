// Text: the game's strings are 16-bit code units; these operations have the
// fixed edge behaviour the game's logic relies on.
#pragma once
#include <string>
#include <string_view>

using Text = std::u16string;

// --- Substrings and search (positions are 1-based) ---
Text MidText(const Text& s, int pos, int size = -1);  // pos beyond the end gives ""
// MidText without a size pads the front with a space per position before 1,
// but never more than this many (a wild position must not take gigabytes).
constexpr int MAX_TEXT_PADDING = 65536;
Text LeftText(const Text& s, int n);                   // n past the end gives all of s
int FindText(const Text& s, const Text& sub, int start = 1);  // 0 when not found

// --- Characters and numbers ---
Text CharText(int code);       // one-character text
int CharCode(const Text& s);   // first code unit, -1 for ""
Text IntText(int n);           // "-2147483648" for the most negative int
int TextToInt(const Text& s);  // optional sign, then %binary, $hex or decimal; 0 without digits
int FloatToInt(double v);      // truncates toward zero, like every float-to-int of the game

// --- Conversions at the edges (diagnostics, file names, tests) ---
Text AsciiText(std::string_view s);    // each byte becomes one code unit (Latin-1)
std::string ByteString(const Text& s); // each code unit's low byte
