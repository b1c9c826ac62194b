// The private-file kit on real files: the private check, files written whole on disks with and
// without anonymous temporary files, the sweep of what killed writers leave, and the modes of
// what the three stores make under a hostile umask. The failing disk (tests/faults) is linked
// in, so that a case can take O_TMPFILE or hard links away from this very process.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "PellowGitHub/store/CredentialLock.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/store/FileKeychainItem.h"
#include "PrivateFiles/AtomicFile.h"
#include "PrivateFiles/PrivateCheck.h"
#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/ConsentStore.h"
#include "tests/faults/FailingDisk.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using privatefiles::FileKind;
using privatefiles::UniqueFd;

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::set<std::string> entriesOf(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The process's umask for as long as this object lives.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t saved_;
};

fs::path makeFolder(const fs::path& path, mode_t mode = 0700) {
  fs::create_directory(path);
  ::chmod(path.c_str(), mode);
  return path;
}

// Makes `path` as `kind` says: 'd' a folder, 'f' a file, 'p' a FIFO, 'D'/'F' a link to a private
// folder/file, '-' nothing; then sets `mode` on what it made.
void make(char kind, const fs::path& path, mode_t mode) {
  switch (kind) {
    case 'd':
      makeFolder(path, mode);
      break;
    case 'f':
      testkit::writeFile(path, "secret", mode);
      break;
    case 'p':
      ::mkfifo(path.c_str(), mode);
      break;
    case 'D':
    case 'F':
      make(static_cast<char>(kind - 'A' + 'a'), path.string() + ".target", mode);
      fs::create_symlink(path.string() + ".target", path);
      break;
  }
}

TEST(PrivateCheck, JudgesKindOwnerModeAndLinks) {
  constexpr auto D = FileKind::directory;
  constexpr auto F = FileKind::regularFile;
  struct Case {
    char make;
    mode_t mode;
    bool otherOwner;  // given to another user: needs root, skipped otherwise
    FileKind asked;
    bool isPrivate;
  };
  const Case cases[] = {
      {'d', 0700, false, D, true},  {'d', 0500, false, D, true},  {'d', 0750, false, D, false},
      {'d', 0701, false, D, false}, {'f', 0600, false, F, true},  {'f', 0400, false, F, true},
      {'f', 0640, false, F, false}, {'f', 0602, false, F, false}, {'d', 0700, false, F, false},
      {'f', 0600, false, D, false}, {'p', 0600, false, F, false}, {'D', 0700, false, D, false},
      {'F', 0600, false, F, false}, {'-', 0600, false, F, false}, {'d', 0700, true, D, false},
      {'f', 0600, true, F, false},
  };
  testkit::TemporaryFolder root;
  const UniqueFd rootFd(::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string name = std::string(1, c.make) + std::to_string(i);
    SCOPED_TRACE(name + " " + std::to_string(c.mode));
    make(c.make, root / name, c.mode);
    if (c.otherOwner && !testkit::giveAway(root / name)) continue;
    EXPECT_EQ(privatefiles::isPrivateEntry(AT_FDCWD, (root / name).c_str(), c.asked), c.isPrivate);
    EXPECT_EQ(privatefiles::isPrivateEntry(rootFd.get(), name.c_str(), c.asked), c.isPrivate);
  }
}

// On each disk: as this machine's file system makes temporary files, without O_TMPFILE, and
// without hard links (the failing disk takes them away from this very process).
TEST(AtomicFile, WritesWholeFilesWithTheirModeOnEveryDisk) {
  struct Case {
    bool add;
    const char* before;  // nullptr: no file yet
    const char* bytes;
    const char* after;
  };
  const Case cases[] = {
      {false, "old", "new", "new"},  {false, "old", "", ""},      {false, nullptr, "new", "new"},
      {true, nullptr, "new", "new"}, {true, "old", "new", "old"},  // add never overwrites
  };
  for (const char* disk : {"", "tmpfile", "link"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(disk) + (c.add ? " add " : " replace ") +
                   (c.before ? c.before : "nothing"));
      testkit::TemporaryFolder root;
      if (c.before != nullptr) testkit::writeFile(root / "item", c.before, 0600);
      const UniqueFd folder(::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      std::error_code error;
      {
        std::optional<testkit::FailingDisk> failing;
        if (*disk != '\0') failing.emplace(root.path(), disk);
        const ScopedUmask umask(0277);  // the owner could not even write its own file
        const auto& names = privatefiles::hexTemporaryNames();
        error = c.add ? privatefiles::addFile(folder.get(), "item", c.bytes, names)
                      : privatefiles::replaceFile(folder.get(), "item", c.bytes, names);
      }
      EXPECT_EQ(error, c.add && c.before ? std::make_error_code(std::errc::file_exists)
                                         : std::error_code());
      EXPECT_EQ(testkit::readFile(root / "item"), c.after);
      EXPECT_EQ(modeOf(root / "item"), 0600u);
      EXPECT_EQ(entriesOf(root.path()), std::set<std::string>{"item"}) << "no temporary file";
    }
  }
}

