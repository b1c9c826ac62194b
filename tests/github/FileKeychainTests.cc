#include "PellowGitHub/store/FileKeychainBackend.h"
#include "Session/CurrentSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowGitHub/store/FileKeychainItem.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/TestFiles.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;

const KeychainItemKey kKey{std::string(config::kKeychainService), "github-app"};
constexpr auto kAccessible = KeychainAccessibility::whenUnlockedThisDeviceOnly;

mode_t modeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(ApplicationSupport, OnlyAbsoluteFoldersFromTheEnvironment) {
  const fs::path fromPasswd = applicationSupportDirectory(Session::fromEnvironment({}));
  struct Case {
    const char* home;
    const char* dataHome;
    fs::path expected;
  };
  const Case cases[] = {
      {"/h", "/d", "/d"},
      {"/h", "d", "/h/.local/share"},  // a relative XDG_DATA_HOME is ignored
      {"/h", nullptr, "/h/.local/share"},
      {"h", nullptr, fromPasswd},  // a relative HOME counts as unset
      {"", nullptr, fromPasswd},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> environment{{"HOME", c.home}};
    if (c.dataHome) environment["XDG_DATA_HOME"] = c.dataHome;
    EXPECT_EQ(applicationSupportDirectory(Session::fromEnvironment(environment)), c.expected)
        << c.home;
  }
  EXPECT_TRUE(fromPasswd.is_absolute()) << fromPasswd;
}

// Each test gets its own Application Support folder through the process's session.
class FileKeychainTest : public ::testing::Test {
 public:
  void SetUp() override {
    Session session = Session::current();
    session.dataHome = dataHome;
    saved_ = exchangeCurrentSession(std::move(session));
  }
  void TearDown() override { exchangeCurrentSession(std::move(saved_)); }
  Session saved_;

  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::optional<std::string> stored() {
    std::optional<std::string> data;
    EXPECT_EQ(backend.copyData(kKey, data), KeychainStatus::success);
    return data;
  }

  testkit::TemporaryFolder root;
  fs::path dataHome = root / "data";
  fs::path folder = dataHome / "PellowGitHub" / "Keychain";
  fs::path item = folder / keychainItemFileName(kKey);
  FileKeychainBackend backend;
};

TEST_F(FileKeychainTest, ReadsUpdatesAndDeletesCreateNothing) {
  std::optional<std::string> data;
  EXPECT_EQ(backend.copyData(kKey, data), KeychainStatus::itemNotFound);
  EXPECT_EQ(backend.update(kKey, "x"), KeychainStatus::itemNotFound);
  EXPECT_EQ(backend.remove(kKey), KeychainStatus::itemNotFound);
  EXPECT_FALSE(fs::exists(dataHome));

  fs::create_directories(folder);
  fs::permissions(dataHome / "PellowGitHub", fs::perms::owner_all);
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(backend.copyData(kKey, data), KeychainStatus::itemNotFound);
  EXPECT_EQ(backend.update(kKey, "x"), KeychainStatus::itemNotFound);
  EXPECT_EQ(backend.remove(kKey), KeychainStatus::itemNotFound);
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(FileKeychainTest, AddCreatesPrivateFoldersAndFileKeepingEveryByte) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  binary += "\ndata 3\n";
  ASSERT_EQ(backend.add(kKey, binary, "Pellow GitHub sign-in", kAccessible),
            KeychainStatus::success);

  EXPECT_EQ(modeOf(dataHome / "PellowGitHub"), 0700u);
  EXPECT_EQ(modeOf(folder), 0700u);
  EXPECT_EQ(modeOf(item), 0600u);
  EXPECT_EQ(folderEntries(), std::vector<std::string>{item.filename().string()});
  EXPECT_EQ(stored(), binary);

  const std::optional<KeychainItemRecord> record = decodeKeychainItem(testkit::readFile(item));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->label, "Pellow GitHub sign-in");
  EXPECT_EQ(record->service, kKey.service);
  EXPECT_EQ(record->account, "github-app");

  // Items of other keys live beside it.
  const KeychainItemKey other{"other service/with slash", "github-app"};
  ASSERT_EQ(backend.add(other, "second", "label", kAccessible), KeychainStatus::success);
  EXPECT_EQ(stored(), binary);
  EXPECT_EQ(backend.add(kKey, "duplicate", "label", kAccessible), KeychainStatus::ioError);
  EXPECT_EQ(stored(), binary);
  EXPECT_EQ(folderEntries().size(), 2u);
}

