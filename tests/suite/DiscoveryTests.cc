#include <gtest/gtest.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/PlatformFakes.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace S = VeltraSuiteSetup;
using namespace test::ids;
constexpr const char* kDunmar = "local.dunmar.native";

std::vector<std::string> ids(const std::vector<VeltraInstalledApp>& apps) {
  std::vector<std::string> result;
  for (const auto& app : apps) result.push_back(app.bundleId + "@" + app.path);
  return result;
}

class Discovery : public testing::Test {
 protected:
  test::FakePlatform fake;
  std::filesystem::path appURL = "/builds/one/MyPellow.app";
};

TEST_F(Discovery, OnlyTheCallingAppUnderItsOwnName) {
  fake.verifier.add(appURL, kPellow);
  EXPECT_EQ(ids(S::installed(kPellow, appURL, false, fake.platform)),
            (std::vector<std::string>{"com.pemberhollo.pellow@/builds/one/MyPellow.app"}));
}

TEST_F(Discovery, UnverifiedCallerIsAbsentOthersStay) {
  fake.verifier.add("/Applications/Sorel.app", kSorel);
  EXPECT_EQ(ids(S::installed(kPellow, appURL, false, fake.platform)),
            (std::vector<std::string>{"com.pemberhollo.sorel@/Applications/Sorel.app"}));
}

TEST_F(Discovery, IsolatedLooksOnlyBesideTheCaller) {
  fake.verifier.add(appURL, kPellow);
  fake.verifier.add("/builds/one/Sorel.app", kSorel);
  fake.verifier.add("/Applications/Kesta.app", kKesta);
  fake.workspace.registry[kDunmar] = "/home/u/Applications/Dunmar.app";
  fake.verifier.add("/home/u/Applications/Dunmar.app", kDunmar);
  EXPECT_EQ(ids(S::installed(kPellow, appURL, true, fake.platform)),
            (std::vector<std::string>{"com.pemberhollo.pellow@/builds/one/MyPellow.app",
                                      "com.pemberhollo.sorel@/builds/one/Sorel.app"}));
  for (const auto& [path, id] : fake.verifier.calls) {
    EXPECT_TRUE(path.starts_with("/builds/one/")) << path;
  }
  EXPECT_EQ(fake.verifier.calls.size(), 6u) << "one check per app in isolated mode";
}

TEST_F(Discovery, SharedPrefersTheApplicationsFolder) {
  fake.verifier.add(appURL, kPellow);
  fake.verifier.add("/Applications/Sorel.app", kSorel);
  fake.workspace.registry[kSorel] = "/home/u/Applications/Sorel.app";
  fake.verifier.add("/home/u/Applications/Sorel.app", kSorel);
  // Kesta: the applications-folder copy fails, the registry's copy is genuine.
  fake.workspace.registry[kKesta] = "/opt/Kesta.app";
  fake.verifier.add("/opt/Kesta.app", kKesta);
  // Dunmar: the registry names a copy that fails; nothing replaces it.
  fake.workspace.registry[kDunmar] = "/opt/Dunmar.app";
  EXPECT_EQ(ids(S::installed(kPellow, appURL, false, fake.platform)),
            (std::vector<std::string>{"com.pemberhollo.kesta@/opt/Kesta.app",
                                      "com.pemberhollo.pellow@/builds/one/MyPellow.app",
                                      "com.pemberhollo.sorel@/Applications/Sorel.app"}));
  EXPECT_LE(fake.verifier.calls.size(), 12u);
}

TEST_F(Discovery, OrderFollowsBundleIdsWithLocalLast) {
  for (const auto& [id, name] : S::names()) {
    fake.verifier.add("/Applications/" + name + ".app", id);
  }
  const auto apps = S::installed("com.example.none", appURL, false, fake.platform);
  ASSERT_EQ(apps.size(), 6u);
  EXPECT_EQ(apps.front().bundleId, kKesta);
  EXPECT_EQ(apps.back().bundleId, kDunmar);
  EXPECT_EQ(apps.back().name, "Dunmar");
}

TEST_F(Discovery, TrailingSlashOfTheCallerIsDropped) {
  fake.verifier.add("/builds/one/MyPellow.app/", kPellow);
  fake.verifier.add("/builds/one/Sorel.app", kSorel);
  const auto apps = S::installed(kPellow, "/builds/one/MyPellow.app/", true, fake.platform);
  EXPECT_EQ(ids(apps), (std::vector<std::string>{"com.pemberhollo.pellow@/builds/one/MyPellow.app",
                                                 "com.pemberhollo.sorel@/builds/one/Sorel.app"}));
}

TEST(InstalledSetKey, SortedAndJoined) {
  const std::vector<VeltraInstalledApp> apps{
      {kSorel, "Sorel", "/a"}, {kDunmar, "Dunmar", "/b"}, {kPellow, "Pellow", "/c"}};
  EXPECT_EQ(S::installedSetKey(apps),
            "com.pemberhollo.pellow|com.pemberhollo.sorel|local.dunmar.native");
}

struct SuffixCase {
  const char* registry;
  bool isolated;
};
void PrintTo(const SuffixCase& c, std::ostream* out) { *out << c.registry; }

class SharedRegistrySuffix : public testing::TestWithParam<SuffixCase> {};

TEST_P(SharedRegistrySuffix, DecidesTheMode) {
  EXPECT_EQ(isIsolated(GetParam().registry), GetParam().isolated) << GetParam().registry;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SharedRegistrySuffix,
    testing::Values(SuffixCase{"/home/u/Library/VeltraIntegration/registry/v1", false},
                    SuffixCase{"/home/u/Library/VeltraIntegration/registry/v1/", false},
                    SuffixCase{"/home/u/Library/VeltraIntegration/registry/v2", true},
                    SuffixCase{"/home/u/Library/VeltraIntegration/registry/v1/x", true},
                    SuffixCase{"/home/u/Library/veltraintegration/registry/v1", true},
                    SuffixCase{"/home/u/Library/MyVeltraIntegration/registry/v1", false},
                    SuffixCase{"/tmp/registry", true}));

}  // namespace
}  // namespace veltra

namespace veltra {
namespace {

TEST(InstalledAppJson, RoundTripsAndIsStrict) {
  const VeltraInstalledApp app{"com.pemberhollo.sorel", "Sorel", "/Applications/Sorel.app"};
  const auto back = VeltraInstalledApp::decoded(app.encoded());
  EXPECT_EQ(back.bundleId, app.bundleId);
  EXPECT_EQ(back.name, app.name);
  EXPECT_EQ(back.path, app.path);
  EXPECT_NO_THROW(VeltraInstalledApp::decoded(R"({"bundleId":"a","name":"b","path":"c","x":1})"));
  EXPECT_THROW(VeltraInstalledApp::decoded(R"({"bundleId":"a","name":"b"})"), DecodingError);
  EXPECT_THROW(VeltraInstalledApp::decoded(R"({"bundleId":"a","name":"b","path":null})"),
               DecodingError);
  EXPECT_THROW(VeltraInstalledApp::decoded(R"({"bundleId":"a","name":2,"path":"c"})"),
               DecodingError);
  EXPECT_THROW(VeltraInstalledApp::decoded("[]"), DecodingError);
}

}  // namespace
}  // namespace veltra
