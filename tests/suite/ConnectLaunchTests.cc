#include <gtest/gtest.h>

#include <stop_token>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/PlatformFakes.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

class ConnectLaunch : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path registry = dir.path();
  fs::path appURL = "/builds/Pellow.app";
  test::FakePlatform fake;

  void SetUp() override {
    fake.verifier.add(appURL, kPellow);
    fake.verifier.add("/builds/Sorel.app", kSorel);
  }
  void connect(const std::string& remote, bool isolated = true) {
    S::connectPair(kPellow, remote, appURL, registry, isolated, fake.platform);
  }
  void launch(const std::string& remote, bool isolated = true, std::stop_token stop = {}) {
    S::launchDestination(kPellow, remote, appURL, registry, isolated, fake.platform, stop);
  }
};

TEST_F(ConnectLaunch, ConnectRefusals) {
  EXPECT_EQ(test::cocoaCode([&] { connect(kKesta); }), 260) << "not installed";
  EXPECT_EQ(test::cocoaCode([&] { connect(kPellow); }), 257) << "an app with itself";
  EXPECT_EQ(test::cocoaCode([&] { connect("com.example.other"); }), 260);
  fake.verifier.genuine.erase({appURL.string(), kPellow});
  EXPECT_EQ(test::cocoaCode([&] { connect(kSorel); }), 260) << "caller not genuine";
  EXPECT_FALSE(fs::exists(registry / ".suite-setup")) << "no refusal touches the file";
}

TEST_F(ConnectLaunch, LaunchChecksComeBeforeReadingTheFile) {
  // A file that cannot be decoded proves that these refusals never read it.
  S::prepareStateFolder(registry);
  testkit::writeFile(registry / ".suite-setup/consent-v1.json", "{}", 0600);
  EXPECT_EQ(test::cocoaCode([&] { launch(kPellow); }), 257);
  EXPECT_EQ(test::cocoaCode([&] { launch("com.example.other"); }), 257);
  EXPECT_THROW(launch(kSorel), DecodingError);
  EXPECT_TRUE(fake.workspace.opened.empty());
}

TEST_F(ConnectLaunch, RemovedPairIsNeverLaunched) {
  S::update(registry, S::applySuiteAnswer(true, "", false));
  S::block(kPellow, kSorel, registry);
  EXPECT_EQ(test::cocoaCode([&] { launch(kSorel); }), 257);
  EXPECT_TRUE(fake.workspace.opened.empty());
}

TEST_F(ConnectLaunch, BlockedOnlyPairLaunchesOnceRemovedListExists) {
  S::update(registry, [](VeltraSuiteConsent& r) { r.blockedPairs = {S::pair(kPellow, kSorel)}; });
  EXPECT_EQ(test::cocoaCode([&] { launch(kSorel); }), 257)
      << "blockedPairs stands in for removedPairs";
  S::update(registry, [](VeltraSuiteConsent& r) { r.removedPairs = std::vector<std::string>{}; });
  launch(kSorel);
  ASSERT_EQ(fake.workspace.opened.size(), 1u);
}

TEST_F(ConnectLaunch, LaunchNeedsBothAppsInstalled) {
  EXPECT_EQ(test::cocoaCode([&] { launch(kKesta); }), 260);
  fake.verifier.genuine.erase({appURL.string(), kPellow});
  EXPECT_EQ(test::cocoaCode([&] { launch(kSorel); }), 260);
  EXPECT_TRUE(fake.workspace.opened.empty());
}

TEST_F(ConnectLaunch, IsolatedOpensTheSiblingAsANewInstance) {
  // A genuine copy runs, but from another folder.
  fake.verifier.add("/Applications/Sorel.app", kSorel);
  fake.workspace.running = {{std::string(kSorel), fs::path("/Applications/Sorel.app")},
                            {std::nullopt, std::nullopt}};
  launch(kSorel, true);
  ASSERT_EQ(fake.workspace.opened.size(), 1u);
  EXPECT_EQ(fake.workspace.opened[0].bundle, "/builds/Sorel.app");
  EXPECT_FALSE(fake.workspace.opened[0].configuration.activates);
  EXPECT_TRUE(fake.workspace.opened[0].configuration.createsNewApplicationInstance);
}

TEST_F(ConnectLaunch, RunningCopyMatching) {
  fake.verifier.add("/Applications/Sorel.app", kSorel);
  fake.workspace.registry[kSorel] = "/Applications/Sorel.app";
  struct Case {
    const char* name;
    std::vector<RunningApplication> running;
    bool isolated;
    bool opens;
  };
  const std::vector<Case> cases{
      {"SharedAnyGenuineCopy", {{kSorel, fs::path("/builds/Sorel.app")}}, false, false},
      {"SharedUnverifiedCopy", {{kSorel, fs::path("/tmp/Fake/Sorel.app")}}, false, true},
      {"SharedNoBundleURL", {{kSorel, std::nullopt}}, false, true},
      {"SharedOtherIdentifier", {{kKesta, fs::path("/builds/Sorel.app")}}, false, true},
      {"IsolatedSameFolderOtherSpelling",
       {{kSorel, fs::path("/builds/./x/../Sorel.app/")}},
       true,
       false},
      {"IsolatedOtherFolder", {{kSorel, fs::path("/Applications/Sorel.app")}}, true, true},
  };
  for (const Case& c : cases) {
    fake.workspace.running = c.running;
    fake.workspace.opened.clear();
    fake.verifier.add("/builds/./x/../Sorel.app/", kSorel);
    launch(kSorel, c.isolated);
    EXPECT_EQ(fake.workspace.opened.size(), c.opens ? 1u : 0u) << c.name;
    if (c.opens) {
      EXPECT_EQ(fake.workspace.opened[0].configuration.createsNewApplicationInstance, c.isolated);
    }
  }
}

TEST_F(ConnectLaunch, CancelledBeforeOpeningOpensNothing) {
  std::stop_source source;
  source.request_stop();
  try {
    launch(kSorel, true, source.get_token());
    FAIL() << "not cancelled";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::operation_canceled);
  }
  EXPECT_TRUE(fake.workspace.opened.empty());
}

TEST_F(ConnectLaunch, OpenErrorIsPassedOn) {
  fake.workspace.openError = std::make_error_code(std::errc::permission_denied);
  try {
    launch(kSorel);
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::permission_denied);
  }
}

}  // namespace
}  // namespace veltra
