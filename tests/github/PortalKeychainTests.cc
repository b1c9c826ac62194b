// The Secret portal's encrypted store with a fixed secret in place of the portal: the sealed
// file, its authentication, the move of an earlier version's plain item, and what a portal that
// refuses or is missing leads to. The real portal runs in FlatpakSandboxTests.cc.
#include "PellowGitHub/store/PortalKeychainBackend.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/store/FileKeychainItem.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/support/TestFiles.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;

const KeychainItemKey kKey{std::string(config::kKeychainService), "github-app"};
constexpr auto kAccessible = KeychainAccessibility::whenUnlockedThisDeviceOnly;
constexpr const char* kToken =
    R"({"accessToken":"ghu_portalsecret0123","accountID":7,"login":"o"})";

class FixedPortal final : public SecretPortal {
 public:
  FixedPortal(PortalAnswer answer, std::string secret, int* calls)
      : answer_(answer), secret_(std::move(secret)), calls_(calls) {}
  PortalAnswer retrieveSecret(std::string& secret) override {
    if (calls_ != nullptr) ++*calls_;
    secret = answer_ == PortalAnswer::secret ? secret_ : std::string();
    return answer_;
  }

 private:
  PortalAnswer answer_;
  std::string secret_;
  int* calls_;
};

class PortalKeychainTest : public ::testing::Test {
 protected:
  std::unique_ptr<PortalKeychainBackend> backend(PortalAnswer answer = PortalAnswer::secret,
                                                 std::string secret = std::string(64, 'k'),
                                                 int* calls = nullptr) const {
    return std::make_unique<PortalKeychainBackend>(
        folder.path(), std::make_unique<FixedPortal>(answer, std::move(secret), calls),
        Session::current());
  }
  fs::path keychain() const { return folder / "PellowGitHub" / "Keychain"; }
  fs::path sealedPath(const KeychainItemKey& key = kKey) const {
    return keychain() / PortalKeychainBackend::sealedFileName(key);
  }
  fs::path plainPath() const { return keychain() / keychainItemFileName(kKey); }
  std::optional<std::string> read(KeychainBackend& store) const {
    std::optional<std::string> data;
    EXPECT_EQ(store.copyData(kKey, data), KeychainStatus::success);
    return data;
  }

  testkit::TemporaryFolder folder;
};