TEST_F(FileKeychainTest, UpdateReplacesOnlyTheData) {
  ASSERT_EQ(backend.add(kKey, "one", "first label", kAccessible), KeychainStatus::success);
  ASSERT_EQ(backend.update(kKey, "two"), KeychainStatus::success);
  EXPECT_EQ(stored(), "two");
  const std::optional<KeychainItemRecord> record = decodeKeychainItem(testkit::readFile(item));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->label, "first label");
  EXPECT_EQ(modeOf(item), 0600u);
  EXPECT_EQ(folderEntries().size(), 1u);  // no temporary file left behind

  ASSERT_EQ(backend.remove(kKey), KeychainStatus::success);
  EXPECT_EQ(backend.remove(kKey), KeychainStatus::itemNotFound);
  EXPECT_TRUE(fs::is_empty(folder));
}

// Every operation refuses a store whose paths are not private, and changes nothing.
TEST_F(FileKeychainTest, RefusesPathsThatAreNotPrivate) {
  struct Case {
    const char* name;
    std::function<bool(const FileKeychainTest&)> spoil;  // false: not possible here
  };
  const Case cases[] = {
      {"group-readable item",
       [](const auto& t) {
         fs::permissions(t.item, fs::perms(0640));
         return true;
       }},
      {"other-readable item",
       [](const auto& t) {
         fs::permissions(t.item, fs::perms(0604));
         return true;
       }},
      {"group-readable folder",
       [](const auto& t) {
         fs::permissions(t.folder, fs::perms(0750));
         return true;
       }},
      {"open PellowGitHub folder",
       [](const auto& t) {
         fs::permissions(t.dataHome / "PellowGitHub", fs::perms(0755));
         return true;
       }},
      {"symlinked item",
       [](const auto& t) {
         fs::rename(t.item, t.root / "elsewhere.item");
         fs::create_symlink(t.root / "elsewhere.item", t.item);
         return true;
       }},
      {"symlinked folder",
       [](const auto& t) {
         fs::rename(t.folder, t.root / "elsewhere");
         fs::create_directory_symlink(t.root / "elsewhere", t.folder);
         return true;
       }},
      {"symlinked PellowGitHub folder",
       [](const auto& t) {
         fs::rename(t.dataHome / "PellowGitHub", t.root / "elsewhere");
         fs::create_directory_symlink(t.root / "elsewhere", t.dataHome / "PellowGitHub");
         return true;
       }},
      {"item is a directory",
       [](const auto& t) {
         fs::remove(t.item);
         fs::create_directory(t.item);
         fs::permissions(t.item, fs::perms(0700));
         return true;
       }},
      {"item is a FIFO",
       [](const auto& t) {
         fs::remove(t.item);
         return ::mkfifo(t.item.c_str(), 0600) == 0;
       }},
      {"folder is a file",
       [](const auto& t) {
         fs::remove_all(t.folder);
         testkit::writeFile(t.folder, "x", 0700);
         return true;
       }},
      {"item owned by someone else", [](const auto& t) { return testkit::giveAway(t.item); }},
      {"folder owned by someone else", [](const auto& t) { return testkit::giveAway(t.folder); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove_all(dataHome, ignored);
    fs::remove_all(root / "elsewhere", ignored);
    fs::remove(root / "elsewhere.item", ignored);
    ASSERT_EQ(backend.add(kKey, "secret", "label", kAccessible), KeychainStatus::success);
    if (!c.spoil(*this)) continue;  // giving files away needs root

    const auto started = std::chrono::steady_clock::now();
    std::optional<std::string> data;
    EXPECT_EQ(backend.copyData(kKey, data), KeychainStatus::ioError);
    EXPECT_EQ(data, std::nullopt);
    EXPECT_EQ(backend.update(kKey, "new"), KeychainStatus::ioError);
    EXPECT_EQ(backend.add(kKey, "new", "label", kAccessible), KeychainStatus::ioError);
    EXPECT_EQ(backend.remove(kKey), KeychainStatus::ioError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Nothing was changed, followed or left behind.
    if (fs::exists(root / "elsewhere.item")) {
      EXPECT_EQ(decodeKeychainItem(testkit::readFile(root / "elsewhere.item"))->data, "secret");
    }
    if (fs::is_regular_file(fs::symlink_status(item))) {
      EXPECT_EQ(decodeKeychainItem(testkit::readFile(item))->data, "secret");
    }
    if (fs::is_directory(fs::symlink_status(folder))) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
      }
    }
  }
}

TEST_F(FileKeychainTest, DamagedItemReadsAsUnreadableAndANewSignInReplacesIt) {
  auto shared = std::make_shared<FileKeychainBackend>();
  GitHubKeychain keychain(kKey.service, shared);
  GitHubCredential credential("ghu_new");
  credential.accountID = 1;
  credential.login = "octocat";

  const std::string damaged[] = {
      "",
      "gho_token written by hand\n",
      "pellow-keychain-item 1\nservice x\n",
      encodeKeychainItem({kKey.service, kKey.account, "l", kAccessible, "abc"}) + "trailing",
      encodeKeychainItem({"another service", kKey.account, "l", kAccessible, "abc"}),
  };
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes);
    std::error_code ignored;
    fs::remove_all(dataHome, ignored);
    ASSERT_EQ(shared->add(kKey, "placeholder", "label", kAccessible), KeychainStatus::success);
    testkit::writeFile(item, bytes, 0600);

    EXPECT_EQ(testing::messageOf([&] { keychain.load(); }), kUnreadableCredentialMessage);
    keychain.save(credential);
    EXPECT_EQ(keychain.load(), credential);
    EXPECT_EQ(decodeKeychainItem(testkit::readFile(item))->label, "Pellow GitHub sign-in");
  }
}

