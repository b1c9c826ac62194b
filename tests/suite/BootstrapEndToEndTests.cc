// A minimal suite application (bootstrap_app/), signed into a bundle, running the background
// reconcile: its cycles, its refusals, and the end of its process while a cycle is under way.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <sstream>
#include <string_view>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

class BootstrapApp : public testing::Test {
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
    sorel = test::makeBundle(apps, "Sorel", kSorel, VELTRA_BOOTSTRAP_APP_PATH);
    test::codesign(sorel, test::pki().suiteTeam);
    const fs::path pellow = test::makeBundle(apps, "Pellow", kPellow);
    test::codesign(pellow, test::pki().suiteTeam);
  }

  // Runs the app for `seconds` with a cycle of `cycleMs`; returns the log's lines by kind.
  std::vector<std::pair<std::string, long long>> runApp(const std::string& local, int cycleMs,
                                                        int seconds) {
    const auto run =
        testkit::run({sorel / "Contents/MacOS/Sorel"},
                     {.environment = {{"VELTRA_PROBE_LOCAL", local},
                                      {"VELTRA_PROBE_REGISTRY", registry},
                                      {"VELTRA_PROBE_LOG", log},
                                      {"VELTRA_PROBE_CYCLE_MS", std::to_string(cycleMs)},
                                      {"VELTRA_PROBE_SECONDS", std::to_string(seconds)}}});
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

TEST_F(BootstrapApp, ReconcilesOncePerCycleWhileAPairIsPermitted) {
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

TEST_F(BootstrapApp, NoCallWithoutPermittedPairOrGenuineBundleOrMatchingId) {
  EXPECT_TRUE(reconciles(runApp(kSorel, 100, 1)).empty()) << "nothing permitted";
  S::approvePair(kSorel, kPellow, registry);
  EXPECT_TRUE(reconciles(runApp("com.pemberhollo.kesta", 100, 1)).empty()) << "other bundle id";
  testkit::writeFile(sorel / "Contents/Resources/strings.txt", "changed");
  EXPECT_TRUE(reconciles(runApp(kSorel, 100, 1)).empty()) << "bundle fails verification";
  EXPECT_FALSE(fs::exists(registry / ".suite-setup/prompt.lock")) << "never an alert";
}

// An application that returns from main, or calls exit(), without stopping its bootstrap while
// the loop is inside a scan: exit tears down OpenSSL and the library's statics under the running
// signature checks. With a 1 ms cycle the loop is scanning nearly all the time; the process
// leaves at a random moment of it, again and again, and must end normally every time.
struct LeaveCase {
  const char* name;
  const char* how;
};
void PrintTo(const LeaveCase& c, std::ostream* out) { *out << c.name; }

class BootstrapExit : public BootstrapApp, public testing::WithParamInterface<LeaveCase> {};

TEST_P(BootstrapExit, NeverCrashesWhileACycleIsUnderWay) {
#if defined(__SANITIZE_ADDRESS__)
  // This toolchain's AddressSanitizer does not reset its allocator's locks in a forked child:
  // a child forked while the loop allocates hangs in its first free(), whatever the library does.
  if (std::string_view(GetParam().how) == "fork") {
    GTEST_SKIP() << "AddressSanitizer's allocator is not fork-safe";
  }
#endif
  S::approvePair(kSorel, kPellow, registry);
  constexpr int kRuns = 100;  // per case: three cases, 300 exits in all
  // Sanitizer builds start each process far more slowly: they run fewer times.
  const auto budget = std::chrono::seconds(20);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> leaveAfterUs(0, 30000);
  const auto began = std::chrono::steady_clock::now();
  int runs = 0;
  for (; runs < kRuns && std::chrono::steady_clock::now() - began < budget; ++runs) {
    const int after = leaveAfterUs(random);
    const testkit::EnvironmentChanges environment{{"VELTRA_PROBE_REGISTRY", registry},
                                                  {"VELTRA_PROBE_CYCLE_MS", "1"},
                                                  {"VELTRA_PROBE_LEAVE_US", std::to_string(after)},
                                                  {"VELTRA_PROBE_LEAVE_BY", GetParam().how}};
    const auto run = testkit::run({sorel / "Contents/MacOS/Sorel"}, {.environment = environment},
                                  std::chrono::seconds(20));
    ASSERT_EQ(run.status, 0) << "run " << runs << ", leaving " << after << " us after start"
                             << " (seed " << seed << "); 128 + n is signal n\n"
                             << run.err;
  }
  // A machine too slow for the whole series still has to show a meaningful number of exits.
  EXPECT_GE(runs, 30) << "only " << runs << " runs within " << budget.count() << " s";
}

INSTANTIATE_TEST_SUITE_P(Cases, BootstrapExit,
                         testing::Values(LeaveCase{"ReturnFromMain", "return"},
                                         LeaveCase{"ExitFromAnotherThread", "exit"},
                                         // A child forked mid-scan has no loop to wait for.
                                         LeaveCase{"ForkedChildExits", "fork"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltra
