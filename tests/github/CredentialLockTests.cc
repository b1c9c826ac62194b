#include "PellowGitHub/store/CredentialLock.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/store/CredentialLockFolder.h"
#include "PellowGitHub/store/FileKeychainBackend.h"
#include "PellowGitHub/support/Cancellation.h"
#include "ScopedApplicationSupport.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TestFiles.h"

namespace pellow {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class CredentialLockTest : public ::testing::Test {
 protected:
  fs::path folder() const { return support_.lockFolder(); }
  fs::path lockFile() const { return support_.lockFile(); }

  testing::ScopedApplicationSupport support_;
};

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

// Another process that takes the lock through withCredentialLock and keeps it for `seconds`.
class LockHolder {
 public:
  explicit LockHolder(double seconds) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      try {
        withCredentialLock([&] {
          const char byte = 'x';
          (void)::write(ready[1], &byte, 1);
          std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        });
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!held) throw std::runtime_error("the holder could not take the lock");
  }
  ~LockHolder() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  pid_t pid_ = -1;
};

// Whether another process can take the lock file's flock at once.
bool freeForAnotherProcess(const fs::path& file) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(file.c_str(), O_RDWR);
    ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string lockMessage() {
  return testing::messageOf([] { withCredentialLock([] {}); });
}

TEST_F(CredentialLockTest, FirstUseCreatesPrivateFolderAndFileAndReturnsTheBodysResult) {
  int runs = 0;
  EXPECT_EQ(withCredentialLock([&] {
              ++runs;
              EXPECT_FALSE(freeForAnotherProcess(lockFile()));  // held while the body runs
              return std::string("result");
            }),
            "result");
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(modeOf(support_.path()) & 07777, 0700u);  // intermediate folder too
  EXPECT_EQ(modeOf(folder()) & 07777, 0700u);
  EXPECT_TRUE(S_ISREG(modeOf(lockFile())));
  EXPECT_EQ(modeOf(lockFile()) & 07777, 0600u);
  EXPECT_EQ(fs::file_size(lockFile()), 0u);
  EXPECT_TRUE(freeForAnotherProcess(lockFile()));
}

