// suite-setup-helper starts exactly what it checked: through links, against a second account that
// swaps bundles while it runs, and with the session's own working folder, umask and environment.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using namespace test::ids;

class CheckedLaunch : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path registry = dir / "registry";
  fs::path marker = dir / "launched.txt";

  void SetUp() override {
    if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
    fs::create_directories(registry);
    fs::permissions(registry, fs::perms::owner_all);
  }
  void TearDown() override { test::killProcessesRunningFrom(dir.path()); }

  // A bundle whose executable is the long-running test app.
  static fs::path install(const fs::path& folder, const std::string& name, const std::string& id) {
    const fs::path bundle = test::makeBundle(folder, name, id, VELTRA_TEST_APP_PATH);
    test::codesign(bundle, test::pki().suiteTeam);
    return bundle;
  }
  // A bundle whose executable appends `word` to the marker file and ends; signed unless told.
  fs::path installScript(const fs::path& folder, const std::string& name, const std::string& id,
                         const std::string& word, bool sign = true) {
    const fs::path bundle = test::makeBundle(folder, name, id);
    testkit::writeFile(bundle / "Contents/MacOS" / name,
                       "#!/bin/sh\necho " + word + " >> \"$VELTRA_TEST_MARKER\"\n", 0755);
    if (sign) test::codesign(bundle, test::pki().suiteTeam);
    return bundle;
  }
  testkit::ProcessResult helper(const fs::path& app, std::vector<std::string> extra) {
    std::vector<std::string> argv{VELTRA_HELPER_PATH, "--app", app.string(), "--registry",
                                  registry.string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return testkit::run(argv, {.environment = {{"HOME", (dir / "home").string()},
                                               {"VELTRA_TEST_MARKER", marker.string()},
                                               {"DISPLAY", std::nullopt},
                                               {"WAYLAND_DISPLAY", std::nullopt}}});
  }
  // The words the launched scripts wrote, once no more arrive.
  std::string launched() {
    std::string seen = testkit::readFile(marker);
    for (int quiet = 0; quiet < 10; ++quiet) {
      std::this_thread::sleep_for(20ms);
      const std::string now = testkit::readFile(marker);
      if (now != seen) quiet = 0;
      seen = now;
    }
    return seen;
  }
};

// "name path running" for each listed app.
std::vector<std::string> entries(const testkit::ProcessResult& result) {
  std::vector<std::string> lines;
  if (result.status != 0) return {"status " + std::to_string(result.status)};
  const Json answer = Json::parse(result.out);
  for (const Json& app : answer.at("apps")) {
    lines.push_back(app.at("name").get<std::string>() + " " + app.at("path").get<std::string>() +
                    (app.at("running").get<bool>() ? " running" : ""));
  }
  return lines;
}

