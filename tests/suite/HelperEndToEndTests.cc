// suite-setup-helper end to end: the real program on bundles signed by veltra-codesign, in
// temporary folders, with HOME pointed at a test home for the application registry.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace S = VeltraSuiteSetup;
using Json = nlohmann::json;
using namespace test::ids;
constexpr const char* kPrompt = "Choose [1]: ";

class HelperEndToEnd : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path home = dir / "home";
  fs::path apps = dir / "apps";
  fs::path registry = dir / "registry";
  fs::path shared = dir / "Library/VeltraIntegration/registry/v1";
  fs::path pellow;

  void SetUp() override {
    if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
    for (const fs::path& folder : {home, apps, registry, shared}) {
      fs::create_directories(folder);
      fs::permissions(folder, fs::perms::owner_all);
    }
    pellow = install(apps, "Pellow", kPellow);
  }
  void TearDown() override { test::killProcessesRunningFrom(dir.path()); }

  fs::path install(const fs::path& folder, const std::string& name, const std::string& id,
                   const test::Signer* signer = nullptr) {
    const fs::path bundle = test::makeBundle(folder, name, id, VELTRA_TEST_APP_PATH);
    test::codesign(bundle, signer ? *signer : test::pki().suiteTeam);
    return bundle;
  }
  std::vector<std::string> args(std::vector<std::string> extra, const fs::path& reg) const {
    std::vector<std::string> all{"--app", pellow.string(), "--registry", reg.string()};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  }
  testkit::ProcessResult run(std::vector<std::string> extra, const fs::path& reg) {
    return test::runHelper(args(std::move(extra), reg), home);
  }
  testkit::ProcessResult run(std::vector<std::string> extra) {
    return run(std::move(extra), registry);
  }

  // The apps of a successful answer as "Name added running" lines.
  static std::vector<std::string> listed(const testkit::ProcessResult& result) {
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::vector<std::string> lines;
    const Json answer = Json::parse(result.out);
    EXPECT_EQ(answer.size(), 1u);
    for (const Json& app : answer.at("apps")) {
      EXPECT_EQ(app.size(), 5u);
      lines.push_back(app.at("name").get<std::string>() +
                      (app.at("added").get<bool>() ? " added" : "") +
                      (app.at("running").get<bool>() ? " running" : ""));
    }
    return lines;
  }
  static void expectFailure(const testkit::ProcessResult& result) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
  std::string consentBytes(const fs::path& reg) const {
    return fs::exists(reg / ".suite-setup/consent-v1.json")
               ? testkit::readFile(reg / ".suite-setup/consent-v1.json")
               : std::string("<none>");
  }
  // Starts a copy of a bundle's executable as its own process and waits until it shows.
  void startRunning(const fs::path& bundle) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string exe = (bundle / "Contents/MacOS" / bundle.stem()).string();
      ::setsid();
      if (::fork() == 0) {
        ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
      }
      ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    for (int i = 0; i < 500 && test::processesRunningFrom(bundle).empty(); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(test::processesRunningFrom(bundle).empty());
  }
};

TEST_F(HelperEndToEnd, CommandLineFailures) {
  expectFailure(test::runHelper({}, home));
  expectFailure(test::runHelper({"--app", pellow.string(), "--add", kSorel, "--registry"}, home));
  expectFailure(test::runHelper({"--registry", registry.string(), "--available"}, home));
  EXPECT_FALSE(fs::exists(registry / ".suite-setup"));
}

