// Text operations: the edge behaviour the game's logic leans on.
#include "media/text.h"

#include <gtest/gtest.h>

#include <climits>

TEST(Text, MidTextClipsAndPads) {
  EXPECT_EQ(MidText(u"ABCDE", 0, 2), u"A");  // start before the text eats into the size
  EXPECT_EQ(MidText(u"ABCDE", 4), u"DE");
  EXPECT_EQ(MidText(u"ABC", 5), u"");
  EXPECT_EQ(MidText(u"ABC", 4), u"");
  EXPECT_EQ(MidText(u"ABCDE", 2, 3), u"BCD");
  EXPECT_EQ(MidText(u"ABCDE", 4, 10), u"DE");
  EXPECT_EQ(MidText(u"ABCDE", -1, 2), u"");
  EXPECT_EQ(MidText(u"ABCDE", 2, 0), u"");
  EXPECT_EQ(MidText(u"ABC", -1), u"  ABC");  // no size: one space per position before 1
  EXPECT_EQ(MidText(u"ABC", 1), u"ABC");
  // The last character, and one past it.
  EXPECT_EQ(MidText(u"ABCDE", 5), u"E");
  EXPECT_EQ(MidText(u"ABCDE", 5, 1), u"E");
  EXPECT_EQ(MidText(u"ABCDE", 5, 2), u"E");
  EXPECT_EQ(MidText(u"ABCDE", 6, 1), u"");
  EXPECT_EQ(MidText(u"ABCDE", 4, 2), u"DE");
  EXPECT_EQ(MidText(u"ABCDE", 1, 5), u"ABCDE");
  EXPECT_EQ(MidText(u"ABCDE", 1, 4), u"ABCD");
  EXPECT_EQ(MidText(u"ABCDE", 0, 6), u"ABCDE");
  EXPECT_EQ(MidText(u"ABC", 0), u" ABC");
}

TEST(Text, LeftAndFind) {
  EXPECT_EQ(LeftText(u"ABC", 2), u"AB");
  EXPECT_EQ(LeftText(u"ABC", 9), u"ABC");
  EXPECT_EQ(LeftText(u"ABC", 3), u"ABC");
  EXPECT_EQ(LeftText(u"ABC", 0), u"");
  EXPECT_EQ(LeftText(u"ABC", -1), u"");
  EXPECT_EQ(FindText(u"ABCABC", u"C", 4), 6);
  EXPECT_EQ(FindText(u"ABCABC", u"C", 6), 6);  // found at the last position
  EXPECT_EQ(FindText(u"ABCABC", u"C", 7), 0);
  EXPECT_EQ(FindText(u"ABCABC", u"BC", 5), 5);
  EXPECT_EQ(FindText(u"ABCABC", u"BC", 6), 0);  // only half of it is left
  EXPECT_EQ(FindText(u"ABCABC", u"A", 1), 1);
  EXPECT_EQ(FindText(u"ABCABC", u"A", 2), 4);
  EXPECT_EQ(FindText(u"ABCABC", u"C"), 3);
  EXPECT_EQ(FindText(u"ABCABC", u"C", -5), 3);
  EXPECT_EQ(FindText(u"ABCABC", u"D"), 0);
  EXPECT_EQ(FindText(u"ABC", u"C", 4), 0);
  EXPECT_EQ(FindText(u"ABC", u"C", 40), 0);
}

TEST(Text, CharactersAndIntegers) {
  EXPECT_EQ(CharText(65), u"A");
  EXPECT_EQ(CharText(0x4E00), u"\u4E00");
  EXPECT_EQ(CharCode(u"A"), 65);
  EXPECT_EQ(CharCode(u"BA"), 66);
  EXPECT_EQ(CharCode(u"\uFFFF"), 0xFFFF);
  EXPECT_EQ(CharCode(u""), -1);
  EXPECT_EQ(IntText(0), u"0");
  EXPECT_EQ(IntText(-42), u"-42");
  EXPECT_EQ(IntText(-1), u"-1");
  EXPECT_EQ(IntText(INT_MAX), u"2147483647");
  EXPECT_EQ(IntText(INT_MIN), u"-2147483648");
}

TEST(Text, TextToIntReadsWhatItCanAndStops) {
  EXPECT_EQ(TextToInt(u"  -$1F"), -31);
  EXPECT_EQ(TextToInt(u"12abc"), 12);
  EXPECT_EQ(TextToInt(u"$ff"), 255);
  EXPECT_EQ(TextToInt(u"$09aFg"), 0x9AF);  // both ends of both letter ranges
  EXPECT_EQ(TextToInt(u"09:"), 9);
  EXPECT_EQ(TextToInt(u"%1011"), 11);
  EXPECT_EQ(TextToInt(u"%102"), 2);  // stops at the first non-binary digit
  EXPECT_EQ(TextToInt(u"+7"), 7);
  EXPECT_EQ(TextToInt(u"\t\r\n 5"), 5);
  EXPECT_EQ(TextToInt(u""), 0);
  EXPECT_EQ(TextToInt(u"-"), 0);
  EXPECT_EQ(TextToInt(u"x12"), 0);
  EXPECT_EQ(TextToInt(u"- 5"), 0);
  EXPECT_EQ(TextToInt(u"2147483647"), INT_MAX);
  EXPECT_EQ(TextToInt(u"-2147483648"), INT_MIN);
}

TEST(Text, FloatsTruncateTowardZero) {
  EXPECT_EQ(FloatToInt(2.9), 2);
  EXPECT_EQ(FloatToInt(-2.9), -2);
  EXPECT_EQ(FloatToInt(-0.5), 0);
  EXPECT_EQ(FloatToInt(1e20), INT_MAX);
}

TEST(Text, BytesRoundTripAsLatin1) {
  EXPECT_EQ(AsciiText("A\xE9"), u"A\u00E9");
  EXPECT_EQ(ByteString(u"A\u00E9\u0141"), std::string("A\xE9\x41"));  // low bytes only
  EXPECT_LT(Text(u"AB"), Text(u"ABC"));
  EXPECT_LT(Text(u"AB"), Text(u"B"));
}
