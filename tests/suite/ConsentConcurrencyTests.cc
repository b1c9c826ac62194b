// The store across processes: no lost update, and no torn file after a writer is killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <thread>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;

std::string keyFor(int i) {
  return S::pair("com.example.app" + std::to_string(i), "com.example.z");
}

TEST(ConsentConcurrency, FiftyProcessesLoseNoUpdate) {
  testkit::TemporaryFolder dir;
  const fs::path registry = dir.path();
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < 50; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char byte;
      // Every child waits here until the parent opens the gate, so that all start at once.
      while (::read(gate[0], &byte, 1) < 0) {
      }
      try {
        if (i % 2 == 0) {
          S::block("com.example.app" + std::to_string(i), "com.example.z", registry);
        } else {
          S::update(registry, [i](VeltraSuiteConsent& record) {
            auto approved = record.approvedPairs.value_or(std::vector<std::string>{});
            approved.push_back(keyFor(i));
            record.approvedPairs = approved;
          });
        }
        ::_exit(0);
      } catch (...) {
        ::_exit(1);
      }
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const VeltraSuiteConsent record = S::read(registry);
  for (int i = 0; i < 50; ++i) {
    const auto& list = i % 2 == 0 ? record.blockedPairs : *record.approvedPairs;
    EXPECT_EQ(std::count(list.begin(), list.end(), keyFor(i)), 1) << i;
  }
}

TEST(ConsentConcurrency, KilledWriterNeverLeavesAnUnreadableFile) {
  testkit::TemporaryFolder dir;
  const fs::path registry = dir.path();
  S::update(registry, [](VeltraSuiteConsent&) {});
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delayUs(0, 4000);
  for (int run = 0; run < 100; ++run) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // Rewrite records of changing sizes as fast as possible until killed.
      for (unsigned n = 0;; n = (n + 37) % 400) {
        S::update(registry, [n](VeltraSuiteConsent& record) {
          record.blockedPairs.assign(n, "com.example.a|com.example.b");
          record.enabled = n % 2 == 0;
        });
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_NO_THROW(S::read(registry)) << "run " << run;
  }
  // The lock died with its holder: a further update proceeds.
  S::update(registry, [](VeltraSuiteConsent& record) { record.declinedSet = "done"; });
  EXPECT_EQ(S::read(registry).declinedSet, "done");
}

}  // namespace
}  // namespace veltra
