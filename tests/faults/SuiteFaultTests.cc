// Faults under the consent store: a disk that fails the steps of a write on ".suite-setup"
// (through the failing_disk library, linked into this program and preloaded into the helper),
// and writers killed in mid-write. Every failed change must end in 512 (the helper: status 1, no
// output) with the old consent file as it was, no temporary file left and "state.lock" free for
// the next writer; what a killed writer left is gone after the next update.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "VeltraSuiteSetup/CocoaError.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

#include "tests/faults/FailingDisk.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

using testkit::FailingDisk;

class ConsentStoreFaults : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  fs::path registry = dir / "registry";
  fs::path state = registry / ".suite-setup";

  void SetUp() override {
    fs::create_directories(registry);
    fs::permissions(registry, fs::perms::owner_all);
  }

  std::optional<std::string> consentBytes() const {
    const fs::path file = state / "consent-v1.json";
    if (!fs::exists(file)) return std::nullopt;
    return testkit::readFile(file);
  }
  std::set<std::string> stateEntries() const {
    std::set<std::string> names;
    if (!fs::exists(state)) return names;
    for (const auto& entry : fs::directory_iterator(state)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Whether another writer could take "state.lock" right now.
  bool lockFree() const {
    const int fd = ::open((state / "state.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return true;  // never made: nobody holds it
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }
};

TEST_F(ConsentStoreFaults, FailedWriteKeepsTheOldFileAndFreesTheLock) {
  struct Case {
    const char* ops;
    bool existing;  // a consent file to replace, or the first one
  };
  // With "tmpfile" the disk makes no anonymous files: every step of the named way, too.
  const Case cases[] = {
      {"write", true},         {"fsync", true},           {"rename", true},
      {"create", true},        {"link,rename", true},     {"tmpfile,write", true},
      {"tmpfile,fsync", true}, {"tmpfile,rename", true},  {"write", false},
      {"rename", false},       {"tmpfile,rename", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ops) + (c.existing ? ", replacing" : ", first file"));
    fs::remove_all(state);
    if (c.existing) S::approvePair(kPellow, kSorel, registry);
    const auto before = consentBytes();
    const auto entries = stateEntries();

    int code = 0;
    {
      const FailingDisk disk(state, c.ops);
      code = test::cocoaCode([&] { S::approvePair(kPellow, kKesta, registry); });
    }
    ASSERT_EQ(code, 512) << "0: the failure was reported as success";
    EXPECT_EQ(consentBytes(), before);
    std::set<std::string> expected = entries;
    expected.insert("state.lock");  // made by the attempt, empty, and harmless
    EXPECT_EQ(stateEntries(), expected) << "no temporary file is left";
    EXPECT_TRUE(lockFree());

    S::approvePair(kPellow, kKesta, registry);
    EXPECT_TRUE(S::read(registry).permits(kPellow, kKesta, S::team()));
    EXPECT_EQ(S::read(registry).permits(kPellow, kSorel, S::team()), c.existing);
  }
}

// A writer killed at a random moment leaves temporary files that the next update removes. The
// disk is slow where the file is written (fsync and rename take 40 ms) so that kills land in
// mid-write; with "tmpfile" it makes no anonymous files.
TEST_F(ConsentStoreFaults, KilledWritersLeaveNoTemporaryFileBehind) {
  const char* const disks[] = {"slow:fsync,slow:rename", "tmpfile,slow:fsync,slow:rename"};
  constexpr int kKills = 8;
  std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> delayMs(0, 200);
  int leftovers = 0;  // temporary files found before the next update
  for (const char* ops : disks) {
    SCOPED_TRACE(ops);
    fs::remove_all(state);
    S::approvePair(kPellow, kSorel, registry);
    for (int kill = 0; kill < kKills; ++kill) {
      const pid_t writer = ::fork();
      if (writer == 0) {
        ::setenv("FAULT_DISK_DELAY_MS", "40", 1);
        const FailingDisk disk(state, ops);
        try {
          // Every update writes the file again, also when nothing changed.
          for (;;) S::update(registry, [](VeltraSuiteConsent&) {});
        } catch (...) {
          ::_exit(1);
        }
      }
      ASSERT_GT(writer, 0);
      if (kill + 1 < kKills) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
      } else {
        // The last writer dies while its temporary file has a name, so that the update below
        // has something to remove however the random moments above fell on a loaded machine.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (
            std::ranges::none_of(stateEntries(),
                                 [](const std::string& name) { return name.ends_with(".tmp"); }) &&
            std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
      ::kill(writer, SIGKILL);
      int status = 0;
      ASSERT_EQ(::waitpid(writer, &status, 0), writer);
      ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own";
    }
    for (const std::string& name : stateEntries()) leftovers += name.ends_with(".tmp") ? 1 : 0;

    S::approvePair(kPellow, kKesta, registry);
    EXPECT_EQ(stateEntries(), (std::set<std::string>{"consent-v1.json", "state.lock"}));
    EXPECT_TRUE(S::read(registry).permits(kPellow, kSorel, S::team()));
    EXPECT_TRUE(S::read(registry).permits(kPellow, kKesta, S::team()));
    EXPECT_TRUE(lockFree());
  }
  // Without leftovers for the next update to remove, the cases above would prove little.
  EXPECT_GT(leftovers, 0);
}

TEST_F(ConsentStoreFaults, HelperFailsQuietlyAndTheNextRunConnects) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  const fs::path apps = dir / "apps";
  const fs::path home = dir / "home";
  fs::create_directories(home);
  std::string pellow;
  for (const auto& [name, id] :
       {std::pair{"Pellow", kPellow}, {"Sorel", kSorel}, {"Kesta", kKesta}}) {
    const fs::path bundle = test::makeBundle(apps, name, id);
    test::codesign(bundle, test::pki().suiteTeam);
    if (id == std::string(kPellow)) pellow = bundle.string();
  }
  const auto add = [&](const char* remote) {
    return test::runHelper({"--app", pellow, "--registry", registry.string(), "--add", remote},
                           home);
  };
  ASSERT_EQ(add(kSorel).status, 0);
  const auto before = consentBytes();
  const auto entries = stateEntries();

  for (const char* ops : {"write", "fsync", "rename", "tmpfile,rename"}) {
    SCOPED_TRACE(ops);
    testkit::ProcessResult failed;
    {
      const FailingDisk disk(state, ops, /*preload=*/true);
      failed = add(kKesta);
    }
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, "");
    EXPECT_EQ(consentBytes(), before);
    EXPECT_EQ(stateEntries(), entries);
    EXPECT_TRUE(lockFree());
  }
  const testkit::ProcessResult connected = add(kKesta);
  EXPECT_EQ(connected.status, 0);
  EXPECT_NE(connected.out.find(R"("bundleId":"com.pemberhollo.kesta")"), std::string::npos);
  EXPECT_TRUE(S::read(registry).permits(kPellow, kKesta, S::team()));
}

}  // namespace
}  // namespace veltra
