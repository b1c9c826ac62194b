// git starts the helper on every fetch and push: runs that need no network must not load
// libcurl, ICU, GLib or the shared C++ runtime. The dynamic loader's own trace shows what a run
// really loads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/github/HelperWithFakeGitHub.h"

namespace pellow::testing {
namespace {

std::vector<std::string> heavyLibrariesLoaded(const HelperRun& run) {
  std::vector<std::string> heavy = {"libcurl", "libicu", "libglib",      "libsecret",
                                    "libgio",  "libssl", "pellow-net.so"};
#ifndef PELLOW_SANITIZED
  heavy.emplace_back("libstdc++");  // the helper carries its own C++ runtime
#endif
  std::vector<std::string> found;
  for (const std::string& name : heavy) {
    if (run.err.find(name) != std::string::npos) found.push_back(name);
  }
  return found;
}

TEST(StartupBudget, LightRunsLoadNoHeavyLibrary) {
  testkit::TemporaryFolder home;
  const EnvironmentChanges env{{"HOME", home.path()},
                               {"XDG_DATA_HOME", home / "data"},
                               {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
                               {"XDG_RUNTIME_DIR", home.path()},
                               {"LD_DEBUG", "files"}};
  // A stored, non-expiring credential in the file store: the common case of every fetch and push.
  EnvironmentChanges quiet = env;
  quiet.erase("LD_DEBUG");
  const HelperRun saved = runHelper(
      {}, R"({"operation":"save","credential":{"accessToken":"tok","accountID":7,"login":"octo"}})",
      quiet);
  ASSERT_EQ(saved.out, R"({"ok":{"id":7,"login":"octo","signedIn":true}})");

  struct Case {
    std::vector<std::string> arguments;
    std::string input;
    std::string out;
  };
  const Case cases[] = {
      {{}, R"({"operation":"status"})", R"({"ok":{"id":7,"login":"octo","signedIn":true}})"},
      {{}, R"({"operation":"nonsense"})", R"({"error":"Invalid GitHub operation."})"},
      {{"credential", "7", "get"},
       "protocol=https\nhost=github.com\npath=octo/notes.git\n",
       "username=x-access-token\npassword=tok\n\n"},
      {{"credential", "7", "store"}, "protocol=https\n", ""},
  };
  for (const auto& c : cases) {
    const HelperRun run = runHelper(c.arguments, c.input, env);
    EXPECT_EQ(run.out, c.out);
    ASSERT_NE(run.err.find("calling init"), std::string::npos) << "no loader trace";
    EXPECT_EQ(heavyLibrariesLoaded(run), std::vector<std::string>{}) << c.input;
  }
}

}  // namespace
}  // namespace pellow::testing
