// git credential mode: reading git's request, deciding whether to answer, the exact answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DesktopTest.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "github-helper/Commands.h"
#include "github-helper/CredentialRequest.h"
#include "github-helper/GitHubHelper.h"

namespace pellow::testing {
namespace {

const std::string kHost(config::webHost());
const std::string kRequest = "protocol=https\nhost=" + kHost + "\npath=octo/notes.git\n";
const std::string kAnswer = "username=x-access-token\npassword=ghu_stored\n\n";

class MemoryStreams final : public StandardStreams {
 public:
  explicit MemoryStreams(std::string input) : input_(std::move(input)) {}
  std::string readInput(std::size_t limit) override {
    reads++;
    return input_.substr(0, limit + 1);
  }
  void writeOutput(std::string_view bytes) override { out += bytes; }
  void writeError(std::string_view bytes) override { err += bytes; }
  std::string out, err;
  int reads = 0;

 private:
  std::string input_;
};

TEST(CredentialRequest, DecodesUTF8WithReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"path=o/n", "path=o/n"},
      {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC0\xAF", r + r},                  // overlong lead bytes are never valid
      {"\xE0\x80\xAF", r + r + r},          // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xE2\x82", r},                      // a truncated sequence is one replacement
      {"\xE2\x82"
       "A",
       r + "A"},
      {"\xF0\x9F\x98", r},
      {"\xF0\x9F\x98=", r + "="},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeUTF8WithReplacement(c.bytes), c.text) << c.bytes;
}

TEST(CredentialRequest, AttributeTable) {
  const struct {
    std::string text;
    std::optional<CredentialAttributes> table;
  } cases[] = {
      {"protocol=https\nhost=h\n", CredentialAttributes{{"protocol", "https"}, {"host", "h"}}},
      {"\n\nprotocol=https\n\n\nhost=h",
       CredentialAttributes{{"protocol", "https"}, {"host", "h"}}},
      {"path=a=b==\nkey=\n=v\n", CredentialAttributes{{"path", "a=b=="}, {"key", ""}, {"", "v"}}},
      {"protocol=https\r\n", CredentialAttributes{{"protocol", "https\r"}}},
      {"", CredentialAttributes{}},
      {"protocol=https\nnot an attribute\n", std::nullopt},
      {"host=h\nhost=h\n", std::nullopt},
      {"host=h\nHost=h\n", CredentialAttributes{{"host", "h"}, {"Host", "h"}}},
      // git's array attributes may repeat and are not kept.
      {"capability[]=authtype\ncapability[]=state\nhost=h\nwwwauth[]=Basic\nwwwauth[]=Bearer\n",
       CredentialAttributes{{"host", "h"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseCredentialAttributes(c.text), c.table) << c.text;
}

TEST(CredentialRequest, TokensThatCouldBreakTheAnswer) {
  for (const std::string& token :
       std::vector<std::string>{"a\nb", "a\rb", "a\vb", "a\fb", std::string("a\0b", 3),
                                "a\xC2\x85"
                                "b",
                                "a\xE2\x80\xA8"
                                "b",
                                "a\xE2\x80\xA9"
                                "b"}) {
    EXPECT_TRUE(containsLineBreakOrNUL(token)) << token;
  }
  for (const std::string& token :
       std::vector<std::string>{"ghu_abc", "a\tb", "a b", "\xC3\xA4\xE2\x80\xAA"}) {
    EXPECT_FALSE(containsLineBreakOrNUL(token)) << token;
  }
}

class GitCredentialMode : public DesktopTest {
 protected:
  MemoryStreams run(const std::string& input, std::int64_t account = 42) {
    MemoryStreams streams(input);
    gitCredentialCommand(context, account, streams);
    return streams;
  }
};

TEST_F(GitCredentialMode, AnswersGitHubRepositoryRequests) {
  storeCredential(42);
  const std::string gitCurrent =
      "capability[]=authtype\ncapability[]=state\nprotocol=https\nhost=" + kHost +
      "\npath=octo/notes.git\n";
  const std::string requests[] = {
      kRequest,
      "protocol=https\nhost=" + kHost + "\npath=octo/notes",
      "protocol=https\nhost=" + kHost + "\npath=Octo/Notes.git\nusername=someone\n",
      "protocol=https\nhost=GITHUB.COM\npath=octo/notes\n",
      "protocol=https\nhost=" + kHost + "\npath=mona-cat_octo/notes.git\n",  // a managed user
      gitCurrent,
      gitCurrent + "wwwauth[]=Basic realm=\"GitHub\"\nwwwauth[]=Bearer\n",
  };
  for (const auto& request : requests) {
    if (kHost != "github.com" && request.find("GITHUB.COM") != std::string::npos) continue;
    const MemoryStreams streams = run(request);
    EXPECT_EQ(streams.out, kAnswer) << request;
    EXPECT_EQ(streams.err, "") << request;
  }
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(GitCredentialMode, StaysSilentWithoutTouchingKeychainOrNetwork) {
  storeCredential(42);
  const std::string host = "\nhost=" + kHost;
  const std::string silent[] = {
      "",
      kRequest + std::string(16384 - kRequest.size() + 1, '\n'),  // 16,385 bytes
      "protocol=https" + host + host + "\npath=octo/notes\n",
      "capability[]=authtype\nprotocol=https" + host + "\nhost=" + kHost + "\npath=o/n\n",
      "protocol=https\r" + host + "\r\npath=octo/notes\r\n",
      "protocol=https" + host + "\n",
      "protocol=https" + host + "\npath=octo/notes/extra\n",
      "protocol=https" + host + "\npath=/octo/notes\n",
      "protocol=https" + host + "\npath=octo/no=tes\n",
      "protocol=http" + host + "\npath=octo/notes\n",
      "protocol=HTTPS" + host + "\npath=octo/notes\n",
      "host=" + kHost + "\npath=octo/notes\n",
      "protocol=https\npath=octo/notes\n",
      "protocol=https" + host + ":443\npath=octo/notes\n",
      "protocol=https\nhost=example.com\npath=octo/notes\n",
      "protocol=https" + host + "\npath=octo/notes\nno equals sign\n",
      "protocol=https" + host + "\npath=octo/n\xFFotes\n",
  };
  for (const auto& request : silent) {
    const MemoryStreams streams = run(request);
    EXPECT_EQ(streams.out, "") << request;
    EXPECT_EQ(streams.err, "") << request;
  }
  EXPECT_EQ(keychainReads(), 0u);
  EXPECT_TRUE(transport->requests().empty());
}

TEST_F(GitCredentialMode, InputLimitIsInclusive) {
  storeCredential(42);
  const std::string exact = kRequest + std::string(16384 - kRequest.size(), '\n');
  ASSERT_EQ(exact.size(), 16384u);
  EXPECT_EQ(run(exact).out, kAnswer);
}

TEST_F(GitCredentialMode, TokenWithALineBreakIsNeverPrinted) {
  storeCredential(42, "octocat", "ghu_a\nusername=evil");
  const MemoryStreams streams = run(kRequest);
  EXPECT_EQ(streams.out, "");
  EXPECT_EQ(streams.err, "");
}

TEST_F(GitCredentialMode, OtherAccountOrNoCredentialIsAnErrorLine) {
  const std::string line =
      "Pellow GitHub: Sign in to the GitHub account connected to this notes folder in Settings "
      "\u2192 Git sync. Your notes remain saved locally.\n";
  const std::string_view arguments[] = {"credential", "6", "get"};
  {
    MemoryStreams streams(kRequest);
    EXPECT_EQ(runGitHubHelper(arguments, streams, context), 1);
    EXPECT_EQ(streams.out, "");
    EXPECT_EQ(streams.err, line);
  }
  storeCredential(5);
  {
    MemoryStreams streams(kRequest);
    EXPECT_EQ(runGitHubHelper(arguments, streams, context), 1);
    EXPECT_EQ(streams.out, "");
    EXPECT_EQ(streams.err, line);
  }
  storeCredential(0, "", "ghu_bare");  // a bare token serves no particular account
  {
    MemoryStreams streams(kRequest);
    EXPECT_EQ(runGitHubHelper(arguments, streams, context), 1);
    EXPECT_EQ(streams.err, line);
  }
}

}  // namespace
}  // namespace pellow::testing
