#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/AuthorizationWire.h"
#include "PellowGitHub/store/CredentialLock.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "ScopedApplicationSupport.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/FakeKeychainBackend.h"
#include "tests/support/FakeTransport.h"

namespace pellow {
namespace {

using testing::FakeKeychainBackend;
using testing::FakeTransport;

const std::string kService(config::kKeychainService);
const std::string kSignIn =
    "Sign in to the GitHub account connected to this notes folder in Settings \u2192 Git sync. "
    "Your notes remain saved locally.";
const std::string kRenewal =
    R"({"access_token":"ghu_new","token_type":"bearer","expires_in":28800,)"
    R"("refresh_token":"ghr_new","refresh_token_expires_in":15811200})";

GitHubCredential stored(std::optional<double> expiresIn, std::optional<std::int64_t> account = 7) {
  GitHubCredential c("ghu_old");
  c.refreshToken = "ghr_old";
  if (expiresIn) c.expiresAt = systemClock().now() + *expiresIn;
  c.refreshExpiresAt = systemClock().now() + 86400;
  c.clientID = "Tk5wNq0rZb8xLm3cPa7e";
  c.accountID = account;
  c.login = "octocat";
  return c;
}

class CredentialAccessTest : public ::testing::Test {
 protected:
  CredentialAccessTest()
      : transport_(std::make_shared<FakeTransport>()),
        backend_(std::make_shared<FakeKeychainBackend>()),
        desktop_{transport_, GitHubKeychain(kService, backend_)} {}

  void store(const GitHubCredential& c) { backend_->put(kService, c.encoded()); }
  std::string storedData() const {
    const auto* item = backend_->find(kService);
    return item == nullptr ? "<none>" : item->data;
  }
  std::string messageOf(std::optional<std::int64_t> account) {
    return testing::messageOf([&] { desktop_.credential(account); });
  }