TEST_F(CheckedLaunch, ThePathGivenIsTheOneCheckedListedAndStarted) {
  // good/ holds the genuine apps; good/link/.. is evil/ for the kernel but good/ for the text.
  const fs::path good = dir / "good";
  const fs::path evil = dir / "evil";
  install(good, "Pellow", kPellow);
  installScript(good, "Sorel", kSorel, "genuine");
  install(evil, "Pellow", kPellow);  // a copy of the genuine Pellow
  installScript(evil, "Sorel", kSorel, "fake", false);
  fs::create_directories(good / "plain");
  fs::create_directories(evil / "sub");
  fs::create_directory_symlink("../evil/sub", good / "link");
  fs::create_directory_symlink("good", dir / "linked");

  struct Case {
    const char* name;
    fs::path app;
    std::vector<std::string> listed;
    int launchStatus;
    const char* launched;
  };
  const std::vector<Case> cases{
      {"Plain", good / "Pellow.app", {"Sorel " + (good / "Sorel.app").string()}, 0, "genuine\n"},
      // Without a link, "." and ".." read as the text does: the path is shown lexically normal.
      {"DotDotWithoutLink",
       good / "plain/.././/Pellow.app",
       {"Sorel " + (good / "Sorel.app").string()},
       0,
       "genuine\n"},
      // Through a linked folder: the physical path.
      {"LinkedFolder",
       dir / "linked/Pellow.app",
       {"Sorel " + (good / "Sorel.app").string()},
       0,
       "genuine\n"},
      // evil/ is what the kernel reaches, so evil/ is what is checked: its Sorel is not genuine.
      {"DotDotAfterLink", good / "link/../Pellow.app", {}, 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(entries(helper(c.app, {"--available"})), c.listed) << c.name;
    fs::remove(marker);
    EXPECT_EQ(helper(c.app, {"--launch-destination", kSorel}).status, c.launchStatus) << c.name;
    EXPECT_EQ(launched(), c.launched) << c.name;
  }
}

TEST_F(CheckedLaunch, ASiblingReachedThroughALinkedFolderCountsAsRunning) {
  const fs::path real = dir / "real";
  install(real, "Pellow", kPellow);
  const fs::path sorel = install(real, "Sorel", kSorel);
  fs::create_directory_symlink("real", dir / "linked");
  const fs::path app = dir / "linked/Pellow.app";
  // Isolated mode: only the sibling counts, so it must be recognised through the link.
  ASSERT_EQ(helper(app, {"--launch-destination", kSorel}).status, 0);
  ASSERT_EQ(test::processesRunningFrom(sorel).size(), 1u);
  EXPECT_EQ(entries(helper(app, {"--available", "--launch-destination", kSorel})),
            (std::vector<std::string>{"Sorel " + sorel.string() + " running"}));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(test::processesRunningFrom(sorel).size(), 1u) << "no second copy";
}

TEST_F(CheckedLaunch, TheAppStartsInRootWithTheSessionsUmaskAndEnvironment) {
  install(dir / "apps", "Pellow", kPellow);
  install(dir / "apps", "Sorel", kSorel);
  fs::create_directory(dir / "apps/reports");
  const fs::path working = dir / "working";
  fs::create_directory(working);
  // The helper runs where, and with the umask, its caller chose.
  const auto result = testkit::run(
      {"/bin/sh", "-c", "umask 027 && cd \"$1\" && shift && exec \"$@\"", "sh", working.string(),
       VELTRA_HELPER_PATH, "--app", (dir / "apps/Pellow.app").string(), "--registry",
       registry.string(), "--launch-destination", kSorel},
      {.environment = {{"VELTRA_FROM_THE_SESSION", "yes"}, {"DISPLAY", std::nullopt}}});
  ASSERT_EQ(result.status, 0);
  const auto report = test::waitForLaunchReport(dir / "apps/reports");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->cwd, "/");
  EXPECT_EQ(report->umask, "0027");
  EXPECT_NE(std::find(report->environment.begin(), report->environment.end(),
                      "VELTRA_FROM_THE_SESSION=yes"),
            report->environment.end());
}