TEST_F(CredentialLockTest, RefusesPlacesThatAreNotPrivate) {
  const std::string notPrivate(describeFailure(GitHubFailure::lockNotPrivate));
  const std::string busy(describeFailure(GitHubFailure::lockBusy));
  struct Case {
    std::string name;
    std::function<void(const fs::path& folder)> prepare;
    std::string message;
  };
  const Case cases[] = {
      {"folder 0755",
       [](const fs::path& f) { fs::create_directories(f), ::chmod(f.c_str(), 0755); }, notPrivate},
      {"folder 0710",
       [](const fs::path& f) { fs::create_directories(f), ::chmod(f.c_str(), 0710); }, notPrivate},
      {"folder is a symbolic link",
       [](const fs::path& f) {
         fs::create_directories(f.parent_path() / "real");
         ::chmod((f.parent_path() / "real").c_str(), 0700);
         fs::create_directory_symlink(f.parent_path() / "real", f);
       },
       notPrivate},
      {"folder is a file",
       [](const fs::path& f) {
         fs::create_directories(f.parent_path());
         ::close(::open(f.c_str(), O_CREAT | O_WRONLY, 0600));
       },
       notPrivate},
      {"lock file 0644",
       [](const fs::path& f) {
         fs::create_directories(f), ::chmod(f.c_str(), 0700);
         ::close(::open((f / "credential.lock").c_str(), O_CREAT | O_WRONLY, 0644));
         ::chmod((f / "credential.lock").c_str(), 0644);
       },
       busy},
      {"lock file is a symbolic link",
       [](const fs::path& f) {
         fs::create_directories(f), ::chmod(f.c_str(), 0700);
         ::close(::open((f / "target").c_str(), O_CREAT | O_WRONLY, 0600));
         fs::create_symlink(f / "target", f / "credential.lock");
       },
       busy},
      {"lock file is a dangling symbolic link",
       [](const fs::path& f) {
         fs::create_directories(f), ::chmod(f.c_str(), 0700);
         fs::create_symlink(f / "nowhere", f / "credential.lock");
       },
       busy},
      {"lock file is a folder",
       [](const fs::path& f) {
         fs::create_directories(f / "credential.lock"), ::chmod(f.c_str(), 0700);
       },
       busy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    ::chmod(folder().c_str(), 0700);
    fs::remove_all(support_.path(), ignored);
    fs::create_directories(support_.path());
    c.prepare(folder());
    bool ran = false;
    EXPECT_EQ(testing::messageOf([&] { withCredentialLock([&] { ran = true; }); }), c.message);
    EXPECT_FALSE(ran);
  }
  // The helper never repairs a folder it refused.
  EXPECT_EQ(modeOf(folder()) & 07777, 0700u);
  ::chmod(folder().c_str(), 0755);
  EXPECT_EQ(lockMessage(), notPrivate);
  EXPECT_EQ(modeOf(folder()) & 07777, 0755u);
}

TEST_F(CredentialLockTest, FolderCreationFailureIsTheFileSystemsError) {
  // A file where a parent folder should be: no permission override gets past that.
  fs::create_directories(support_.path().parent_path());
  fs::remove_all(support_.path());
  ::close(::open(support_.path().c_str(), O_CREAT | O_WRONLY, 0600));
  EXPECT_THROW(withCredentialLock([] {}), fs::filesystem_error);
}

TEST_F(CredentialLockTest, RefusesPlacesOwnedByAnotherUser) {
  fs::create_directories(folder());
  ::chmod(folder().c_str(), 0700);
  ::close(::open(lockFile().c_str(), O_CREAT | O_WRONLY, 0600));
  if (!testkit::giveAway(lockFile())) GTEST_SKIP() << "giving a file to another user needs root";
  EXPECT_EQ(lockMessage(), describeFailure(GitHubFailure::lockBusy));
  ASSERT_TRUE(testkit::giveAway(folder()));
  EXPECT_EQ(lockMessage(), describeFailure(GitHubFailure::lockNotPrivate));
}

TEST_F(CredentialLockTest, ABodysErrorPassesThroughAndTheLockIsFreeAtOnce) {
  struct BodyError : std::runtime_error {
    BodyError() : std::runtime_error("body") {}
  };
  EXPECT_THROW(withCredentialLock([]() -> int { throw BodyError(); }), BodyError);
  EXPECT_TRUE(freeForAnotherProcess(lockFile()));
  const auto start = Clock::now();
  withCredentialLock([] {});
  EXPECT_LT(secondsSince(start), 0.09);  // no retry was needed
  EXPECT_TRUE(fs::exists(lockFile()));   // never deleted
}

TEST_F(CredentialLockTest, CancellationEndsTheWait) {
  LockHolder holder(30);
  std::stop_source source;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    source.request_stop();
  });
  const auto start = Clock::now();
  bool ran = false;
  EXPECT_THROW(withCredentialLock([&] { ran = true; }, source.get_token()), CancellationError);
  canceller.join();
  EXPECT_FALSE(ran);
  EXPECT_LT(secondsSince(start), 5.0);
}

// A holder of about 1 s is waited for in real time; the 10-second deadline is driven by a fake
// clock, whose pauses pass at once: 100 tries 0.1 s apart, then the timeout message. Bounds are
// wide for a loaded machine.
TEST_F(CredentialLockTest, WaitsForAnotherProcessThenGivesUpAtTheDeadline) {
  {
    LockHolder holder(1);
    const auto start = Clock::now();
    EXPECT_EQ(withCredentialLock([] { return 5; }), 5);
    const double waited = secondsSince(start);
    EXPECT_GT(waited, 0.5);
    EXPECT_LT(waited, 8.0);
  }
  {
    LockHolder holder(30);
    testing::FakeClock clock(Date::fromUnixSeconds(1'800'000'000));
    const auto start = Clock::now();
    EXPECT_EQ(testing::messageOf([&] { CredentialLock(clock, folder()).run([] {}); }),
              describeFailure(GitHubFailure::lockTimeout));
    EXPECT_LT(secondsSince(start), 5.0);
    double slept = 0;
    for (const double pause : clock.sleeps) slept += pause;
    EXPECT_NEAR(slept, 10.0, 0.15);
    EXPECT_EQ(clock.sleeps.size(), 100u);
  }
}

}  // namespace
}  // namespace pellow

