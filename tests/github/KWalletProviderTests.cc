// github-helper against KDE's KWallet (kwalletd5) in a private session bus, its wallet opened as
// a KDE login opens it (kwallet-session.sh). kwalletd is started once for the whole program and
// the tests run in order, each leaving the wallet as the next one expects: the lane costs one
// start, a few restarts and one wait for the wallet file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PellowGitHub/PellowError.h"
#include "tests/github/HelperWithFakeGitHub.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/keyring/ProviderRequests.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using testing::kDisconnect;
using testing::kGitGet;
using testing::kGitRequest;
using testing::kKeychainError;
using testing::kSignedIn;
using testing::kSignedOut;
using testing::kStatus;
using testing::save;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The store's budget: a run that met a prompt would spend all of it before giving up.
constexpr auto kBudget = 3s;

// One run of the helper: JSON mode without arguments (`answer` the whole answer), else git
// credential mode (`answer` the password; "" = fails with the Keychain line).
struct Row {
  const char* name;
  std::vector<std::string> arguments;
  std::string input;
  std::string answer;
};

class KWalletSession {
 public:
  static bool available() {
    return testkit::run({"/bin/sh", "-c", "command -v dbus-daemon gdbus python3 kwalletd5"})
               .status == 0;
  }
  KWalletSession() { started_ = script("start") == 0; }
  ~KWalletSession() { script("stop"); }
  KWalletSession(const KWalletSession&) = delete;
  KWalletSession& operator=(const KWalletSession&) = delete;

  bool started() const { return started_; }
  int script(const char* action) const {
    return testkit::run({PELLOW_KWALLET_SESSION, action, folder_.path()}).status;
  }
  std::string value(const std::string& name) const {
    std::ifstream in(folder_ / "env");
    std::string found;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(name + "=", 0) == 0) found = line.substr(name.size() + 1);
    }
    return found;
  }
  bool walletOpen() const {
    return testkit::run(
               {"gdbus", "call", "--session", "--dest", "org.kde.kwalletd5", "--object-path",
                "/modules/kwalletd5", "--method", "org.kde.KWallet.isOpen", "kdewallet"},
               {.environment = {{"DBUS_SESSION_BUS_ADDRESS", value("DBUS_SESSION_BUS_ADDRESS")}}})
               .out == "(true,)\n";
  }
  testkit::EnvironmentChanges helperEnvironment() const {
    return {{"DBUS_SESSION_BUS_ADDRESS", value("DBUS_SESSION_BUS_ADDRESS")},
            {"XDG_RUNTIME_DIR", (folder_ / "run").string()},
            {"XDG_DATA_HOME", (folder_ / "helper-data").string()},
            {"HOME", (folder_ / "helper-home").string()},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"DISPLAY", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt}};
  }
  fs::path helperData() const { return folder_ / "helper-data"; }

 private:
  testkit::TemporaryFolder folder_;
  bool started_ = false;
};

// The wallet file's modification time and size, "" while there is none.
std::string fileStamp(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return "";
  return std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec) +
         "/" + std::to_string(status.st_size);
}

class KWalletProviderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!KWalletSession::available()) return;
    session_ = std::make_unique<KWalletSession>();
  }
  static void TearDownTestSuite() { session_.reset(); }

  void SetUp() override {
    if (!KWalletSession::available()) {
      GTEST_SKIP() << "needs kwalletd5 (libkf5wallet-bin), dbus-daemon, gdbus and python3 "
                      "(scripts/install-deps.sh)";
    }
    ASSERT_TRUE(session_ && session_->started()) << "kwalletd did not open the wallet";
  }

  // Runs the rows in order, each within `limit`.
  static void runRows(const std::vector<Row>& rows, Clock::duration limit = 2 * kBudget) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      const Clock::time_point started = Clock::now();
      const testing::HelperRun run =
          testing::runHelper(row.arguments, row.input, session_->helperEnvironment());
      EXPECT_LT(Clock::now() - started, limit);
      if (row.arguments.empty()) {
        EXPECT_EQ(run.out, row.answer) << run.err;
      } else if (row.answer.empty()) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "Pellow GitHub: " + std::string(kKeychainMessage) + "\n");
      } else {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("\npassword=" + row.answer + "\n"), std::string::npos) << run.out;
      }
    }
    // Whatever the wallet answered, nothing was written beside it.
    EXPECT_FALSE(fs::exists(session_->helperData() / "PellowGitHub/Keychain"))
        << "a silent file store";
  }

  static std::string walletStamp() { return fileStamp(session_->value("PELLOW_TEST_WALLET_FILE")); }
  // Waits (generously: the machine may be loaded) until kwalletd rewrote the wallet file since
  // it looked like `before`.
  static bool waitForWrite(const std::string& before) {
    const Clock::time_point start = Clock::now();
    while (walletStamp() == before && Clock::now() - start < 60s) {
      std::this_thread::sleep_for(100ms);
    }
    return walletStamp() != before;
  }

  static std::unique_ptr<KWalletSession> session_;
};