TEST(AtomicFile, SweepRemovesOnlyTheStoresTemporaryFiles) {
  const auto& names = privatefiles::hexTemporaryNames();
  const std::string made = names.make();
  EXPECT_NE(made, names.make());
  struct Entry {
    std::string name;
    char make;  // as make() above
    bool removed;
  };
  const Entry entries[] = {
      {".0123456789abcdef.tmp", 'f', true},
      {made, 'f', true},
      {".0123456789ABCDEF.tmp", 'f', false},
      {".0123456789abcde.tmp", 'f', false},
      {"0123456789abcdef.tmp", 'f', false},
      {".0123456789abcdef.tmp.item", 'f', false},
      {".fedcba9876543210.tmp", 'd', false},
      {".aaaaaaaaaaaaaaaa.tmp", 'F', false},
      {"com.pemberhollo.pellow.github.v1+github-app.item", 'f', false},
  };
  testkit::TemporaryFolder root;
  std::set<std::string> kept;
  for (const Entry& entry : entries) {
    make(entry.make, root / entry.name, 0600);
    if (!entry.removed) kept.insert(entry.name);
  }
  kept.insert(".aaaaaaaaaaaaaaaa.tmp.target");  // what the link points to
  const UniqueFd fd(::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_EQ(privatefiles::removeTemporaries(fd.get(), names), std::error_code());
  EXPECT_EQ(entriesOf(root.path()), kept);
}

// Every store makes its folders 0700 and its files 0600 whatever the umask: under 0277 a plain
// mkdir or open would give 0500 and 0400, and the next run of a user who is not root could not
// create or lock its own files.
TEST(PrivateModes, StoresMakePrivateFoldersAndFilesUnderUmask0277) {
  const pellow::KeychainItemKey key{"com.pemberhollo.pellow.github.v1", "github-app"};
  const std::string item = "data/PellowGitHub/Keychain/" + pellow::keychainItemFileName(key);
  struct Case {
    const char* name;
    std::function<void(const fs::path& root)> use;  // run twice: the second must work too
    std::vector<std::pair<std::string, mode_t>> modes;
  };
  const Case cases[] = {
      {"credential lock",
       [](const fs::path& root) {
         pellow::CredentialLock(pellow::systemClock(), root / "data" / "PellowGitHub").run([] {});
       },
       {{"data", 0700}, {"data/PellowGitHub", 0700}, {"data/PellowGitHub/credential.lock", 0600}}},
      {"file keychain",
       [&](const fs::path& root) {
         pellow::FileKeychainBackend backend(root / "data");
         if (backend.update(key, "secret") == pellow::KeychainStatus::itemNotFound) {
           EXPECT_EQ(backend.add(key, "secret", "label",
                                 pellow::KeychainAccessibility::whenUnlockedThisDeviceOnly),
                     pellow::KeychainStatus::success);
         }
         std::optional<std::string> data;
         EXPECT_EQ(backend.copyData(key, data), pellow::KeychainStatus::success);
         EXPECT_EQ(data, "secret");
       },
       {{"data", 0700},
        {"data/PellowGitHub", 0700},
        {"data/PellowGitHub/Keychain", 0700},
        {item, 0600}}},
      {"consent store",
       [](const fs::path& root) {
         makeFolder(root / "registry");
         veltra::VeltraSuiteSetup::update(root / "registry",
                                          [](veltra::VeltraSuiteConsent& r) { r.enabled = true; });
         EXPECT_TRUE(veltra::VeltraSuiteSetup::read(root / "registry").enabled);
       },
       {{"registry/.suite-setup", 0700},
        {"registry/.suite-setup/state.lock", 0600},
        {"registry/.suite-setup/consent-v1.json", 0600}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TemporaryFolder root;
    {
      const ScopedUmask umask(0277);
      EXPECT_NO_THROW(c.use(root.path()));
      EXPECT_NO_THROW(c.use(root.path()));
    }
    for (const auto& [path, mode] : c.modes) EXPECT_EQ(modeOf(root / path), mode) << path;
  }
}

}  // namespace
