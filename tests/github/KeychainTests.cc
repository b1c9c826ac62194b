#include "PellowGitHub/GitHubKeychain.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/FakeKeychainBackend.h"

namespace pellow {
namespace {

using testing::FakeKeychainBackend;
using Operation = FakeKeychainBackend::Operation;

const std::string kService(config::kKeychainService);

GitHubCredential signedIn(std::string token = "ghu_1") {
  GitHubCredential c(std::move(token));
  c.accountID = 77;
  c.login = "octocat";
  c.expiresAt = Date{790000000.0};
  return c;
}

class GitHubKeychainTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeKeychainBackend> backend = std::make_shared<FakeKeychainBackend>();
  GitHubKeychain keychain{kService, backend};
};

TEST_F(GitHubKeychainTest, LoadReadsTheOneItemOfTheService) {
  EXPECT_EQ(keychain.load(), std::nullopt);

  backend->put("another.service", R"({"accessToken":"other"})");
  EXPECT_EQ(keychain.load(), std::nullopt);

  backend->put(kService, "bare-token");
  EXPECT_EQ(keychain.load(), GitHubCredential("bare-token"));

  backend->put(kService, signedIn().encoded());
  EXPECT_EQ(keychain.load(), signedIn());
  ASSERT_FALSE(backend->calls.empty());
  EXPECT_EQ(backend->calls.back().key.account, "github-app");
  EXPECT_EQ(backend->calls.back().key.service, kService);

  backend->put(kService, R"({"accessToken":""})");
  EXPECT_EQ(testing::messageOf([&] { keychain.load(); }), kUnreadableCredentialMessage);
}

TEST_F(GitHubKeychainTest, LoadFailuresGiveTheKeychainMessage) {
  backend->put(kService, signedIn().encoded());
  for (KeychainStatus status : {KeychainStatus::interactionNotAllowed, KeychainStatus::ioError}) {
    backend->failing[Operation::copyData] = status;
    EXPECT_EQ(testing::messageOf([&] { keychain.load(); }), kKeychainMessage);
  }
  backend->failing.clear();
  backend->copyDataWithoutData = true;
  EXPECT_EQ(testing::messageOf([&] { keychain.load(); }), kKeychainMessage);
}

// The user sees one sentence; the cause says which operation and status, for the trace.
TEST_F(GitHubKeychainTest, FailuresKeepTheirCause) {
  const struct {
    Operation operation;
    KeychainStatus status;
    std::string cause;
  } rows[] = {
      {Operation::copyData, KeychainStatus::interactionNotAllowed,
       "read: the store is locked or would need the user (status -25308)"},
      {Operation::update, KeychainStatus::ioError, "update: the store failed (status -36)"},
      {Operation::remove, KeychainStatus::ioError, "delete: the store failed (status -36)"},
  };
  backend->put(kService, signedIn().encoded());
  for (const auto& row : rows) {
    backend->failing = {{row.operation, row.status}};
    try {
      if (row.operation == Operation::copyData) keychain.load();
      if (row.operation == Operation::update) keychain.save(signedIn());
      if (row.operation == Operation::remove) keychain.deleteItem();
      ADD_FAILURE() << row.cause;
    } catch (const PellowError& error) {
      EXPECT_EQ(error.message(), kKeychainMessage);
      EXPECT_EQ(error.cause(), row.cause);
    }
  }
}

TEST_F(GitHubKeychainTest, SaveRefusesIncompleteCredentialsWithoutTouchingTheStore) {
  struct Case {
    const char* name;
    std::optional<std::int64_t> accountID;
    std::optional<std::string> login;
  };
  const Case cases[] = {
      {"account 0", 0, "octocat"},
      {"negative account", -5, "octocat"},
      {"no account", std::nullopt, "octocat"},
      {"empty login", 77, ""},
      {"no login", 77, std::nullopt},
  };
  backend->put(kService, "old");
  for (const Case& c : cases) {
    GitHubCredential credential = signedIn();
    credential.accountID = c.accountID;
    credential.login = c.login;
    EXPECT_EQ(testing::messageOf([&] { keychain.save(credential); }), kKeychainMessage) << c.name;
  }
  EXPECT_TRUE(backend->calls.empty());
  EXPECT_EQ(backend->find(kService)->data, "old");
}

TEST_F(GitHubKeychainTest, FirstSaveAddsLabelledItemAndLaterSavesReplaceOnlyTheData) {
  keychain.save(signedIn("first"));
  EXPECT_EQ(backend->operations(), (std::vector<std::string>{"update", "add"}));
  ASSERT_EQ(backend->items.size(), 1u);
  const FakeKeychainBackend::Item* item = backend->find(kService);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->label, "Pellow GitHub sign-in");
  EXPECT_EQ(item->accessibility, KeychainAccessibility::whenUnlockedThisDeviceOnly);
  EXPECT_EQ(item->data, signedIn("first").encoded());

  backend->calls.clear();
  backend->put(kService, item->data, "label chosen by the user");
  keychain.save(signedIn("second"));
  EXPECT_EQ(backend->operations(), (std::vector<std::string>{"update"}));
  ASSERT_EQ(backend->items.size(), 1u);
  EXPECT_EQ(backend->find(kService)->label, "label chosen by the user");
  EXPECT_EQ(keychain.load(), signedIn("second"));
}

TEST_F(GitHubKeychainTest, FailedSaveKeepsTheOldItem) {
  struct Case {
    const char* name;
    Operation operation;
    KeychainStatus status;
    bool itemExists;
    std::vector<std::string> expectedCalls;
  };
  const Case cases[] = {
      {"update refused",
       Operation::update,
       KeychainStatus::interactionNotAllowed,
       true,
       {"update"}},
      {"update fails", Operation::update, KeychainStatus::ioError, true, {"update"}},
      {"add fails", Operation::add, KeychainStatus::ioError, false, {"update", "add"}},
  };
  for (const Case& c : cases) {
    backend->items.clear();
    backend->calls.clear();
    backend->failing = {{c.operation, c.status}};
    if (c.itemExists) backend->put(kService, "old");
    EXPECT_EQ(testing::messageOf([&] { keychain.save(signedIn()); }), kKeychainMessage) << c.name;
    EXPECT_EQ(backend->operations(), c.expectedCalls) << c.name;
    if (c.itemExists) {
      EXPECT_EQ(backend->find(kService)->data, "old") << c.name;
    } else {
      EXPECT_TRUE(backend->items.empty()) << c.name;
    }
  }
}

TEST_F(GitHubKeychainTest, SavePassesTheEncoderErrorOn) {
  GitHubCredential credential = signedIn();
  credential.expiresAt = Date{std::numeric_limits<double>::infinity()};
  EXPECT_THROW(keychain.save(credential), std::invalid_argument);
  EXPECT_TRUE(backend->calls.empty());
}

TEST_F(GitHubKeychainTest, DeleteSucceedsWhetherOrNotTheItemExists) {
  backend->put(kService, "x");
  keychain.deleteItem();
  EXPECT_EQ(backend->find(kService), nullptr);
  keychain.deleteItem();
  EXPECT_EQ(backend->operations(), (std::vector<std::string>{"remove", "remove"}));

  backend->put(kService, "x");
  backend->failing[Operation::remove] = KeychainStatus::interactionNotAllowed;
  EXPECT_EQ(testing::messageOf([&] { keychain.deleteItem(); }), kKeychainMessage);
  EXPECT_NE(backend->find(kService), nullptr);
}

}  // namespace
}  // namespace pellow
