// The example suite app, examples/sorel, as a user meets it: built against the installed SDK
// (sdk-check.sh), signed into a bundle with the installed veltra-codesign, started by the
// installed suite-setup-helper (--launch-destination) on a private desktop, seen listing its
// connection after its first reconcile, and quit with its Quit button.
//
// The bundles live in a folder of this test, private to the user who runs it.

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/suite/SuiteTestSupport.h"
#include "tests/support/desktop/AccessibleTree.h"
#include "tests/support/desktop/DesktopSession.h"
#include "tests/support/desktop/X11WindowReader.h"

namespace veltra::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const fs::path kPrefix = VELTRA_SDK_PREFIX;

class SorelExample : public testing::Test {
 protected:
  static void SetUpTestSuite() { ProgramDesktop::start(); }
  static void TearDownTestSuite() { ProgramDesktop::stop(); }

  void SetUp() override {
    if (!haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
    fs::permissions(folder_.path(), fs::perms::owner_all);
    // The suite apps of this user, and the registry folder all of them share.
    fs::create_directories(apps_);
    // Every folder above a bundle must be unwritable by others, whatever the umask made it.
    fs::permissions(home_, fs::perms::owner_all);
    fs::copy(fs::path(VELTRA_SOREL_BUILD_DIR) / "Sorel.app", apps_ / "Sorel.app",
             fs::copy_options::recursive);
    sign(apps_ / "Sorel.app");
    pellow_ = makeBundle(apps_, "Pellow", ids::kPellow);
    sign(pellow_);
    fs::create_directories(registry_);
    for (fs::path folder = registry_; folder != home_; folder = folder.parent_path()) {
      fs::permissions(folder, fs::perms::owner_all);
    }
  }

  void TearDown() override { killProcessesRunningFrom(apps_); }

  // With the installed veltra-codesign, checked against the anchor the helper trusts.
  static void sign(const fs::path& bundle) {
    const Signer& team = pki().suiteTeam;
    const auto run = testkit::run({(kPrefix / "bin/veltra-codesign").string(), "--key", team.key,
                                   "--cert", team.cert, "--chain", team.chain, "--anchor",
                                   VELTRA_TEST_ANCHOR_CERT, bundle.string()});
    ASSERT_EQ(run.status, 0) << run.err;
  }

  testkit::EnvironmentChanges environment() const {
    testkit::EnvironmentChanges env = ProgramDesktop::session().environment();
    env["HOME"] = home_.string();
    return env;
  }

  // The installed suite-setup-helper, as Pellow runs it.
  testkit::ProcessResult helper(std::vector<std::string> options) const {
    std::vector<std::string> argv{(kPrefix / "libexec/pellow/suite-setup-helper").string(), "--app",
                                  pellow_.string(), "--registry", registry_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    return testkit::run(argv, {.environment = environment(), .cleanEnvironment = true}, 30s);
  }

  testkit::ProcessResult xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), VELTRA_TEST_XDOTOOL);
    return testkit::run(args, {.environment = environment(), .cleanEnvironment = true}, 10s);
  }

  // Sorel's window once it shows; 0 when it does not within `limit`.
  unsigned long waitForWindow(std::chrono::seconds limit) const {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      const auto found = xdotool({"search", "--onlyvisible", "--name", "^Sorel"});
      if (found.status == 0 && !found.out.empty()) return std::stoul(found.out);
      std::this_thread::sleep_for(100ms);
    }
    return 0;
  }

  // Sorel's widgets once a label starts with `text`; empty when none does within `limit`.
  static std::vector<AccessibleWidget> waitForLabel(const std::string& text,
                                                    std::chrono::seconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      auto widgets = accessibleWidgets("Sorel", 1, 5s);
      for (const auto& widget : widgets) {
        if (widget.role == "label" && widget.name.starts_with(text)) return widgets;
      }
      std::this_thread::sleep_for(200ms);
    }
    return {};
  }

  testkit::TemporaryFolder folder_;
  fs::path home_ = folder_ / "home";
  fs::path apps_ = home_ / "Applications";
  fs::path registry_ = home_ / ".local/share/VeltraIntegration/registry/v1";
  fs::path pellow_;
};

TEST_F(SorelExample, LaunchedByTheSuiteListsItsConnectionAndQuits) {
  // Pellow connects itself with Sorel and starts it in the background.
  const auto launched = helper({"--add", ids::kSorel, "--launch-destination", ids::kSorel});
  ASSERT_EQ(launched.status, 0) << launched.err;
  const auto answer = nlohmann::json::parse(launched.out);
  ASSERT_EQ(answer["apps"].size(), 1u) << launched.out;
  EXPECT_EQ(answer["apps"][0]["bundleId"], ids::kSorel);
  EXPECT_EQ(answer["apps"][0]["added"], true);
  EXPECT_EQ(answer["apps"][0]["running"], true);

  const unsigned long window = waitForWindow(30s);
  ASSERT_NE(window, 0u) << "no Sorel window";
  EXPECT_EQ(processesRunningFrom(apps_ / "Sorel.app").size(), 1u);

  // The first cycle runs at once: its reconcile lists Pellow, which is not running.
  const auto widgets = waitForLabel("Connected to 1 app", 30s);
  ASSERT_FALSE(widgets.empty()) << "no reconcile within 30 s";
  std::vector<std::string> labels;
  const AccessibleWidget* quit = nullptr;
  for (const auto& widget : widgets) {
    if (widget.role == "label") labels.push_back(widget.name);
    if (widget.role == "push button" && widget.name == "Quit") quit = &widget;
  }
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Pellow"), labels.end());
  EXPECT_NE(std::find(labels.begin(), labels.end(), "not running"), labels.end());
  EXPECT_EQ(xdotool({"getwindowname", std::to_string(window)}).out,
            "Sorel — connected to Pellow\n");
  fs::create_directories(VELTRA_SDK_ARTIFACT_DIR);
  X11WindowReader().savePng(window, fs::path(VELTRA_SDK_ARTIFACT_DIR) / "sorel-example.png");

  ASSERT_NE(quit, nullptr) << "no Quit button";
  EXPECT_EQ(xdotool({"mousemove", "--sync", std::to_string(quit->x + quit->width / 2),
                     std::to_string(quit->y + quit->height / 2), "click", "1"})
                .status,
            0);
  const auto end = Clock::now() + 10s;
  while (!processesRunningFrom(apps_).empty() && Clock::now() < end) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(processesRunningFrom(apps_).empty()) << "Sorel did not quit";
}

}  // namespace
}  // namespace veltra::test
