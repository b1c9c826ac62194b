// The keyring backend against a real GNOME Keyring on a private session bus (keyring-session.sh),
// and the choice of backend. Each test starts its own bus and keyring, and ctest runs every test
// in a process of its own (GLib keeps one session connection per process).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/secret/SecretServiceKeychainBackend.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "Session/CurrentSession.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/github/HelperWithFakeGitHub.h"
#include "tests/support/keyring/KeyringSession.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kService(config::kKeychainService);
using testing::KeyringSession;

class SecretServiceKeychainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!KeyringSession::available()) {
      GTEST_SKIP() << "needs dbus-daemon, gnome-keyring and secret-tool (scripts/install-deps.sh)";
    }
    Session session = Session::current();
    session.dataHome = data_ / "data";
    saved_ = exchangeCurrentSession(std::move(session));
  }
  void TearDown() override {
    if (saved_) exchangeCurrentSession(std::move(*saved_));
  }
  std::optional<Session> saved_;

  static GitHubCredential signedIn(std::string token) {
    GitHubCredential c(std::move(token));
    c.accountID = 4242;
    c.login = "octocat";
    c.refreshToken = "ghr_r";
    c.expiresAt = Date{800000000.5};
    return c;
  }
  static std::shared_ptr<KeychainBackend> keyring() {
    std::shared_ptr<KeychainBackend> backend = SecretServiceKeychainBackend::connect();
    EXPECT_NE(backend, nullptr) << "no Secret Service on the private bus";
    return backend;
  }

  testkit::TemporaryFolder data_;
};

TEST_F(SecretServiceKeychainTest, StoreBehaviourHoldsOnTheRealKeyring) {
  KeyringSession session;
  ASSERT_TRUE(session.started());
  std::shared_ptr<KeychainBackend> backend = keyring();
  ASSERT_NE(backend, nullptr);
  GitHubKeychain keychain(kService, backend);

  EXPECT_EQ(keychain.load(), std::nullopt);
  keychain.save(signedIn("ghu_first"));
  EXPECT_EQ(session.itemCount(), 1);
  EXPECT_EQ(session.labels(), "label = Pellow GitHub sign-in\n");
  keychain.save(signedIn("ghu_second"));
  EXPECT_EQ(session.itemCount(), 1);
  EXPECT_EQ(keychain.load(), signedIn("ghu_second"));

  // Adding beside the existing item is refused, as a keychain refuses a duplicate.
  EXPECT_EQ(backend->add({kService, "github-app"}, "x", "label",
                         KeychainAccessibility::whenUnlockedThisDeviceOnly),
            KeychainStatus::ioError);
  EXPECT_EQ(session.itemCount(), 1);

  keychain.deleteItem();
  keychain.deleteItem();
  EXPECT_EQ(session.itemCount(), 0);
  EXPECT_EQ(keychain.load(), std::nullopt);
  EXPECT_FALSE(fs::exists(data_ / "data/PellowGitHub/Keychain"));
}

TEST_F(SecretServiceKeychainTest, KeepsEveryByteAndReadsItemsOtherToolsStored) {
  KeyringSession session;
  ASSERT_TRUE(session.started());
  std::shared_ptr<KeychainBackend> backend = keyring();
  ASSERT_NE(backend, nullptr);
  const KeychainItemKey key{"pellow.test.binary", "github-app"};
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  ASSERT_EQ(backend->add(key, binary, "label", KeychainAccessibility::whenUnlockedThisDeviceOnly),
            KeychainStatus::success);
  std::optional<std::string> data;
  ASSERT_EQ(backend->copyData(key, data), KeychainStatus::success);
  EXPECT_EQ(data, binary);

  // A bare token stored by hand with the keyring's own tool, under no schema of ours.
  ASSERT_EQ(testkit::run({"secret-tool", "store", "--label=hand", "service", kService, "account",
                          "github-app"},
                         {.input = "gho_bare"})
                .status,
            0);
  GitHubKeychain keychain(kService, backend);
  EXPECT_EQ(keychain.load(), GitHubCredential("gho_bare"));
  keychain.save(signedIn("ghu_replaces_bare"));
  EXPECT_EQ(session.itemCount(), 1);
  EXPECT_EQ(session.labels(), "label = hand\n");  // the label is set on add only
  EXPECT_EQ(keychain.load(), signedIn("ghu_replaces_bare"));
}