TEST_F(FileKeychainTest, FailedWriteLeavesTheOldItemAndNoTemporaryFile) {
  ASSERT_EQ(backend.add(kKey, "old", "label", kAccessible), KeychainStatus::success);
  const std::string before = testkit::readFile(item);

  // The kernel refuses writes past the file size limit (EFBIG once SIGXFSZ is ignored): the
  // temporary file is created, then the write fails half way.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 200;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big(4096, 'x');
  const KeychainStatus updated = backend.update(kKey, big);
  const KeychainStatus added =
      backend.add(KeychainItemKey{"other", "github-app"}, big, "label", kAccessible);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(updated, KeychainStatus::ioError);
  EXPECT_EQ(added, KeychainStatus::ioError);
  EXPECT_EQ(testkit::readFile(item), before);
  EXPECT_EQ(folderEntries(), std::vector<std::string>{item.filename().string()});

  // Data the store could not read back is refused before anything is written.
  EXPECT_EQ(backend.update(kKey, std::string(kMaxKeychainItemData + 1, 'x')),
            KeychainStatus::ioError);
  EXPECT_EQ(testkit::readFile(item), before);
}

TEST(FileKeychainItemFormat, RejectsEveryTamperedForm) {
  const KeychainItemRecord record{"svc", "acct", "a label%\n", kAccessible,
                                  std::string("x\0y\n", 4)};
  const std::string good = encodeKeychainItem(record);
  ASSERT_EQ(decodeKeychainItem(good), record);

  const std::string tampered[] = {
      good.substr(0, good.size() - 1),
      good + "z",
      "pellow-keychain-item 2" + good.substr(22),
      good.substr(0, good.find("label")) + good.substr(good.find("accessible")),
      [&] {
        std::string s = good;
        s.replace(s.find("whenUnlocked"), 12, "afterUnlock!");
        return s;
      }(),
      [&] {
        std::string s = good;
        s.replace(s.find("%25"), 3, "%G5");
        return s;
      }(),
      [&] {
        std::string s = good;
        s.replace(s.find("data 4"), 6, "data -4");
        return s;
      }(),
      "",
  };
  for (const std::string& bytes : tampered) {
    EXPECT_EQ(decodeKeychainItem(bytes), std::nullopt) << bytes;
  }
}

TEST(FileKeychainItemFormat, FileNamesAreDistinctAndNeverHidden) {
  const KeychainItemKey keys[] = {
      {"com.pemberhollo.pellow.github.v1", "github-app"},
      {"a/b", "c"},
      {"a", "b+c"},
      {"a+b", "c"},
      {"..", "x"},
      {".hidden", "x"},
      {"", ""},
      {"%2E", "x"},
  };
  std::vector<std::string> names;
  for (const KeychainItemKey& key : keys) {
    const std::string name = keychainItemFileName(key);
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name.front(), '.') << name;
    for (const std::string& seen : names) EXPECT_NE(seen, name);
    names.push_back(name);
  }
  EXPECT_EQ(names.front(), "com.pemberhollo.pellow.github.v1+github-app.item");
}

}  // namespace
}  // namespace pellow
