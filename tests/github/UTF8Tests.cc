#include "PellowGitHub/support/UTF8.h"

#include <gtest/gtest.h>

namespace pellow {
namespace {

TEST(UTF8, AcceptsOnlyWellFormedSequences) {
  struct Case {
    std::string bytes;
    bool valid;
    std::optional<char32_t> first;
  };
  const Case cases[] = {
      {"", true, std::nullopt},
      {"a", true, U'a'},
      {"\xC3\xA9", true, U'é'},
      {"\xE2\x80\x99", true, U'\u2019'},
      {"\xF0\x9F\x98\x80", true, U'\U0001F600'},
      {"\xF4\x8F\xBF\xBF", true, U'\U0010FFFF'},
      {"\xC0\xAF", false, std::nullopt},          // overlong "/"
      {"\xE0\x80\xAF", false, std::nullopt},      // overlong
      {"\xED\xA0\x80", false, std::nullopt},      // surrogate
      {"\xF4\x90\x80\x80", false, std::nullopt},  // above U+10FFFF
      {"\xF5\x80\x80\x80", false, std::nullopt},
      {"\xE2\x80", false, std::nullopt},  // truncated
      {"\x80", false, std::nullopt},
      {"a\xFF", false, U'a'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isValidUTF8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    const auto scalar = decodeUTF8Scalar(c.bytes);
    EXPECT_EQ(scalar ? std::optional<char32_t>(scalar->value) : std::nullopt, c.first)
        << testing::PrintToString(c.bytes);
  }
}

}  // namespace
}  // namespace pellow