// A locked collection never prompts: every operation answers the Keychain message at once, in
// the library and through the helper, also where a display exists and a prompt would wait.
TEST_F(SecretServiceKeychainTest, LockedCollectionAnswersWithoutPromptOrWait) {
  for (const bool display : {false, true}) {
    SCOPED_TRACE(display ? "with a display" : "without a display");
    if (display && KeyringSession::shell("command -v Xvfb").status != 0) continue;
    KeyringSession session({.display = display});
    ASSERT_TRUE(session.started());
    {
      std::shared_ptr<KeychainBackend> first = keyring();
      ASSERT_NE(first, nullptr);
      GitHubKeychain(kService, first).save(signedIn("ghu_kept"));
    }
    session.lock();

    std::shared_ptr<KeychainBackend> backend = keyring();
    ASSERT_NE(backend, nullptr);
    GitHubKeychain keychain(kService, backend);
    Clock::time_point started = Clock::now();
    EXPECT_EQ(testing::messageOf([&] { keychain.load(); }), kKeychainMessage);
    EXPECT_EQ(testing::messageOf([&] { keychain.save(signedIn("ghu_new")); }), kKeychainMessage);
    EXPECT_EQ(testing::messageOf([&] { keychain.deleteItem(); }), kKeychainMessage);
    EXPECT_EQ(backend->add({"another.service", "github-app"}, "x", "label",
                           KeychainAccessibility::whenUnlockedThisDeviceOnly),
              KeychainStatus::interactionNotAllowed);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));

    const testing::EnvironmentChanges env = session.helperEnvironment();
    struct Run {
      std::vector<std::string> arguments;
      std::string input;
    };
    const Run runs[] = {
        {{}, R"({"operation":"status"})"},
        {{},
         R"({"operation":"save","credential":{"accessToken":"ghu_x","accountID":4242,"login":"octocat"}})"},
        {{"credential", "4242", "get"}, "protocol=https\nhost=github.com\npath=octo/notes.git\n"},
    };
    for (const Run& r : runs) {
      started = Clock::now();
      const testing::HelperRun run = testing::runHelper(r.arguments, r.input, env);
      EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << r.input;
      const std::string& answer = r.arguments.empty() ? run.out : run.err;
      EXPECT_NE(answer.find(kKeychainMessage), std::string::npos) << r.input << answer;
    }

    if (display) {
      // The control: a client that lets the keyring prompt does wait here.
      const auto control =
          testkit::run({"secret-tool", "lookup", "service", kService, "account", "github-app"}, {},
                       std::chrono::seconds(2));
      EXPECT_EQ(control.status, 128 + SIGTERM) << "a prompting lookup should have waited";
    }

    session.unlock();
    std::shared_ptr<KeychainBackend> unlocked = keyring();
    ASSERT_NE(unlocked, nullptr);
    EXPECT_EQ(GitHubKeychain(kService, unlocked).load(), signedIn("ghu_kept"));
    const testing::HelperRun status = testing::runHelper({}, R"({"operation":"status"})", env);
    EXPECT_EQ(status.out, R"({"ok":{"id":4242,"login":"octocat","signedIn":true}})");
    EXPECT_EQ(session.itemCount(), 1);
  }
}

TEST_F(SecretServiceKeychainTest, StuckServiceCostsAtMostTheBudget) {
  KeyringSession session;
  ASSERT_TRUE(session.started());
  const pid_t keyringPid = std::stoi(session.value("PELLOW_TEST_KEYRING_PID"));
  ASSERT_GT(keyringPid, 1);
  ASSERT_EQ(::kill(keyringPid, SIGSTOP), 0);
  const Clock::time_point started = Clock::now();
  // The service still owns its name, so it stays the store: no silent switch to the file store.
  std::shared_ptr<KeychainBackend> backend = SecretServiceKeychainBackend::connect();
  std::string error = "no backend";
  if (backend) error = testing::messageOf([&] { GitHubKeychain(kService, backend).load(); });
  const auto elapsed = Clock::now() - started;
  ::kill(keyringPid, SIGCONT);
  EXPECT_EQ(error, kKeychainMessage);
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST_F(SecretServiceKeychainTest, DefaultBackendFollowsTheSessionBus) {
  const fs::path itemFile =
      data_ / "data/PellowGitHub/Keychain/com.pemberhollo.pellow.github.v1+github-app.item";
  // The sessions of three processes: the keyring sessions below point the environment (which
  // the keyring module's D-Bus library reads) at their private buses.
  const auto saveWithDefault = [&](std::map<std::string, std::string> environment) {
    environment["XDG_DATA_HOME"] = data_ / "data";
    GitHubKeychain(kService, makeDefaultKeychainBackend(Session::fromEnvironment(environment)))
        .save(signedIn("ghu_default"));
  };
  const auto busOf = [](KeyringSession& keyring) {
    return std::map<std::string, std::string>{
        {"DBUS_SESSION_BUS_ADDRESS", keyring.value("DBUS_SESSION_BUS_ADDRESS")}};
  };
  saveWithDefault({{"XDG_RUNTIME_DIR", data_.path()}});  // no "bus" socket in it
  EXPECT_TRUE(fs::exists(itemFile)) << "no bus: the file store";
  fs::remove(itemFile);

  {
    KeyringSession busOnly({.busOnly = true});
    ASSERT_TRUE(busOnly.started());
    saveWithDefault(busOf(busOnly));
    EXPECT_TRUE(fs::exists(itemFile)) << "a bus without a Secret Service: the file store";
    fs::remove(itemFile);
    // The activatable keyring was not started by asking.
    EXPECT_EQ(
        KeyringSession::shell("gdbus call --session --dest org.freedesktop.DBus --object-path "
                              "/org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner "
                              "org.freedesktop.secrets")
            .out,
        "(false,)\n");
  }
  {
    KeyringSession session;
    ASSERT_TRUE(session.started());
    saveWithDefault(busOf(session));
    EXPECT_FALSE(fs::exists(itemFile)) << "a Secret Service: the keyring";
    EXPECT_EQ(session.itemCount(), 1);
  }
}

}  // namespace
}  // namespace pellow
