#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Session/CurrentSession.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "suite-setup-helper/VeltraSuiteHelper.h"
#include "tests/suite/PlatformFakes.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using H = VeltraSuiteHelper;
using Args = std::vector<std::string>;

struct LookupCase {
  const char* name;
  Args args;
  const char* option;
  std::optional<std::string> expected;
};
void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.name; }

class OptionLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(OptionLookup, FindsTheValue) {
  EXPECT_EQ(H::value(GetParam().args, GetParam().option), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionLookup,
    testing::Values(
        LookupCase{"Absent", {"helper", "--app", "/a"}, "--registry", std::nullopt},
        LookupCase{"Last", {"helper", "--app", "/a", "--registry"}, "--registry", std::nullopt},
        LookupCase{
            "ValueBeginsWithDashes", {"helper", "--add", "--available"}, "--add", "--available"},
        LookupCase{"FirstOccurrenceWins", {"h", "--app", "/one", "--app", "/two"}, "--app", "/one"},
        LookupCase{"FirstIsLastButEarlierNone", {"h", "--app"}, "--app", std::nullopt},
        LookupCase{"ProgramPathCounts", {"--app", "/x"}, "--app", "/x"},
        LookupCase{"CaseSensitive", {"h", "--APP", "/x"}, "--app", std::nullopt},
        LookupCase{"WholeElementOnly", {"h", "--app=/x"}, "--app", std::nullopt}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(FlagLookup, AnyPositionCounts) {
  EXPECT_TRUE(H::isSet({"h", "--add", "--available"}, "--available"));
  EXPECT_TRUE(H::isSet({"--prompt"}, "--prompt"));
  EXPECT_FALSE(H::isSet({"h", "--prompt=1"}, "--prompt"));
}

class HelperRun : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  test::FakePlatform fake;
  fs::path apps = dir / "apps";
  fs::path registry = dir / "registry";

  void SetUp() override {
    fs::create_directory(registry);
    fs::permissions(registry, fs::perms::owner_all);
    fake.verifier.add(apps / "Pellow.app", "com.pemberhollo.pellow");
    fake.verifier.add(apps / "Sorel.app", "com.pemberhollo.sorel");
  }
  std::optional<std::string> run(Args extra) {
    Args args{"suite-setup-helper", "--app", (apps / "Pellow.app").string(), "--registry",
              registry.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return H::run(args, fake.platform);
  }
};

TEST_F(HelperRun, AnswerIsCompactWithEscapedSlashes) {
  const auto answer = run({"--available"});
  ASSERT_TRUE(answer);
  const std::string path = (apps / "Sorel.app").string();
  std::string escaped;
  for (const char c : path) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
  EXPECT_EQ(*answer,
            "{\"apps\":[{\"added\":false,\"bundleId\":\"com.pemberhollo.sorel\","
            "\"name\":\"Sorel\",\"path\":\"" +
                escaped + "\",\"running\":false}]}");
  EXPECT_EQ(fake.workspace.accessoryCalls, 1);
}

TEST_F(HelperRun, ForceAndPromptAreIgnoredWithAvailable) {
  fake.alerts.answers = {kAlertFirstButtonReturn};
  ASSERT_TRUE(run({"--available", "--force", "--prompt"}));
  EXPECT_TRUE(fake.alerts.shown.empty());
}

TEST_F(HelperRun, FailuresGiveNoAnswer) {
  EXPECT_FALSE(H::run({"suite-setup-helper"}, fake.platform));
  EXPECT_FALSE(run({"--add", "com.pemberhollo.kesta"}));
  EXPECT_FALSE(run({"--add", "--available"}));
  EXPECT_FALSE(run({"--launch-destination", "com.pemberhollo.pellow"}));
  fake.verifier.genuine.clear();
  fake.workspace.accessoryCalls = 0;
  EXPECT_FALSE(run({"--available"}));
  EXPECT_EQ(fake.workspace.accessoryCalls, 0) << "nothing happens before the caller is verified";
  EXPECT_FALSE(fs::exists(registry / ".suite-setup"));
}

// Inside a Flatpak sandbox no sibling can be checked or started and the shared registry is out
// of reach: the run fails like any other (no answer), before the registry is touched.
TEST_F(HelperRun, InsideAFlatpakSandboxEveryRunFailsWithoutTouchingTheRegistry) {
  pellow::Session sandboxed = pellow::Session::current();
  sandboxed.flatpak = true;
  sandboxed.flatpakAppID = "com.pemberhollo.Pellow";
  const pellow::Session saved = pellow::exchangeCurrentSession(sandboxed);
  const std::vector<Args> runs{{"--available"},
                               {},
                               {"--add", "com.pemberhollo.sorel"},
                               {"--launch-destination", "com.pemberhollo.sorel"}};
  for (const Args& extra : runs) EXPECT_EQ(run(extra), std::nullopt);
  pellow::exchangeCurrentSession(saved);
  EXPECT_TRUE(fs::is_empty(registry));
  EXPECT_TRUE(fake.workspace.opened.empty());
  EXPECT_EQ(fake.workspace.accessoryCalls, 0);
  EXPECT_TRUE(run({"--available"}));  // the same run outside a sandbox answers
}

TEST_F(HelperRun, InvalidUtf8IsRefusedByTheWriter) {
  const fs::path odd = dir / "odd\xff";
  fake.verifier.add(odd / "Pellow.app", "com.pemberhollo.pellow");
  fake.verifier.add(odd / "Sorel.app", "com.pemberhollo.sorel");
  EXPECT_FALSE(H::run(
      {"h", "--app", (odd / "Pellow.app").string(), "--registry", registry.string(), "--available"},
      fake.platform));
}

// Changes the working folder for one scope (the command layer makes relative paths absolute
// against it).
class WorkingFolder {
 public:
  explicit WorkingFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~WorkingFolder() { fs::current_path(previous_); }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  fs::path previous_;
};

// Sibling paths are printed absolute and lexically normal however "--app" and "--registry" are
// spelled; the shared registry is recognised through dot components too.
TEST_F(HelperRun, PrintedPathsAreNormalWhateverTheSpelling) {
  const fs::path shared = dir / "VeltraIntegration/registry/v1";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms::owner_all);
  fs::create_directory(apps);  // the working folder of the first case
  fake.verifier.add("/Applications/Sorel.app", "com.pemberhollo.sorel");
  const std::string d = dir.path().string();
  struct Case {
    const char* name;
    fs::path workingFolder;
    std::string app;
    std::string registry;
    std::string sorel;
  };
  const std::vector<Case> cases{
      {"RelativeApp", apps, "./Pellow.app", registry.string(), d + "/apps/Sorel.app"},
      {"DotsAndSlashes", "/", d + "/./apps//./Pellow.app/", registry.string(),
       d + "/apps/Sorel.app"},
      {"RelativeRegistryWithDots", dir.path(), "apps/Pellow.app", "./registry/.",
       d + "/apps/Sorel.app"},
      {"SharedRegistryWithDots", dir.path(), "./apps/Pellow.app",
       "VeltraIntegration/./registry//v1/.", "/Applications/Sorel.app"},
  };
  for (const Case& c : cases) {
    const WorkingFolder here(c.workingFolder);
    const auto answer =
        H::run({"suite-setup-helper", "--app", c.app, "--registry", c.registry, "--available"},
               fake.platform);
    const auto listed = nlohmann::json::parse(answer.value_or("{\"apps\":[]}")).at("apps");
    EXPECT_EQ(listed.size() == 1 ? listed[0].at("path") : listed, c.sorel) << c.name;
  }
}

}  // namespace
}  // namespace veltra