  testing::ScopedApplicationSupport support_;
  std::shared_ptr<FakeTransport> transport_;
  std::shared_ptr<FakeKeychainBackend> backend_;
  GitHubDesktop desktop_;
};

TEST_F(CredentialAccessTest, ChecksTheAccount) {
  EXPECT_EQ(messageOf(7), kSignIn);
  EXPECT_EQ(messageOf(std::nullopt), kSignIn);

  const GitHubCredential mine = stored(std::nullopt);
  store(mine);
  EXPECT_EQ(desktop_.credential(7), mine);
  EXPECT_EQ(desktop_.credential(std::nullopt), mine);
  EXPECT_EQ(messageOf(8), kSignIn);

  // A bare token has no account: it serves only callers that take any account.
  backend_->put(kService, "ghp_plain");
  EXPECT_EQ(messageOf(7), kSignIn);
  EXPECT_EQ(desktop_.credential(std::nullopt), GitHubCredential("ghp_plain"));
  EXPECT_TRUE(transport_->requests().empty());
}

TEST_F(CredentialAccessTest, RenewsOnlyWhatExpiresWithinAMinute) {
  const GitHubCredential lasting = stored(120);
  store(lasting);
  EXPECT_EQ(desktop_.credential(7), lasting);
  const GitHubCredential forever = stored(std::nullopt);
  store(forever);
  EXPECT_EQ(desktop_.credential(7), forever);
  EXPECT_TRUE(transport_->requests().empty());

  store(stored(30));
  transport_->respond(200, kRenewal);
  const Date before = systemClock().now();
  const GitHubCredential renewed = desktop_.credential(7);
  EXPECT_EQ(renewed.accessToken, "ghu_new");
  EXPECT_EQ(renewed.refreshToken, "ghr_new");
  EXPECT_EQ(renewed.accountID, 7);
  EXPECT_EQ(renewed.login, "octocat");
  EXPECT_EQ(renewed.clientID, "Tk5wNq0rZb8xLm3cPa7e");
  ASSERT_TRUE(renewed.expiresAt);
  EXPECT_GE(*renewed.expiresAt - before, 28800);
  EXPECT_LT(*renewed.expiresAt - before, 28800 + 60);
  EXPECT_EQ(GitHubCredential::decodeKeychain(storedData()), renewed);
  ASSERT_EQ(transport_->requests().size(), 1u);
  EXPECT_EQ(transport_->requests()[0].body,
            "client_id=Tk5wNq0rZb8xLm3cPa7e&grant_type=refresh_token&refresh_token=ghr_old");
}

TEST_F(CredentialAccessTest, FailuresLeaveTheStoredCredentialAndFreeTheLock) {
  const GitHubCredential expiring = stored(30);
  store(expiring);
  const std::string before = storedData();

  transport_->respond(200, R"({"error":"bad_refresh_token"})");
  EXPECT_EQ(messageOf(7), authorization_messages::kRevoked);
  transport_->respond(200, "not json");
  EXPECT_THROW(desktop_.credential(7), DecodingError);
  transport_->fail(std::string(kUnreachableMessage));
  EXPECT_EQ(messageOf(7), kUnreachableMessage);
  EXPECT_EQ(storedData(), before);

  // The renewed credential cannot be stored: it is not handed out either.
  backend_->failing[FakeKeychainBackend::Operation::update] = KeychainStatus::ioError;
  transport_->respond(200, kRenewal);
  EXPECT_EQ(messageOf(7), kKeychainMessage);
  EXPECT_EQ(storedData(), before);
  EXPECT_EQ(backend_->operations(),
            (std::vector<std::string>{"copyData", "copyData", "copyData", "copyData", "update"}));

  // Not one of the failures above kept the lock.
  const auto start = std::chrono::steady_clock::now();
  withCredentialLock([] {});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST_F(CredentialAccessTest, HoldsTheLockAroundTheWholeSequence) {
  store(stored(std::nullopt));
  std::filesystem::create_directories(support_.lockFolder());
  ::chmod(support_.lockFolder().c_str(), 0750);
  EXPECT_EQ(messageOf(7), describeFailure(GitHubFailure::lockNotPrivate));
  EXPECT_TRUE(backend_->calls.empty());  // the keychain is read only under the lock
}

// Several processes that find the same expiring credential at once renew it exactly once: the
// others wait for the lock and then load the renewed credential. Each process has its own
// scripted transport and reports how many requests it made; the store is the real file store.
TEST_F(CredentialAccessTest, ConcurrentProcessesRenewOnce) {
  const GitHubKeychain files(kService, std::make_shared<FileKeychainBackend>());
  files.save(stored(30));
  constexpr int kProcesses = 6;
  std::vector<pid_t> children;
  int results[2];
  ASSERT_EQ(::pipe(results), 0);
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(results[0]);
      auto transport = std::make_shared<FakeTransport>();
      transport->respond(200, kRenewal);
      GitHubDesktop desktop{transport, files};
      std::string line;
      try {
        line = desktop.credential(7).accessToken;
      } catch (const std::exception& e) {
        line = e.what();
      }
      line += " " + std::to_string(transport->requests().size()) + "\n";
      (void)::write(results[1], line.data(), line.size());
      ::_exit(0);
    }
    children.push_back(pid);
  }
  ::close(results[1]);
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
  std::string output;
  char buffer[512];
  for (ssize_t n; (n = ::read(results[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(results[0]);

  int renewals = 0;
  int answers = 0;
  std::istringstream lines(output);
  for (std::string token, count; lines >> token >> count; ++answers) {
    EXPECT_EQ(token, "ghu_new");
    renewals += std::stoi(count);
  }
  EXPECT_EQ(answers, kProcesses) << output;
  EXPECT_EQ(renewals, 1) << output;
  EXPECT_EQ(files.load()->accessToken, "ghu_new");
}

}  // namespace
}  // namespace pellow
