// The command frame of the real github-helper binary: modes, limits, exact answer bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/github/HelperWithFakeGitHub.h"

namespace pellow::testing {
namespace {

constexpr char kGeneric[] =
    R"({"error":"GitHub could not complete this request. Try again in Git sync settings."})";
constexpr char kInvalidRequest[] = R"({"error":"Invalid GitHub request."})";
constexpr char kInvalidOperation[] = R"({"error":"Invalid GitHub operation."})";

class HelperFrame : public ::testing::Test {
 protected:
  testkit::TemporaryFolder home;
  EnvironmentChanges env() const {
    return {{"HOME", home.path()},
            {"XDG_DATA_HOME", home / "data"},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
            {"XDG_RUNTIME_DIR", home.path()}};
  }
  HelperRun json(const std::string& input) { return runHelper({}, input, env()); }
};

// A request padded with spaces inside the object to exactly `size` bytes.
std::string padded(const std::string& operation, std::size_t size) {
  std::string head = R"({"operation":")" + operation + R"(",)";
  std::string tail = R"("x":1})";
  return head + std::string(size - head.size() - tail.size(), ' ') + tail;
}

TEST_F(HelperFrame, JSONModeAnswersOnStandardOutputWithStatusZero) {
  struct Case {
    std::string input;
    std::string answer;
  };
  const Case cases[] = {
      {"", kGeneric},
      {"not json", kGeneric},
      {"{\"operation\":\"status\"", kGeneric},
      {"\"status\"", kGeneric},  // a scalar top level is a reader error
      {"{\"operation\":\"\xC3\x28\"}", kGeneric},
      {R"([{"operation":"status"}])", kInvalidRequest},
      {R"({"operation":7})", kInvalidRequest},
      {R"({"operation":null})", kInvalidRequest},
      {R"({"op":"status"})", kInvalidRequest},
      {R"({"operation":"Status"})", kInvalidOperation},
      {R"({"operation":"DISCONNECT"})", kInvalidOperation},
      {R"({"operation":"status "})", kInvalidOperation},
      {R"({"operation":""})", kInvalidOperation},
  };
  for (const auto& c : cases) {
    const HelperRun run = json(c.input);
    EXPECT_EQ(run.status, 0) << c.input;
    EXPECT_EQ(run.out, c.answer) << c.input;
    EXPECT_EQ(run.err, "") << c.input;
  }
}

TEST_F(HelperFrame, RequestLimitIs65536Bytes) {
  const HelperRun atLimit = json(padded("unknown", 65536));
  EXPECT_EQ(atLimit.out, kInvalidOperation);
  const HelperRun overLimit = json(padded("unknown", 65537));
  EXPECT_EQ(overLimit.out, kInvalidRequest);
  // Far over the limit: still read to the end, still one answer.
  const HelperRun huge = json(std::string(8 << 20, ' '));
  EXPECT_EQ(huge.out, kInvalidRequest);
  EXPECT_EQ(huge.status, 0);
}

TEST_F(HelperFrame, ArgumentsSelectTheMode) {
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const std::string invalidHelper = R"({"error":"Invalid GitHub helper operation."})";
  const Case cases[] = {
      {{"status"}, invalidHelper},
      {{"--help"}, invalidHelper},
      {{"get", "credential"}, invalidHelper},
      {{"Credential", "5", "get"}, invalidHelper},
      // Every "credential" call that is not exactly (credential, account id >= 1, get) is silent.
      {{"credential"}, ""},
      {{"credential", "5"}, ""},
      {{"credential", "5", "store"}, ""},
      {{"credential", "5", "erase"}, ""},
      {{"credential", "5", "GET"}, ""},
      {{"credential", "5", "get", "extra"}, ""},
      {{"credential", "0", "get"}, ""},
      {{"credential", "-3", "get"}, ""},
      {{"credential", "5a", "get"}, ""},
      {{"credential", " 5", "get"}, ""},
      {{"credential", "", "get"}, ""},
      {{"credential", "+", "get"}, ""},
      {{"credential", "9223372036854775808", "get"}, ""},
  };
  for (const auto& c : cases) {
    const HelperRun run = runHelper(c.arguments, R"({"operation":"disconnect"})", env());
    EXPECT_EQ(run.status, 0) << c.arguments.front();
    EXPECT_EQ(run.out, c.out) << c.arguments.size();
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace pellow::testing