// Every failure is status 1 without a word; PELLOW_TRACE says why.
TEST_F(HelperEndToEnd, TheTraceSaysWhyARunFailed) {
  const fs::path open = dir / "open-registry";
  fs::create_directories(open);
  fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const fs::path unsigned_ = test::makeBundle(dir / "unsigned", "Pellow", kPellow);
  install(apps, "Sorel", kSorel);
  const struct {
    std::vector<std::string> args;
    std::string says;
  } rows[] = {
      {{"--app", pellow.string(), "--registry", (dir / "missing").string(), "--add", kSorel},
       (dir / "missing").string() + ": cannot be examined: No such file or directory"},
      {{"--app", pellow.string(), "--registry", open.string(), "--add", kSorel},
       open.string() + ": not a private folder (0700, the user's own)"},
      {{"--app", unsigned_.string(), "--registry", registry.string(), "--bogus"},
       "ignored: --bogus"},
      {{"--app", unsigned_.string(), "--registry", registry.string()},
       "is not a genuine " + std::string(kPellow)},
      {{"--app", pellow.string()}, "--app and --registry, each with a value, are required"},
  };
  int n = 0;
  for (const auto& row : rows) {
    const fs::path trace = dir / ("trace-" + std::to_string(n++) + ".log");
    std::vector<std::string> argv{VELTRA_HELPER_PATH};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    const testkit::ProcessResult result =
        testkit::run(argv, {.environment = {{"HOME", home},
                                            {"PELLOW_TRACE", trace.string()},
                                            {"DISPLAY", std::nullopt},
                                            {"WAYLAND_DISPLAY", std::nullopt}}});
    EXPECT_EQ(result.status, 1) << row.says;
    EXPECT_EQ(result.out + result.err, "") << row.says;
    const std::string written = testkit::readFile(trace);
    EXPECT_NE(written.find(row.says), std::string::npos) << row.says << "\n" << written;
  }
}

TEST_F(HelperEndToEnd, CallerMustBeAGenuinePellow) {
  install(apps, "Sorel", kSorel);
  const fs::path unsigned_ = test::makeBundle(dir / "unsigned", "Pellow", kPellow);
  const fs::path foreign = dir / "foreign";
  install(foreign, "Pellow", kPellow, &test::pki().otherTeam);
  const fs::path asSorel = dir / "as-sorel";
  install(asSorel, "Pellow", kSorel);
  for (const fs::path& app : {unsigned_, foreign / "Pellow.app", asSorel / "Pellow.app"}) {
    expectFailure(test::runHelper(
        {"--app", app.string(), "--registry", registry.string(), "--add", kSorel, "--prompt"},
        home));
  }
  EXPECT_FALSE(fs::exists(registry / ".suite-setup")) << "nothing touched";
}

TEST_F(HelperEndToEnd, AvailableAloneIsAnEmptyList) {
  const auto result = run({"--available"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "{\"apps\":[]}");
  EXPECT_EQ(result.err, "");
}

TEST_F(HelperEndToEnd, AddConnectsAnInstalledApp) {
  install(apps, "Sorel", kSorel);
  install(apps, "Kesta", kKesta);
  const auto result = run({"--add", kSorel});
  EXPECT_EQ(listed(result), (std::vector<std::string>{"Sorel added"}));
  EXPECT_EQ(result.out.find('\n'), std::string::npos);
  EXPECT_NE(result.out.find(":\"\\/tmp\\/"), std::string::npos) << result.out;
  EXPECT_EQ(listed(run({"--available"})), (std::vector<std::string>{"Kesta", "Sorel added"}));
}

TEST_F(HelperEndToEnd, AddOfAMissingAppChangesNothing) {
  install(apps, "Sorel", kSorel);
  ASSERT_EQ(run({"--add", kSorel}).status, 0);
  const std::string before = consentBytes(registry);
  expectFailure(run({"--add", kKesta}));
  expectFailure(run({"--add", "--available"}));
  EXPECT_EQ(consentBytes(registry), before);
}

TEST_F(HelperEndToEnd, SharedRegistrySuffixDecidesWhereAppsAreFound) {
  // Sorel is installed only in the user's applications folder, which only shared mode consults.
  install(home / "Applications", "Sorel", kSorel);
  const fs::path base = dir / "Library/VeltraIntegration/registry";
  const fs::path v2 = base / "v2";
  const fs::path deeper = shared / "x";
  for (const fs::path& folder : {v2, deeper}) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
  }
  EXPECT_EQ(listed(run({"--available"}, shared)), (std::vector<std::string>{"Sorel"}));
  EXPECT_EQ(listed(run({"--available"}, shared.string() + "/")),
            (std::vector<std::string>{"Sorel"}));
  EXPECT_TRUE(listed(run({"--available"}, v2)).empty());
  EXPECT_TRUE(listed(run({"--available"}, deeper)).empty());
  EXPECT_TRUE(listed(run({"--available"}, registry)).empty());
}