TEST_F(PortalKeychainTest, KeepsTheItemEncryptedAndReadsItBack) {
  int calls = 0;
  auto store = backend(PortalAnswer::secret, std::string(64, 'k'), &calls);
  std::optional<std::string> data;
  EXPECT_EQ(store->copyData(kKey, data), KeychainStatus::itemNotFound);
  ASSERT_EQ(store->add(kKey, kToken, "Pellow GitHub sign-in", kAccessible),
            KeychainStatus::success);
  EXPECT_EQ(store->add(kKey, kToken, "again", kAccessible), KeychainStatus::ioError);
  EXPECT_EQ(read(*store), kToken);

  const std::string onDisk = testkit::readFile(sealedPath());
  EXPECT_EQ(onDisk.rfind("pellow-sealed-item 1\n", 0), 0U);
  EXPECT_EQ(onDisk.find("ghu_portalsecret0123"), std::string::npos);
  EXPECT_EQ(onDisk.find("Pellow GitHub sign-in"), std::string::npos);
  struct stat status {};
  ASSERT_EQ(::stat(sealedPath().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600U);

  ASSERT_EQ(store->update(kKey, "renewed"), KeychainStatus::success);
  EXPECT_NE(testkit::readFile(sealedPath()), onDisk);  // a fresh nonce, a new file
  EXPECT_EQ(read(*backend()), "renewed");              // another run, the same secret
  EXPECT_EQ(store->lockFolder(), folder / "PellowGitHub");

  EXPECT_EQ(store->remove(kKey), KeychainStatus::success);
  EXPECT_FALSE(fs::exists(sealedPath()));
  EXPECT_EQ(store->remove(kKey), KeychainStatus::itemNotFound);
  EXPECT_EQ(store->update(kKey, "x"), KeychainStatus::itemNotFound);
  EXPECT_EQ(calls, 1);  // the portal is asked once per run
}

// Every change of the file, and every other key, makes the item unreadable: empty data, which
// the credential layer reports as an unreadable credential, never as signed out.
TEST_F(PortalKeychainTest, AnItemThatFailsAuthenticationIsUnreadable) {
  ASSERT_EQ(backend()->add(kKey, kToken, "label", kAccessible), KeychainStatus::success);
  const std::string good = testkit::readFile(sealedPath());
  const std::size_t body = std::string_view("pellow-sealed-item 1\n").size();
  struct Case {
    const char* name;
    std::string bytes;
    std::string secret;
  };
  auto flipped = [&good](std::size_t at) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
  };
  const std::vector<Case> cases{
      {"header line", flipped(3), std::string(64, 'k')},
      {"format version byte", flipped(body), std::string(64, 'k')},
      {"nonce", flipped(body + 5), std::string(64, 'k')},
      {"ciphertext", flipped(body + 20), std::string(64, 'k')},
      {"tag", flipped(good.size() - 1), std::string(64, 'k')},
      {"truncated", good.substr(0, good.size() - 1), std::string(64, 'k')},
      {"only the header", good.substr(0, body + 3), std::string(64, 'k')},
      {"empty", "", std::string(64, 'k')},
      {"another key", good, std::string(64, 'j')},
      {"a shorter secret", good, std::string(63, 'k')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::writeFile(sealedPath(), c.bytes, 0600);
    auto store = backend(PortalAnswer::secret, c.secret);
    EXPECT_EQ(read(*store), std::string());
    const GitHubKeychain keychain(kKey.service, std::move(store));
    try {
      keychain.load();
      ADD_FAILURE() << "loaded";
    } catch (const PellowError& error) {
      EXPECT_EQ(error.message(), kUnreadableCredentialMessage);
    }
    // update never writes over what it cannot read; a new sign-in (add) recovers.
    auto writer = backend(PortalAnswer::secret, c.secret);
    EXPECT_EQ(writer->update(kKey, "x"), KeychainStatus::itemNotFound);
    EXPECT_EQ(writer->add(kKey, "fresh", "label", kAccessible), KeychainStatus::success);
    EXPECT_EQ(read(*backend(PortalAnswer::secret, c.secret)), "fresh");
  }
}

TEST_F(PortalKeychainTest, AnItemRenamedToAnotherKeyIsUnreadable) {
  const KeychainItemKey other{kKey.service, "other-account"};
  ASSERT_EQ(backend()->add(other, kToken, "label", kAccessible), KeychainStatus::success);
  testkit::writeFile(sealedPath(), testkit::readFile(sealedPath(other)), 0600);
  EXPECT_EQ(read(*backend()), std::string());
}

TEST_F(PortalKeychainTest, MovesThePlainItemOfAnEarlierVersionOnce) {
  FileKeychainBackend plain(folder.path());
  ASSERT_EQ(plain.add(kKey, kToken, "Pellow GitHub sign-in", kAccessible), KeychainStatus::success);
  ASSERT_TRUE(fs::exists(plainPath()));

  EXPECT_EQ(read(*backend()), kToken);
  EXPECT_FALSE(fs::exists(plainPath()));
  EXPECT_EQ(testkit::readFile(sealedPath()).find("ghu_portalsecret0123"), std::string::npos);
  EXPECT_EQ(read(*backend()), kToken);  // now from the sealed item
  // The label came along: update keeps it, as it keeps a label added in the sandbox.
  ASSERT_EQ(backend()->update(kKey, "renewed"), KeychainStatus::success);
  EXPECT_EQ(read(*backend()), "renewed");
}

TEST_F(PortalKeychainTest, APlainItemBesideASealedOneGoesWithTheNextChange) {
  ASSERT_EQ(backend()->add(kKey, "sealed", "label", kAccessible), KeychainStatus::success);
  testkit::writeFile(plainPath(),
                     encodeKeychainItem({kKey.service, kKey.account, "l", kAccessible, "plain"}),
                     0600);
  EXPECT_EQ(read(*backend()), "sealed");  // the sealed item wins
  ASSERT_EQ(backend()->remove(kKey), KeychainStatus::success);
  EXPECT_FALSE(fs::exists(plainPath()));
  EXPECT_FALSE(fs::exists(sealedPath()));

  testkit::writeFile(plainPath(), "damaged", 0600);
  EXPECT_EQ(read(*backend()), std::string());  // unreadable, and not moved
  EXPECT_TRUE(fs::exists(plainPath()));
  ASSERT_EQ(backend()->add(kKey, "fresh", "label", kAccessible), KeychainStatus::success);
  EXPECT_FALSE(fs::exists(plainPath()));  // a new sign-in leaves no plain copy
}

// A portal that exists but refuses or fails: the Keychain message for every operation, and not
// a file or folder is made, read or moved; a plain item of an earlier version stays untouched.
TEST_F(PortalKeychainTest, APortalThatRefusesOrFailsGivesTheKeychainMessageAndWritesNothing) {
  for (const PortalAnswer answer : {PortalAnswer::refused, PortalAnswer::failed}) {
    SCOPED_TRACE(static_cast<int>(answer));
    auto store = backend(answer);
    std::optional<std::string> data;
    EXPECT_EQ(store->copyData(kKey, data), KeychainStatus::interactionNotAllowed);
    EXPECT_EQ(store->add(kKey, kToken, "l", kAccessible), KeychainStatus::interactionNotAllowed);
    EXPECT_EQ(store->update(kKey, kToken), KeychainStatus::interactionNotAllowed);
    EXPECT_EQ(store->remove(kKey), KeychainStatus::interactionNotAllowed);
    EXPECT_FALSE(fs::exists(folder / "PellowGitHub"));

    const GitHubKeychain keychain(kKey.service, backend(answer));
    for (const auto& operation :
         std::vector<std::function<void()>>{[&] { keychain.load(); },
                                            [&] {
                                              GitHubCredential credential;
                                              credential.accessToken = "ghu_x";
                                              credential.accountID = 7;
                                              credential.login = "o";
                                              keychain.save(credential);
                                            },
                                            [&] { keychain.deleteItem(); }}) {
      try {
        operation();
        ADD_FAILURE() << "succeeded";
      } catch (const PellowError& error) {
        EXPECT_EQ(error.message(), kKeychainMessage);
      }
    }
    EXPECT_FALSE(fs::exists(folder / "PellowGitHub"));
  }
  FileKeychainBackend plain(folder.path());
  ASSERT_EQ(plain.add(kKey, kToken, "l", kAccessible), KeychainStatus::success);
  std::optional<std::string> data;
  EXPECT_EQ(backend(PortalAnswer::refused)->copyData(kKey, data),
            KeychainStatus::interactionNotAllowed);
  EXPECT_TRUE(fs::exists(plainPath()));
  EXPECT_FALSE(fs::exists(sealedPath()));
}

// No Secret portal at all: the file store's rule, plain items beside the lock.
TEST_F(PortalKeychainTest, WithoutAnySecretPortalTheFileStoreRuleApplies) {
  auto store = backend(PortalAnswer::absent);
  ASSERT_EQ(store->add(kKey, kToken, "l", kAccessible), KeychainStatus::success);
  EXPECT_TRUE(fs::exists(plainPath()));
  EXPECT_FALSE(fs::exists(sealedPath()));
  EXPECT_EQ(read(*store), kToken);
  EXPECT_EQ(store->lockFolder(), folder / "PellowGitHub");
}

}  // namespace
}  // namespace pellow
