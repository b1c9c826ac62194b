// The text kit's rules at their edges: digits of the wrong case, escapes cut short, bytes next
// to the A-Z range, NUL bytes, and whole-file reads at, below and past their bound through
// short reads.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "PrivateFiles/UniqueFd.h"
#include "TextKit/AsciiCase.h"
#include "TextKit/BoundedRead.h"
#include "TextKit/Hex.h"
#include "TextKit/JsonText.h"
#include "TextKit/PercentEncoding.h"

namespace {

using namespace std::string_literals;
using privatefiles::UniqueFd;
using textkit::HexDigits;
using textkit::ReadStatus;

TEST(TextKitCase, FoldsOnlyAToZ) {
  // '@' and '[' sit right before 'A' and after 'Z'; UTF-8 bytes of "É" must stay as they are.
  EXPECT_EQ(textkit::lowercasedASCII("@AZ[`az{ \xC3\x89 GitHub.COM"),
            "@az[`az{ \xC3\x89 github.com");
  struct Case {
    std::string_view a, b;
    bool equal;
  } cases[] = {
      {"Content-Type", "content-type", true},
      {"", "", true},
      {"ETag", "etags", false},
      {"@", "`", false},
      {"[", "{", false},
      {"\xC3\x89", "\xC3\xA9", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textkit::equalsIgnoringASCIICase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(TextKitHex, DigitsOfTheAcceptedCaseOnly) {
  struct Case {
    char digit;
    int upper, lower, either;
  } cases[] = {
      {'0', 0, 0, 0},    {'9', 9, 9, 9},    {'A', 10, -1, 10}, {'F', 15, -1, 15},
      {'a', -1, 10, 10}, {'f', -1, 15, 15}, {'G', -1, -1, -1}, {'g', -1, -1, -1},
      {'/', -1, -1, -1}, {':', -1, -1, -1}, {'@', -1, -1, -1}, {'`', -1, -1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textkit::hexDigitValue(c.digit, HexDigits::upper), c.upper) << c.digit;
    EXPECT_EQ(textkit::hexDigitValue(c.digit, HexDigits::lower), c.lower) << c.digit;
    EXPECT_EQ(textkit::hexDigitValue(c.digit, HexDigits::either), c.either) << c.digit;
  }
}

TEST(TextKitHex, EncodesAndDecodesEveryByte) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string lower = textkit::hexEncoded(all, HexDigits::lower);
  EXPECT_EQ(lower.substr(0, 6), "000102");
  EXPECT_EQ(lower.substr(lower.size() - 4), "feff");
  EXPECT_EQ(textkit::hexEncoded("\x7f\xa0", HexDigits::upper), "7FA0");
  EXPECT_EQ(textkit::hexDecoded(lower, HexDigits::lower), all);
  EXPECT_EQ(textkit::hexDecoded(lower, HexDigits::upper), std::nullopt);
  EXPECT_EQ(textkit::hexDecoded("abc", HexDigits::either), std::nullopt);  // odd length
  EXPECT_EQ(textkit::hexDecoded("", HexDigits::either), ""s);
}

bool keepsLettersAfterFirst(unsigned char c, std::size_t index) {
  return index > 0 && c >= 'a' && c <= 'z';
}
bool keepsPrintableButPercent(unsigned char c, std::size_t) {
  return c > ' ' && c <= '~' && c != '%';
}

TEST(TextKitPercent, EncodesWhatTheFormatRefusesInUpperCase) {
  EXPECT_EQ(textkit::percentEncode("ab c/\xC3\xA9", keepsLettersAfterFirst), "%61b%20c%2F%C3%A9");
  EXPECT_EQ(textkit::percentEncode(""s, keepsLettersAfterFirst), "");
  EXPECT_EQ(textkit::percentEncode("%\x00"s, keepsPrintableButPercent), "%25%00");
}

TEST(TextKitPercent, DecodesOnlyWholeEscapesOfTheAcceptedCase) {
  struct Case {
    std::string_view text;
    HexDigits digits;
    textkit::KeepsByte literal;
    std::optional<std::string> decoded;
  } cases[] = {
      {"a%20b", HexDigits::upper, nullptr, "a b"},
      {"%2f%2F", HexDigits::either, nullptr, "//"},
      {"%2f", HexDigits::upper, nullptr, std::nullopt},
      {"%2F", HexDigits::lower, nullptr, std::nullopt},
      {"ab%4", HexDigits::either, nullptr, std::nullopt},  // cut short: one digit
      {"ab%", HexDigits::either, nullptr, std::nullopt},   // cut short: none
      {"%%41", HexDigits::either, nullptr, std::nullopt},
      {"%00x", HexDigits::upper, nullptr, "\0x"s},
      {"a b", HexDigits::upper, nullptr, "a b"},  // without a literal rule any byte stands
      {"a b", HexDigits::upper, keepsPrintableButPercent, std::nullopt},
      {"a%20b", HexDigits::upper, keepsPrintableButPercent, "a b"},
      {"", HexDigits::upper, keepsPrintableButPercent, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textkit::percentDecode(c.text, c.digits, c.literal), c.decoded) << c.text;
  }
}

TEST(TextKitJson, NulAndSlashes) {
  EXPECT_FALSE(textkit::holdsNul("{}"));
  EXPECT_TRUE(textkit::holdsNul("{}\0garbage"s));
  EXPECT_TRUE(textkit::holdsNul("\0"s));
  EXPECT_EQ(textkit::escapingSlashes(R"({"path":"/a/b","x":"\\"})"),
            R"({"path":"\/a\/b","x":"\\"})");
  EXPECT_EQ(textkit::escapingSlashes("//"), R"(\/\/)");
  EXPECT_EQ(textkit::escapingSlashes(""), "");
}

// A file in memory holding `size` bytes of a repeating pattern, at offset 0.
UniqueFd memoryFile(std::size_t size) {
  UniqueFd fd(::memfd_create("text-kit", MFD_CLOEXEC));
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(::write(fd.get(), bytes.data(), size), static_cast<ssize_t>(size));
  EXPECT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  return fd;
}

TEST(TextKitRead, AtBelowAndPastTheLimit) {
  struct Case {
    std::size_t size, limit, hint;
    ReadStatus status;
    std::size_t bytes;
  } cases[] = {
      {0, 0, 0, ReadStatus::complete, 0},
      {1, 0, 0, ReadStatus::tooLong, 1},
      {100, 100, 100, ReadStatus::complete, 100},
      {101, 100, 100, ReadStatus::tooLong, 101},
      {100, 100, 10, ReadStatus::complete, 100},          // the file grew since the hint
      {10, 100, 100, ReadStatus::complete, 10},           // the file shrank since the hint
      {100000, 100000, 0, ReadStatus::complete, 100000},  // grows the buffer several times
      {100001, 100000, 0, ReadStatus::tooLong, 100001},
      {70000, static_cast<std::size_t>(-1), 1, ReadStatus::complete, 70000},
      {10, 100, static_cast<std::size_t>(-1), ReadStatus::complete, 10},  // a hint past any size
      {10, static_cast<std::size_t>(-1), static_cast<std::size_t>(-1), ReadStatus::complete, 10},
  };
  for (const Case& c : cases) {
    const UniqueFd fd = memoryFile(c.size);
    const textkit::ReadResult result = textkit::readAll(fd.get(), c.limit, c.hint);
    EXPECT_EQ(result.status, c.status) << c.size << " bytes, limit " << c.limit;
    ASSERT_EQ(result.bytes.size(), c.bytes) << c.size << " bytes, limit " << c.limit;
    for (std::size_t i = 0; i < result.bytes.size(); ++i) {
      ASSERT_EQ(result.bytes[i], static_cast<char>('a' + i % 26)) << "byte " << i;
    }
  }
}

TEST(TextKitRead, ThroughShortReadsOfAPipe) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  // Pieces of 7 bytes, well past a pipe's buffer in total, so that reads come back short.
  std::thread writer([fd = std::move(writeEnd)] {
    for (int i = 0; i < 20000; ++i) {
      ASSERT_EQ(::write(fd.get(), "0123456", 7), 7);
    }
  });
  const textkit::ReadResult result = textkit::readAll(readEnd.get(), 140000, 7);
  writer.join();
  EXPECT_EQ(result.status, ReadStatus::complete);
  ASSERT_EQ(result.bytes.size(), 140000u);
  EXPECT_EQ(result.bytes.substr(139993), "0123456");
}

TEST(TextKitRead, AFailedReadReportsItsErrno) {
  const UniqueFd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const textkit::ReadResult result = textkit::readAll(folder.get(), 100);
  EXPECT_EQ(result.status, ReadStatus::failed);
  EXPECT_EQ(result.error, EISDIR);
  EXPECT_TRUE(result.bytes.empty());
}

}  // namespace
