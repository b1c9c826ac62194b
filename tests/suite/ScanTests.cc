#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/PlatformFakes.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;
constexpr int kAccept = kAlertFirstButtonReturn;
constexpr int kDecline = kAlertFirstButtonReturn + 1;

class Scan : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path registry = dir.path();
  fs::path appURL = "/builds/Pellow.app";
  test::FakePlatform fake;

  void SetUp() override {
    install(kPellow);
    install(kSorel);
  }
  void install(const std::string& id) {
    const std::string name = test::appName(id);
    fake.verifier.add(id == kPellow ? appURL : fs::path("/builds") / (name + ".app"), id);
  }
  std::vector<std::string> scan(bool force, bool canPrompt) {
    std::vector<std::string> names;
    for (const auto& app :
         S::scan(kPellow, appURL, registry,
                 {.isolated = true, .force = force, .canPrompt = canPrompt}, fake.platform)) {
      names.push_back(app.name);
    }
    return names;
  }
  bool promptLockFree() {
    const int fd = ::open((registry / ".suite-setup/prompt.lock").c_str(), O_RDWR);
    if (fd < 0) return true;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }
};

TEST_F(Scan, NothingToConnectMeansNoQuestion) {
  fake.verifier.genuine.clear();
  install(kPellow);
  EXPECT_TRUE(scan(true, true).empty()) << "only the local app";
  fake.verifier.genuine.clear();
  install(kSorel);
  EXPECT_TRUE(scan(true, true).empty()) << "the local app is not genuine";
  EXPECT_TRUE(fake.alerts.shown.empty());
  EXPECT_FALSE(fs::exists(registry / ".suite-setup"));
}

TEST_F(Scan, WithoutPromptListsWhatTheRecordPermits) {
  fake.alerts.answers = {kAccept};
  EXPECT_TRUE(scan(false, false).empty());
  S::approvePair(kPellow, kSorel, registry);
  EXPECT_EQ(scan(false, false), (std::vector<std::string>{"Sorel"}));
  EXPECT_TRUE(fake.alerts.shown.empty());
}

TEST_F(Scan, AlertTextsAndAcceptance) {
  install(kKesta);
  install(kMure);
  install("local.dunmar.native");
  fake.alerts.answers = {kAccept};
  // Mure needs a pair approval of its own, so it stays out of the list.
  EXPECT_EQ(scan(false, true), (std::vector<std::string>{"Kesta", "Sorel", "Dunmar"}));
  ASSERT_EQ(fake.alerts.shown.size(), 1u);
  const AlertContent& alert = fake.alerts.shown.front();
  EXPECT_EQ(alert.messageText, "Connect your Veltra apps automatically?");
  EXPECT_EQ(alert.informativeText,
            "We've detected other Veltra apps are installed: Kesta, Mure, Sorel, Dunmar.\n\n"
            "Grant access between Veltra apps to your connected mail accounts, calendars, and "
            "current notes folder, including search, reviewed drafts, and AI use through Sorel's "
            "configured provider.\n\nWe'll also connect verified Veltra apps you install later. "
            "Sending mail and saving changes still happen in the owning app. You can disconnect "
            "any app in Connections.");
  EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Connect Veltra Apps", "Keep Separate"}));
  const VeltraSuiteConsent record = S::read(registry);
  EXPECT_TRUE(record.enabled);
  EXPECT_FALSE(record.declinedSet);
  EXPECT_TRUE(record.approvedAt);
  EXPECT_TRUE(promptLockFree());
}

TEST_F(Scan, ForcedAlertAfterAcceptanceClearsBlockedPairs) {
  fake.alerts.answers = {kAccept, kAccept};
  scan(false, true);
  S::block(kPellow, kSorel, registry);
  EXPECT_TRUE(scan(false, true).empty());
  EXPECT_EQ(fake.alerts.shown.size(), 1u) << "accepted: not asked again";
  EXPECT_EQ(scan(true, false), (std::vector<std::string>{"Sorel"}));
  EXPECT_EQ(fake.alerts.shown.size(), 2u);
  EXPECT_TRUE(S::read(registry).blockedPairs.empty());
}

TEST_F(Scan, BusyPromptLockAnswersEmptyAtOnce) {
  S::prepareStateFolder(registry);
  const int held = ::open((registry / ".suite-setup/prompt.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  fake.alerts.answers = {kAccept};
  EXPECT_TRUE(scan(false, true).empty());
  EXPECT_TRUE(fake.alerts.shown.empty());
  EXPECT_FALSE(S::read(registry).declinedSet);
  ::close(held);
}

TEST_F(Scan, PromptLockSymlinkIs513) {
  S::prepareStateFolder(registry);
  testkit::writeFile(dir / "target", "", 0600);
  fs::create_symlink(dir / "target", registry / ".suite-setup/prompt.lock");
  fake.alerts.answers = {kAccept};
  EXPECT_EQ(test::cocoaCode([&] { scan(false, true); }), 513);
  EXPECT_TRUE(fake.alerts.shown.empty());
}

TEST_F(Scan, UnreadableConsentFileFailsBeforeAnyAlert) {
  S::prepareStateFolder(registry);
  testkit::writeFile(registry / ".suite-setup/consent-v1.json", "{}", 0600);
  fake.alerts.answers = {kAccept};
  EXPECT_THROW(scan(false, true), DecodingError);
  EXPECT_TRUE(fake.alerts.shown.empty());
}

}  // namespace
}  // namespace veltra
