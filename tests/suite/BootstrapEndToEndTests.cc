// The example suite application, signed into a bundle, running the background reconcile.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

class ExampleApp : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path apps = dir / "apps";
  fs::path registry = dir / "registry";
  fs::path log = dir / "example.log";
  fs::path sorel;

  void SetUp() override {
    if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
    fs::create_directories(registry);
    fs::permissions(registry, fs::perms::owner_all);
    sorel = test::makeBundle(apps, "Sorel", kSorel, VELTRA_EXAMPLE_APP_PATH);
    test::codesign(sorel, test::pki().suiteTeam);
    const fs::path pellow = test::makeBundle(apps, "Pellow", kPellow);
    test::codesign(pellow, test::pki().suiteTeam);
  }

  // Runs the app for `seconds` with a cycle of `cycleMs`; returns the log's lines by kind.
  std::vector<std::pair<std::string, long long>> runApp(const std::string& local, int cycleMs,
                                                        int seconds) {
    const auto run =
        testkit::run({sorel / "Contents/MacOS/Sorel"},
                     {.environment = {{"VELTRA_EXAMPLE_LOCAL", local},
                                      {"VELTRA_EXAMPLE_REGISTRY", registry},
                                      {"VELTRA_EXAMPLE_LOG", log},
                                      {"VELTRA_EXAMPLE_CYCLE_MS", std::to_string(cycleMs)},
                                      {"VELTRA_EXAMPLE_SECONDS", std::to_string(seconds)}}});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::pair<std::string, long long>> lines;
    std::istringstream text(testkit::readFile(log));
    std::string kind;
    long long at = 0;
    while (text >> kind >> at) lines.emplace_back(kind, at);
    return lines;
  }
  static std::vector<long long> reconciles(
      const std::vector<std::pair<std::string, long long>>& lines) {
    std::vector<long long> times;
    for (const auto& [kind, at] : lines) {
      if (kind == "reconcile") times.push_back(at);
    }
    return times;
  }
};

TEST_F(ExampleApp, ReconcilesOncePerCycleWhileAPairIsPermitted) {
  S::approvePair(kSorel, kPellow, registry);
  const auto lines = runApp(kSorel, 300, 2);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front().first, "start");
  EXPECT_EQ(lines.back().first, "stop");
  const auto times = reconciles(lines);
  ASSERT_GE(times.size(), 3u);
  EXPECT_LE(times.size(), 8u);
  EXPECT_LT(times.front() - lines.front().second, 1000) << "first call right after start";
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 290);
}

TEST_F(ExampleApp, NoCallWithoutPermittedPairOrGenuineBundleOrMatchingId) {
  EXPECT_TRUE(reconciles(runApp(kSorel, 100, 1)).empty()) << "nothing permitted";
  S::approvePair(kSorel, kPellow, registry);
  EXPECT_TRUE(reconciles(runApp("com.pemberhollo.kesta", 100, 1)).empty()) << "other bundle id";
  testkit::writeFile(sorel / "Contents/Resources/strings.txt", "changed");
  EXPECT_TRUE(reconciles(runApp(kSorel, 100, 1)).empty()) << "bundle fails verification";
  EXPECT_FALSE(fs::exists(registry / ".suite-setup/prompt.lock")) << "never an alert";
}

}  // namespace
}  // namespace veltra
