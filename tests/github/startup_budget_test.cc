// git starts the helper on every fetch and push: runs that need no network must not load
// libcurl, ICU, GLib or the shared C++ runtime. The dynamic loader's own trace shows what a run
// really loads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HelperProcess.h"

namespace pellow::testing {
namespace {

std::vector<std::string> heavyLibrariesLoaded(const HelperRun& run) {
  std::vector<std::string> found;
  for (const char* name : {"libcurl", "libicu", "libglib", "libsecret", "libgio", "libssl",
                           "pellow-net.so"}) {
    if (run.err.find(name) != std::string::npos) found.emplace_back(name);
  }
  return found;
}

TEST(StartupBudget, LightRunsLoadNoHeavyLibrary) {
  TemporaryDirectory home;
  const EnvironmentChanges env{{"HOME", home.path()},
                               {"XDG_DATA_HOME", home.path() + "/data"},
                               {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
                               {"LD_DEBUG", "files"}};
  struct Case {
    std::vector<std::string> arguments;
    std::string input;
  };
  const Case cases[] = {
      {{}, R"({"operation":"status"})"},
      {{}, R"({"operation":"nonsense"})"},
      {{"credential", "7", "get"}, "protocol=https\nhost=github.com\npath=octo/notes.git\n"},
      {{"credential", "7", "store"}, "protocol=https\n"},
  };
  for (const auto& c : cases) {
    const HelperRun run = runHelper(c.arguments, c.input, env);
    ASSERT_NE(run.err.find("calling init"), std::string::npos) << "no loader trace";
    EXPECT_EQ(heavyLibrariesLoaded(run), std::vector<std::string>{}) << c.input;
  }
}

#ifndef PELLOW_SANITIZED
TEST(StartupBudget, HelperCarriesItsOwnCxxRuntime) {
  TemporaryDirectory home;
  const HelperRun run = runHelper({}, R"({"operation":"status"})",
                                  {{"HOME", home.path()},
                                   {"XDG_DATA_HOME", home.path()},
                                   {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
                                   {"LD_DEBUG", "files"}});
  EXPECT_EQ(run.err.find("libstdc++"), std::string::npos);
}
#endif

}  // namespace
}  // namespace pellow::testing
