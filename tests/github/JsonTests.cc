#include "PellowGitHub/support/Json.h"

#include <gtest/gtest.h>

#include <limits>

namespace pellow {
namespace {

TEST(JsonParse, AcceptsOnlyContainersOfValidUTF8) {
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {R"({"a":1})", true},
      {"[1,2]", true},
      {" \n{}\t", true},
      {"\xEF\xBB\xBF{}", true},  // byte order mark
      {"", false},
      {"   ", false},
      {"\"text\"", false},
      {"12", false},
      {"null", false},
      {"true", false},
      {"{", false},
      {"{}{}", false},
      {"{\"a\":\"\xC3\x28\"}", false},      // invalid UTF-8 in a string
      {"{\"a\":\"\xED\xA0\x80\"}", false},  // an encoded surrogate
      {"{\"a\":1,}", false},
      {"{/*c*/}", false},
      {std::string("{}\0", 3), false},  // the reader must not stop at a NUL
      {std::string("{\"operation\":\"disconnect\"}\0{\"operation\":\"save\"", 46), false},
      {std::string("\0{}", 3), false},
  };
  for (const auto& c : cases) {
    if (c.accepted) {
      EXPECT_NO_THROW(json::parse(c.text)) << c.text;
    } else {
      EXPECT_THROW(json::parse(c.text), json::JsonSyntaxError) << c.text;
    }
  }
}

TEST(JsonSerialize, CompactSortedWithEscapedSlashes) {
  const nlohmann::json value =
      json::parse(R"({"z":{"b":"https://x/y","a":[1,2.5,"é"]},"a":true,"m":null})");
  EXPECT_EQ(json::serialize(value),
            R"({"a":true,"m":null,"z":{"a":[1,2.5,"é"],"b":"https:\/\/x\/y"}})");
  // A "/" inside a key is escaped too; quotes and control characters keep JSON's escapes.
  EXPECT_EQ(json::serialize(nlohmann::json{{"a/b", "q\"\n"}}), R"({"a\/b":"q\"\n"})");
}

TEST(JsonNumbers, IntegerMeansAnIntegralNumberWithin64Bits) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> expected;
  };
  const Case cases[] = {
      {"[12]", 12},
      {"[-7]", -7},
      {"[12.0]", 12},
      {"[1.2e1]", 12},
      {"[9223372036854775807]", std::numeric_limits<std::int64_t>::max()},
      {"[-9223372036854775808]", std::numeric_limits<std::int64_t>::min()},
      {"[9223372036854775808]", std::nullopt},
      {"[12.5]", std::nullopt},
      {"[1e300]", std::nullopt},
      {"[\"12\"]", std::nullopt},
      {"[true]", std::nullopt},
      {"[null]", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json::integer(json::parse(c.text).at(0)), c.expected) << c.text;
  }
  EXPECT_EQ(json::number(json::parse("[3]").at(0)), 3.0);
  EXPECT_EQ(json::number(json::parse("[false]").at(0)), std::nullopt);
}

}  // namespace
}  // namespace pellow