std::unique_ptr<KWalletSession> KWalletProviderTest::session_;

// A new wallet has no "default" alias until kwalletd's first restart: there is no collection to
// save into, and the credential must not go to the file store instead.
TEST_F(KWalletProviderTest, BeforeTheFirstRestartNothingIsSavedAnywhere) {
  runRows({
      {"save", {}, save("ghu_nowhere"), kKeychainError},
      {"status", {}, kStatus, kKeychainError},
  });
}

// After a restart (the user's next login) the collection reports Locked while the wallet is
// open: the helper unlocks it, which shows nothing, and works as on any other desktop.
TEST_F(KWalletProviderTest, OpenWalletWithLockedCollectionWorks) {
  ASSERT_EQ(session_->script("restart"), 0);
  ASSERT_TRUE(session_->walletOpen());
  runRows({
      {"status, nothing stored", {}, kStatus, kSignedOut},
      {"save", {}, save("ghu_first"), kSignedIn},
      {"status", {}, kStatus, kSignedIn},
      {"git get", kGitGet, kGitRequest, "ghu_first"},
      {"replace", {}, save("ghu_second"), kSignedIn},
      {"git get, replaced", kGitGet, kGitRequest, "ghu_second"},
  });
}

// kwalletd writes the wallet file a few seconds after a change; once written, a restart (which
// locks the collection again) keeps the credential.
TEST_F(KWalletProviderTest, CredentialSurvivesARestartOnceWritten) {
  const std::string before = walletStamp();
  const Clock::time_point saved = Clock::now();
  runRows({{"save", {}, save("ghu_kept"), kSignedIn}});
  ASSERT_TRUE(waitForWrite(before)) << "the wallet file did not change within 60 s";
  std::cout << "[ KWALLET  ] write reached the wallet file after "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - saved).count()
            << " ms\n";
  ASSERT_EQ(session_->script("restart"), 0);
  runRows({
      {"status after restart", {}, kStatus, kSignedIn},
      {"git get after restart", kGitGet, kGitRequest, "ghu_kept"},
  });
}

// A closed wallet would ask for its password: nothing is unlocked or shown, every operation gives
// the Keychain message well within the budget (a dialog would hold the run for all of it), and
// the wallet stays closed.
TEST_F(KWalletProviderTest, ClosedWalletAnswersAtOnceAndStaysClosed) {
  ASSERT_EQ(session_->script("close"), 0);
  ASSERT_FALSE(session_->walletOpen());
  runRows(
      {
          {"status", {}, kStatus, kKeychainError},
          {"git get", kGitGet, kGitRequest, ""},
          {"save", {}, save("ghu_closed"), kKeychainError},
          {"disconnect", {}, kDisconnect, kKeychainError},
      },
      kBudget);
  EXPECT_FALSE(session_->walletOpen());
  // The trace says why, so that a KDE user's report shows the closed wallet.
  testkit::EnvironmentChanges traced = session_->helperEnvironment();
  traced["PELLOW_TRACE"] = "1";
  const testing::HelperRun run = testing::runHelper({}, kStatus, traced);
  EXPECT_NE(run.err.find("store: keyring: kwallet: the wallet is closed\n"), std::string::npos)
      << run.err;
  // Reopened as at login: the credential was kept through all of it.
  ASSERT_EQ(session_->script("restart"), 0);
  runRows({{"status, reopened", {}, kStatus, kSignedIn}});
}

// kwalletd ended before it wrote the wallet file leaves a new item with an empty secret. That is
// no credential and no sign-out either: the Keychain message, until a save replaces it.
TEST_F(KWalletProviderTest, EmptySecretIsUnreadableNotSignedOut) {
  const std::string before = walletStamp();
  runRows({{"disconnect", {}, kDisconnect, kSignedOut}});
  ASSERT_TRUE(waitForWrite(before)) << "the wallet file did not change within 60 s";
  runRows({{"save, never written", {}, save("ghu_lost"), kSignedIn}});
  ASSERT_EQ(session_->script("kill"), 0);
  ASSERT_EQ(session_->script("restart"), 0);
  // kwalletd writes about 5 s after a change; on a loaded machine it may have written the item
  // whole before it was killed, and then there is no empty secret to read.
  if (testing::runHelper({}, kStatus, session_->helperEnvironment()).out == kSignedIn) {
    runRows({{"disconnect", {}, kDisconnect, kSignedOut}});
    GTEST_SKIP() << "kwalletd wrote the item before it was killed: no empty secret this time";
  }
  runRows({
      {"status", {}, kStatus, kKeychainError},
      {"git get", kGitGet, kGitRequest, ""},
      {"save replaces it", {}, save("ghu_fresh"), kSignedIn},
      {"git get, fresh", kGitGet, kGitRequest, "ghu_fresh"},
      {"disconnect", {}, kDisconnect, kSignedOut},
      {"status after disconnect", {}, kStatus, kSignedOut},
  });
}

}  // namespace
}  // namespace pellow
