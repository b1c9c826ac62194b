// A desktop keyring that goes away while the helper holds a connection to it: the next keychain
// calls must fail with the Keychain message within the Secret Service budget, and must not fall
// back to the file store behind the user's back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/keyring/KeyringSession.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TEST(KeyringFaults, KeyringThatDisappearsMidRunGivesTheKeychainMessage) {
  if (!testing::KeyringSession::available()) {
    GTEST_SKIP() << "needs dbus-daemon, gnome-keyring and secret-tool (scripts/install-deps.sh)";
  }
  testkit::TemporaryFolder dir;
  std::optional<testing::KeyringSession> session(std::in_place);
  ASSERT_TRUE(session->started());
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);

  std::string loadError;
  std::string saveError;
  Clock::duration elapsed{};
  {
    std::shared_ptr<KeychainBackend> backend = SecretServiceKeychainBackend::connect();
    ASSERT_NE(backend, nullptr);
    GitHubKeychain keychain(std::string(config::kKeychainService), backend);
    GitHubCredential credential("ghu_kept");
    credential.accountID = 42;
    credential.login = "octocat";
    keychain.save(credential);
    ASSERT_EQ(keychain.load(), credential);

    // The daemon dies; the bus and this process's connection to it stay.
    const int keyring = std::stoi(session->value("PELLOW_TEST_KEYRING_PID"));
    ASSERT_GT(keyring, 1);
    ASSERT_EQ(::kill(keyring, SIGKILL), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const Clock::time_point started = Clock::now();
    loadError = testing::messageOf([&] { keychain.load(); });
    saveError = testing::messageOf([&] { keychain.save(credential); });
    elapsed = Clock::now() - started;
  }
  session.reset();
  ::unsetenv("XDG_DATA_HOME");

  EXPECT_EQ(loadError, kKeychainMessage);
  EXPECT_EQ(saveError, kKeychainMessage);
  EXPECT_LT(elapsed, 2 * kSecretServiceBudget + std::chrono::seconds(2));
  EXPECT_FALSE(fs::exists(dir / "data/PellowGitHub/Keychain")) << "no silent file store";
}

}  // namespace
}  // namespace pellow