TEST_F(HelperEndToEnd, RunningCountsPerMode) {
  const fs::path elsewhere = install(home / "Applications", "Sorel", kSorel);
  install(apps, "Sorel", kSorel);
  startRunning(elsewhere);
  EXPECT_EQ(listed(run({"--available"}, shared)), (std::vector<std::string>{"Sorel running"}));
  EXPECT_EQ(listed(run({"--available"}, registry)), (std::vector<std::string>{"Sorel"}))
      << "isolated: the copy from elsewhere does not count";
}

TEST_F(HelperEndToEnd, LaunchDestinationStartsTheSibling) {
  const fs::path sorel = install(apps, "Sorel", kSorel);
  install(home / "Applications", "Sorel", kSorel);
  startRunning(home / "Applications/Sorel.app");
  const auto result = run({"--available", "--launch-destination", kSorel});
  EXPECT_EQ(result.status, 0);
  for (int i = 0; i < 500 && test::processesRunningFrom(sorel).empty(); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(test::processesRunningFrom(sorel).size(), 1u);
  // The flags are taken after the launch, which returns once the new process runs the app.
  EXPECT_EQ(listed(result), (std::vector<std::string>{"Sorel running"}));
}

TEST_F(HelperEndToEnd, LaunchDestinationLeavesARunningCopyAlone) {
  const fs::path sorel = install(home / "Applications", "Sorel", kSorel);
  startRunning(sorel);
  ASSERT_EQ(run({"--launch-destination", kSorel}, shared).status, 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(test::processesRunningFrom(dir.path()).size(), 1u);
}

TEST_F(HelperEndToEnd, LaunchDestinationRefusesARemovedPair) {
  const fs::path sorel = install(apps, "Sorel", kSorel);
  ASSERT_EQ(run({"--add", kSorel}).status, 0);
  S::block(kPellow, kSorel, registry);
  expectFailure(run({"--launch-destination", kSorel}));
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(test::processesRunningFrom(sorel).empty());
}

TEST_F(HelperEndToEnd, AlertOnTheTerminalAcceptAndDecline) {
  install(apps, "Sorel", kSorel);
  install(apps, "Kesta", kKesta);
  S::update(registry, S::applySuiteAnswer(false, "some|other|set", false));
  {
    auto helper = test::startHelper(args({"--prompt"}, registry), home, true);
    ASSERT_TRUE(helper.waitForTerminal(kPrompt)) << helper.terminalOutput();
    const std::string& shown = helper.terminalOutput();
    const auto message = shown.find("Connect your Veltra apps automatically?");
    const auto informative =
        shown.find("We've detected other Veltra apps are installed: Kesta, Sorel.");
    const auto closing = shown.find("You can disconnect any app in Connections.");
    const auto first = shown.find("1) Connect Veltra Apps (default)");
    const auto second = shown.find("2) Keep Separate");
    ASSERT_NE(message, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_TRUE(message < informative && informative < closing && closing < first && first < second)
        << shown;
    helper.type("\n");
    EXPECT_EQ(listed(helper.finish()), (std::vector<std::string>{"Kesta added", "Sorel added"}));
  }
  VeltraSuiteConsent record = S::read(registry);
  EXPECT_TRUE(record.enabled);
  EXPECT_FALSE(record.declinedSet);

  // Forced and declined: the suite goes off and this set is remembered.
  auto forced = test::startHelper(args({"--force"}, registry), home, true);
  ASSERT_TRUE(forced.waitForTerminal(kPrompt));
  forced.type("2\n");
  EXPECT_TRUE(listed(forced.finish()).empty());
  record = S::read(registry);
  EXPECT_FALSE(record.enabled);
  EXPECT_EQ(record.declinedSet,
            "com.pemberhollo.kesta|com.pemberhollo.pellow|com.pemberhollo.sorel");
}

TEST_F(HelperEndToEnd, DeclineHoldsUntilAnotherAppIsInstalled) {
  install(apps, "Sorel", kSorel);
  auto first = test::startHelper(args({"--prompt"}, registry), home, true);
  ASSERT_TRUE(first.waitForTerminal(kPrompt));
  first.type("2\n");
  EXPECT_TRUE(listed(first.finish()).empty());
  EXPECT_EQ(S::read(registry).declinedSet, "com.pemberhollo.pellow|com.pemberhollo.sorel");

  auto again = test::startHelper(args({"--prompt"}, registry), home, true);
  EXPECT_TRUE(listed(again.finish()).empty());
  EXPECT_EQ(again.terminalOutput(), "") << "not asked again for the same apps";

  install(apps, "Kesta", kKesta);
  auto third = test::startHelper(args({"--prompt"}, registry), home, true);
  EXPECT_TRUE(third.waitForTerminal(kPrompt)) << "one more app: asked again";
  third.type("\n");
  EXPECT_EQ(listed(third.finish()), (std::vector<std::string>{"Kesta added", "Sorel added"}));
}

TEST_F(HelperEndToEnd, ForcedAcceptanceEmptiesBlockedPairs) {
  install(apps, "Sorel", kSorel);
  ASSERT_EQ(run({"--add", kSorel}).status, 0);
  ASSERT_EQ(S::read(registry).blockedPairs.size(), 14u);
  auto helper = test::startHelper(args({"--force"}, registry), home, true);
  ASSERT_TRUE(helper.waitForTerminal(kPrompt));
  helper.type("1\n");
  EXPECT_EQ(listed(helper.finish()), (std::vector<std::string>{"Sorel added"}));
  EXPECT_TRUE(S::read(registry).blockedPairs.empty());
}

TEST_F(HelperEndToEnd, OnlyOneAlertAtATime) {
  install(apps, "Sorel", kSorel);
  auto one = test::startHelper(args({"--prompt"}, registry), home, true);
  auto two = test::startHelper(args({"--prompt"}, registry), home, true);
  // Whichever takes "prompt.lock" first shows the alert; the other answers at once.
  testkit::ChildProcess* asking = nullptr;
  for (int i = 0; i < 200 && asking == nullptr; ++i) {
    if (one.waitForTerminal(kPrompt, 25ms)) asking = &one;
    if (two.waitForTerminal(kPrompt, 25ms)) asking = asking ? nullptr : &two;
  }
  ASSERT_NE(asking, nullptr) << "exactly one alert";
  testkit::ChildProcess* other = asking == &one ? &two : &one;
  const auto otherResult = other->finish(5s);
  EXPECT_EQ(otherResult.status, 0);
  EXPECT_EQ(otherResult.out, "{\"apps\":[]}");
  EXPECT_EQ(other->terminalOutput(), "");
  asking->type("\n");
  EXPECT_EQ(listed(asking->finish()), (std::vector<std::string>{"Sorel added"}));

  auto third = test::startHelper(args({"--prompt"}, registry), home, true);
  EXPECT_EQ(listed(third.finish()), (std::vector<std::string>{"Sorel added"}));
  EXPECT_EQ(third.terminalOutput(), "");
}

TEST_F(HelperEndToEnd, PromptLockSymlinkFailsWithoutAlert) {
  install(apps, "Sorel", kSorel);
  S::prepareStateFolder(registry);
  testkit::writeFile(dir / "elsewhere.lock", "", 0600);
  fs::create_symlink(dir / "elsewhere.lock", registry / ".suite-setup/prompt.lock");
  auto helper = test::startHelper(args({"--prompt"}, registry), home, true);
  expectFailure(helper.finish());
  EXPECT_EQ(helper.terminalOutput(), "");
}

TEST_F(HelperEndToEnd, NoTerminalAndNoDisplayRecordsNoAnswer) {
  install(apps, "Sorel", kSorel);
  expectFailure(run({"--prompt"}));
  const VeltraSuiteConsent record = S::read(registry);
  EXPECT_FALSE(record.declinedSet);
  EXPECT_FALSE(record.enabled);
  const int fd = ::open((registry / ".suite-setup/prompt.lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "prompt.lock released";
  ::close(fd);
  // Without --prompt the same run lists what the record permits.
  EXPECT_TRUE(listed(run({})).empty());
}

}  // namespace
}  // namespace veltra