// Exchanges two entries of `folder` with renameat2(RENAME_EXCHANGE) until killed, as `user`.
pid_t startSwapping(const fs::path& folder, const std::string& a, const std::string& b,
                    std::optional<uid_t> user) {
  const std::string first = (folder / a).string();
  const std::string second = (folder / b).string();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (user && (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) {
    ::_exit(2);
  }
  while (true) {
    ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
    ::usleep(200);
  }
}

// How many of `runs` calls of `attempt` succeed while `a` and `b` of `folder` trade places.
int successesWhileSwapping(const fs::path& folder, const std::string& a, const std::string& b,
                           std::optional<uid_t> user, int runs,
                           const std::function<bool()>& attempt) {
  const pid_t swapper = startSwapping(folder, a, b, user);
  int succeeded = 0;
  for (int run = 0; run < runs; ++run) succeeded += attempt() ? 1 : 0;
  ::kill(swapper, SIGKILL);
  int status = 0;
  ::waitpid(swapper, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the swapper stopped early";
  return succeeded;
}

void giveAwayAll(const fs::path& path) {
  testkit::giveAway(path);
  for (const auto& entry : fs::recursive_directory_iterator(path)) testkit::giveAway(entry.path());
}

// A genuine Sorel and an unsigned bundle claiming to be Sorel trade places every 0.2 ms while
// the helper launches Sorel again and again. Whatever it finds at the moment of its check, it may
// only ever start the genuine one.
TEST_F(CheckedLaunch, SwappedBundlesNeverStartTheFake) {
  if (::geteuid() != 0) GTEST_SKIP() << "a second account needs root";
  constexpr uid_t kNobody = 65534;
  struct Case {
    const char* name;
    fs::perms folderMode;
    bool attackerIsAnotherUser;  // else the caller's own account swaps (no mode protects it)
    bool genuineLaunchesExpected;
  };
  const std::vector<Case> cases{
      {"AnotherUserInAWorldWritableFolder", fs::perms(0777), true, false},
      {"SameAccountInAPrivateFolder", fs::perms(0700), false, true},
  };
  // The second account must reach the folder.
  fs::permissions(dir.path(), fs::perms(0711));
  for (const Case& c : cases) {
    const fs::path apps = dir / c.name;
    install(apps, "Pellow", kPellow);
    installScript(apps, "Sorel", kSorel, "genuine");
    // Unsigned, and claiming to be Sorel.
    const fs::path fake = installScript(apps, "Fake", kSorel, "fake", false);
    if (c.attackerIsAnotherUser) giveAwayAll(fake);
    fs::permissions(apps, c.folderMode);
    fs::remove(marker);

    const int started = successesWhileSwapping(
        apps, "Sorel.app", "Fake.app",
        c.attackerIsAnotherUser ? std::optional(kNobody) : std::nullopt, 200, [&] {
          return helper(apps / "Pellow.app", {"--launch-destination", kSorel}).status == 0;
        });

    const std::string words = launched();
    EXPECT_EQ(words.find("fake"), std::string::npos) << c.name << ": " << words;
    const auto genuine = static_cast<int>(std::count(words.begin(), words.end(), '\n'));
    EXPECT_EQ(genuine, started) << c.name << ": every successful run started the genuine app";
    if (c.genuineLaunchesExpected) {
      EXPECT_GT(started, 0) << c.name;
    } else {
      EXPECT_EQ(started, 0) << c.name << ": a folder others can write holds nothing genuine";
    }
  }
}

// shared/ is writable by everyone and holds root's apps/ (0755) with the genuine apps. Another
// account keeps exchanging apps/ with a folder of its own, laid out alike, while the helper checks
// and launches Sorel. An app finds its own files by its path after it starts, and at that moment
// the path may lead into the other account's tree: nothing below shared/ may count as genuine.
TEST_F(CheckedLaunch, AnAncestorOthersCanSwapHoldsNothingGenuine) {
  if (::geteuid() != 0) GTEST_SKIP() << "a second account needs root";
  constexpr uid_t kNobody = 65534;
  fs::permissions(dir.path(), fs::perms(0711));
  const fs::path shared = dir / "shared";
  const fs::path apps = shared / "apps";
  install(apps, "Pellow", kPellow);
  install(apps, "Sorel", kSorel);  // reports, in <holder>/reports, where it found itself
  fs::create_directory(apps / "reports");
  const fs::path theirs = shared / "theirs";
  install(theirs, "Pellow", kPellow);
  installScript(theirs, "Sorel", kSorel, "fake", false);
  fs::create_directory(theirs / "reports");
  giveAwayAll(theirs);
  fs::permissions(apps, fs::perms(0755));
  fs::permissions(shared, fs::perms(0777));

  // Refused before the other account does anything: what shared/ allows decides, not luck.
  EXPECT_EQ(helper(apps / "Pellow.app", {"--launch-destination", kSorel}).status, 1);
  const int started = successesWhileSwapping(shared, "apps", "theirs", kNobody, 150, [&] {
    return helper(apps / "Pellow.app", {"--launch-destination", kSorel}).status == 0;
  });

  EXPECT_EQ(started, 0) << "a folder that others can write lies above the bundle";
  EXPECT_EQ(launched(), "");
  EXPECT_EQ(test::processesRunningFrom(shared).size(), 0u);
  EXPECT_TRUE(fs::is_empty(apps / "reports") && fs::is_empty(theirs / "reports"));
}

TEST_F(CheckedLaunch, AGenuineCopyOwnedByAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  const fs::path apps = dir / "apps";
  install(apps, "Pellow", kPellow);
  // A faithful copy of the genuine Sorel, but its owner could change it at any time.
  giveAwayAll(installScript(apps, "Sorel", kSorel, "genuine"));
  fs::permissions(apps, fs::perms(0755));
  EXPECT_EQ(entries(helper(apps / "Pellow.app", {"--available"})), std::vector<std::string>{});
  EXPECT_EQ(helper(apps / "Pellow.app", {"--launch-destination", kSorel}).status, 1);
  EXPECT_EQ(launched(), "");
}

}  // namespace
}  // namespace veltra
