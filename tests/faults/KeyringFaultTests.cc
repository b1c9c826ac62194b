// A desktop keyring that goes away while the helper holds a connection to it: the next keychain
// calls must fail with the Keychain message within the Secret Service budget, and must not fall
// back to the file store behind the user's back.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/HelperProcess.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <typename Body>
std::string errorOf(Body body) {
  try {
    body();
  } catch (const PellowError& e) {
    return std::string(e.message());
  }
  return "";
}

TEST(KeyringFaults, KeyringThatDisappearsMidRunGivesTheKeychainMessage) {
  if (std::system("command -v gnome-keyring-daemon dbus-daemon >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs dbus-daemon and gnome-keyring (scripts/install-deps.sh)";
  }
  testing::TemporaryDirectory dir;
  const std::string session = PELLOW_KEYRING_SESSION " ";
  ASSERT_EQ(std::system((session + "start " + dir.path() + "/keyring").c_str()), 0);
  std::map<std::string, std::string> env;
  {
    std::ifstream in(dir.path() + "/keyring/env");
    for (std::string line; std::getline(in, line);) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) env[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", env["DBUS_SESSION_BUS_ADDRESS"].c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir.path() + "/data").c_str(), 1);

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
    const int keyring = std::stoi(env["PELLOW_TEST_KEYRING_PID"]);
    ASSERT_GT(keyring, 1);
    ASSERT_EQ(::kill(keyring, SIGKILL), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const Clock::time_point started = Clock::now();
    loadError = errorOf([&] { keychain.load(); });
    saveError = errorOf([&] { keychain.save(credential); });
    elapsed = Clock::now() - started;
  }
  std::system((session + "stop " + dir.path() + "/keyring").c_str());
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ::unsetenv("XDG_DATA_HOME");

  EXPECT_EQ(loadError, kKeychainMessage);
  EXPECT_EQ(saveError, kKeychainMessage);
  EXPECT_LT(elapsed, 2 * kSecretServiceBudget + std::chrono::seconds(2));
  EXPECT_FALSE(fs::exists(dir.path() + "/data/PellowGitHub/Keychain")) << "no silent file store";
}

}  // namespace
}  // namespace pellow