namespace pellow {
namespace {

// The lock follows the store: the file store's beside its items, the keyring's in a place that
// no variable of any process moves (neither XDG_RUNTIME_DIR nor XDG_DATA_HOME nor HOME).
TEST(CredentialLockFolderTest, FollowsTheStoreNotTheProcessEnvironment) {
  const fs::path runtime = "/run/user/" + std::to_string(::getuid());
  struct stat info {};
  const bool privateRuntime = ::lstat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                              info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
  const fs::path keyring =
      (privateRuntime ? runtime : fs::path(::getpwuid(::getuid())->pw_dir) / ".local/share") /
      "PellowGitHub";
  const struct {
    std::map<std::string, std::string> environment;
    fs::path fileStore;
  } rows[] = {
      {{{"XDG_RUNTIME_DIR", "/run/x"}, {"XDG_DATA_HOME", "/app/data"}, {"HOME", "/app"}},
       "/app/data/PellowGitHub"},
      {{{"XDG_RUNTIME_DIR", "/run/x"}, {"XDG_DATA_HOME", "/term/data"}, {"HOME", "/term"}},
       "/term/data/PellowGitHub"},
      {{{"XDG_DATA_HOME", "/app/data"}, {"HOME", "/app"}}, "/app/data/PellowGitHub"},
      {{{"XDG_RUNTIME_DIR", "run/relative"}, {"XDG_DATA_HOME", "/app/data"}, {"HOME", "/x"}},
       "/app/data/PellowGitHub"},
      {{{"XDG_RUNTIME_DIR", runtime}, {"XDG_DATA_HOME", "/app/data"}, {"HOME", "/app"}},
       "/app/data/PellowGitHub"},
  };
  for (const auto& row : rows) {
    const Session session = Session::fromEnvironment(row.environment);
    SCOPED_TRACE(session.dataHome.string());
    // The keyring's lock takes nothing from the session at all.
    EXPECT_EQ(sessionKeyringLockFolder(), keyring);
    EXPECT_EQ(FileKeychainBackend(session.dataHome).lockFolder(), row.fileStore);
  }
  EXPECT_EQ(FileKeychainBackend("/given").lockFolder(), "/given/PellowGitHub");
}

// The runtime folder serves only when it is a real folder private to the user; anything that
// another account could own, write or swap sends the lock to the home folder instead.
TEST(CredentialLockFolderTest, RuntimeFolderServesOnlyWhenPrivate) {
  testkit::TemporaryFolder root;
  const fs::path home = root / "home";
  const auto prepare = [&](const char* name, const std::function<void(const fs::path&)>& make) {
    const fs::path path = root / name;
    make(path);
    return path;
  };
  const auto folder = [](mode_t mode) {
    return [mode](const fs::path& path) {
      fs::create_directory(path);
      ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    };
  };
  const fs::path privateFolder = prepare("private", folder(0700));
  const struct {
    const char* name;
    fs::path runtime;
    bool serves;
  } rows[] = {
      {"private folder", privateFolder, true},
      {"owner-only read and search", prepare("r-x", folder(0500)), true},
      {"missing", root / "missing", false},
      {"group may search", prepare("group", folder(0710)), false},
      {"others may write", prepare("world", folder(0777)), false},
      {"sticky and open", prepare("sticky", folder(01777)), false},
      {"symbolic link to a private folder",
       prepare("link", [&](const fs::path& p) { fs::create_directory_symlink(privateFolder, p); }),
       false},
      {"a file", prepare("file", [](const fs::path& p) { testkit::writeFile(p, ""); }), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    int homeAsked = 0;
    const fs::path chosen = keyringLockFolder(row.runtime, [&] {
      ++homeAsked;
      return home;
    });
    EXPECT_EQ(chosen, (row.serves ? row.runtime : home / ".local/share") / "PellowGitHub");
    EXPECT_EQ(homeAsked, row.serves ? 0 : 1);
  }
}

}  // namespace
}  // namespace pellow
