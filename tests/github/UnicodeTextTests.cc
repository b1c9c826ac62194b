// Unicode helpers: the built-in white-space set, and the ICU-backed category test and grapheme
// count (ASCII answers are checked against the same rules without the module).
#include <gtest/gtest.h>

#include <string>

#include "PellowGitHub/support/UnicodeText.h"

namespace pellow {
namespace {

// UTF-8 of one code point.
std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

TEST(UnicodeText, TrimsEachWhiteSpaceCodePointFromBothEndsOnly) {
  const char32_t whiteSpace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                 0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                 0x2029, 0x202F, 0x205F, 0x3000};
  static_assert(std::size(whiteSpace) == 25);
  for (char32_t c : whiteSpace) {
    const std::string s = utf8(c);
    EXPECT_TRUE(isWhiteSpaceOrNewline(c)) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(trimWhiteSpaceAndNewlines(s + s + "owner" + s + "/name" + s), "owner" + s + "/name")
        << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(trimWhiteSpaceAndNewlines(s), "");
  }
  // Look-alikes that are not white space stay.
  for (char32_t c : {0x08u, 0x1Cu, 0x1Fu, 0x180Eu, 0x200Bu, 0x2060u, 0xFEFFu, 0x3164u}) {
    const std::string s = utf8(c);
    EXPECT_FALSE(isWhiteSpaceOrNewline(c)) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(trimWhiteSpaceAndNewlines(s + "x" + s), s + "x" + s);
  }
}

TEST(UnicodeText, TrimmingStopsAtIllFormedUTF8) {
  EXPECT_EQ(trimWhiteSpaceAndNewlines(" \xC2"), "\xC2");           // truncated sequence
  EXPECT_EQ(trimWhiteSpaceAndNewlines("\xC2\xA0\x80 "), "\x80");   // stray continuation
  EXPECT_EQ(trimWhiteSpaceAndNewlines("\xC0\xA0x"), "\xC0\xA0x");  // overlong space
  EXPECT_EQ(trimWhiteSpaceAndNewlines("x\xE2\x80"), "x\xE2\x80");  // cut-off U+2000
  EXPECT_EQ(trimWhiteSpaceAndNewlines(""), "");
}

TEST(UnicodeText, AlphanumericMeansLettersMarksAndNumbers) {
  struct Case {
    char32_t c;
    bool expected;
  };
  const Case cases[] = {
      {U'a', true},     {U'Z', true},    {U'7', true},      {U'_', false},   {U'-', false},
      {U' ', false},    {0x00E9, true},  {0x0301, true},    {0x0903, true},  {0x0663, true},
      {0x2164, true},   {0x00BD, true},  {0x4E2D, true},    {0x20AC, false}, {0x00A0, false},
      {0x1F600, false}, {0x200D, false}, {0x110000, false}, {0xD800, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isAlphanumeric(c.c), c.expected) << std::hex << static_cast<unsigned>(c.c);
  }
}

TEST(UnicodeText, CountsUserPerceivedCharacters) {
  struct Case {
    std::string text;
    std::size_t expected;
  };
  const Case cases[] = {
      {"", 0},
      {"octo-notes", 10},
      {"a\r\nb", 3},  // CR LF is one
      {"a\n\rb", 4},
      {"e\xCC\x81", 1},                         // e + combining acute
      {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1},  // a flag: two regional indicators
      {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",
       1},                                          // ZWJ family
      {"\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", 1},  // Hangul syllable as three jamo
      {"na\xC3\xAFve", 5},
      {"a\xFF", 2},  // an ill-formed byte counts as one
  };
  for (const Case& c : cases) EXPECT_EQ(graphemeCount(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace pellow
