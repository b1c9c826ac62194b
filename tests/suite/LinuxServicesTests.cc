// The real Linux services on real files, processes and a pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>

#include <thread>
#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"

#include "VeltraSuiteSetup/linux/LinuxMainBundle.h"
#include "VeltraSuiteSetup/linux/LinuxWorkspace.h"
#include "VeltraSuiteSetup/linux/TerminalAlertPresenter.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

using privatefiles::UniqueFd;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, session.
struct ProcStat {
  char state;
  int ppid;
  int session;
};
ProcStat procStat(int pid) {
  const std::string text = testkit::readFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  ProcStat stat{};
  int group = 0;
  rest >> stat.state >> stat.ppid >> group >> stat.session;
  return stat;
}

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (predicate()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return predicate();
}

// A bundle held open as a check holds it, without the signature check: the launch on its own.
class OpenedApp final : public CheckedApp {
 public:
  explicit OpenedApp(fs::path bundle) : path_(std::move(bundle)) {
    const auto info = readBundleInfo(path_);
    if (info && info->executable) {
      fd_.reset(
          ::open((path_ / "Contents/MacOS" / *info->executable).c_str(), O_RDONLY | O_CLOEXEC));
    }
  }
  const fs::path& path() const override { return path_; }
  int executable() const override { return fd_.get(); }

 private:
  fs::path path_;
  UniqueFd fd_;
};

class Workspace : public testing::Test {
 protected:
  testkit::TemporaryFolder dir;
  LinuxWorkspace workspace;
  void TearDown() override { test::killProcessesRunningFrom(dir.path()); }
  fs::path appBundle(const std::string& name, const std::string& id) {
    return test::makeBundle(dir.path(), name, id, VELTRA_TEST_APP_PATH);
  }
  void open(const fs::path& bundle, bool newInstance) {
    workspace.openApplication(OpenedApp(bundle), {false, newInstance});
  }
};

TEST_F(Workspace, OpenStartsADetachedProcessThatShowsAsRunning) {
  const fs::path bundle = appBundle("Sorel", "com.pemberhollo.sorel");
  open(bundle, true);
  ASSERT_TRUE(eventually([&] { return test::processesRunningFrom(dir.path()).size() == 1; }));
  const int pid = test::processesRunningFrom(dir.path()).front();
  const ProcStat stat = procStat(pid);
  EXPECT_NE(stat.ppid, ::getpid()) << "reparented: never our zombie";
  EXPECT_EQ(stat.session, pid) << "a session of its own";
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/1"), "/dev/null");
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid) + "/fd/3")) << "no inherited descriptor";

  bool found = false;
  for (const auto& app : workspace.runningApplications()) {
    if (app.bundleURL == bundle) {
      found = true;
      EXPECT_EQ(app.bundleIdentifier, "com.pemberhollo.sorel");
    }
  }
  EXPECT_TRUE(found);

  // Without a new instance, a bundle that runs is not started again; with one, it is.
  open(bundle, false);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(test::processesRunningFrom(dir.path()).size(), 1u);
  open(bundle, true);
  EXPECT_TRUE(eventually([&] { return test::processesRunningFrom(dir.path()).size() == 2; }));
}

TEST_F(Workspace, OpenReportsTheExecError) {
  const fs::path bundle = appBundle("Sorel", "com.pemberhollo.sorel");
  ::chmod((bundle / "Contents/MacOS/Sorel").c_str(), 0644);
  try {
    open(bundle, true);
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::permission_denied);
  }
  fs::remove(bundle / "Contents/Info.json");
  try {
    open(bundle, true);
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::executable_format_error) << "no executable named";
  }
}

// What runs is the file that was opened (and so checked), not what its path names at the start.
TEST_F(Workspace, OpenStartsTheOpenedFileNotWhatThePathNamesLater) {
  const fs::path bundle = appBundle("Sorel", "com.pemberhollo.sorel");
  const OpenedApp app(bundle);
  fs::create_directory(dir / "reports");
  // The opened file is replaced on disk by a program that never reports.
  fs::remove(bundle / "Contents/MacOS/Sorel");
  testkit::writeFile(bundle / "Contents/MacOS/Sorel", "#!/bin/sh\nexit 0\n", 0755);
  workspace.openApplication(app, {false, true});
  EXPECT_TRUE(test::waitForLaunchReport(dir / "reports")) << "the opened file ran";
}

TEST_F(Workspace, AScriptRunsFromItsOpenedFile) {
  const fs::path bundle = test::makeBundle(dir.path(), "Kesta", "com.pemberhollo.kesta");
  testkit::writeFile(bundle / "Contents/MacOS/Kesta",
                     "#!/bin/sh\necho \"$0\" > " + (dir / "ran").string() + "\n", 0755);
  open(bundle, true);
  ASSERT_TRUE(eventually([&] { return testkit::readFile(dir / "ran").size() > 0; }));
  EXPECT_TRUE(testkit::readFile(dir / "ran").starts_with("/dev/fd/"))
      << "the interpreter read the opened descriptor: " << testkit::readFile(dir / "ran");
}

// The app starts as the session would start it, not as this process happens to be set up now.
TEST_F(Workspace, AppStartsInRootWithTheStartEnvironmentAndUmask) {
  const fs::path bundle = appBundle("Sorel", "com.pemberhollo.sorel");
  fs::create_directory(dir / "reports");
  std::vector<std::string> startEnvironment;
  {
    std::istringstream environ(testkit::readFile("/proc/self/environ"));
    for (std::string entry; std::getline(environ, entry, '\0');) {
      if (!entry.empty()) startEnvironment.push_back(entry);
    }
  }
  std::string startUmask;
  {
    std::istringstream status(testkit::readFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("Umask:")) startUmask = line.substr(line.find_first_not_of("\t ", 6));
    }
  }
  const fs::path workingFolder = fs::current_path();
  ::setenv("VELTRA_SET_BY_THE_PROCESS", "1", 1);
  const mode_t umaskBefore = ::umask(0077);
  fs::current_path(dir.path());

  open(bundle, true);

  fs::current_path(workingFolder);
  ::umask(umaskBefore);
  ::unsetenv("VELTRA_SET_BY_THE_PROCESS");
  const auto report = test::waitForLaunchReport(dir / "reports");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->cwd, "/");
  EXPECT_EQ(report->umask, startUmask);
  EXPECT_EQ(report->environment, startEnvironment);
}

TEST(RunningApplication, OnlyABundlesMainExecutableCounts) {
  testkit::TemporaryFolder dir;
  const fs::path bundle = test::makeBundle(dir.path(), "Kesta", "com.pemberhollo.kesta");
  EXPECT_EQ(applicationForExecutable(bundle / "Contents/MacOS/Kesta").bundleURL, bundle);
  testkit::writeFile(bundle / "Contents/MacOS/helper", "", 0755);
  EXPECT_FALSE(applicationForExecutable(bundle / "Contents/MacOS/helper").bundleURL);
  EXPECT_FALSE(applicationForExecutable("/usr/bin/sleep").bundleURL);
  EXPECT_FALSE(LinuxMainBundle().bundleURL()) << "the test program is not in a bundle";
}

TEST(ApplicationRegistry, FirstBundleInNameOrder) {
  testkit::TemporaryFolder home;
  const fs::path apps = home / "Applications";
  test::makeBundle(apps, "B Sorel", "com.pemberhollo.sorel");
  test::makeBundle(apps, "A Sorel", "com.pemberhollo.sorel");
  test::makeBundle(apps, "Kesta", "com.pemberhollo.kesta");
  fs::create_directories(apps / "Nested" / "Mure.app");
  LinuxWorkspace workspace(pellow::Session::fromEnvironment({{"HOME", home.path()}}));
  EXPECT_EQ(workspace.urlForApplication("com.pemberhollo.sorel"), apps / "A Sorel.app");
  EXPECT_EQ(workspace.urlForApplication("com.pemberhollo.kesta"), apps / "Kesta.app");
  EXPECT_EQ(workspace.urlForApplication("com.pemberhollo.mure"), std::nullopt);
  EXPECT_EQ(LinuxWorkspace(pellow::Session{}).urlForApplication("com.pemberhollo.sorel"),
            std::nullopt)
      << "no home folder: no registry";
}

// The terminal presenter on a real pseudo-terminal: what it shows and how it reads answers.
struct TerminalCase {
  const char* name;
  std::string typed;
  int expected;
};
void PrintTo(const TerminalCase& c, std::ostream* out) { *out << c.name; }

class TerminalAlert : public testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalAlert, ReadsTheAnswer) {
  int master = -1;
  int slave = -1;
  char name[256];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  TerminalAlertPresenter presenter(name);
  const AlertContent alert{"Message?", "Informative.", {"First", "Second"}};
  auto answer = std::async(std::launch::async, [&] { return presenter.runModal(alert); });

  std::string shown;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (shown.find("Choose [1]: ") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    pollfd poller{master, POLLIN, 0};
    if (::poll(&poller, 1, 100) > 0) {
      char buffer[1024];
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) shown.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ASSERT_NE(shown.find("Message?"), std::string::npos);
  const auto informative = shown.find("Informative.");
  const auto first = shown.find("1) First (default)");
  const auto second = shown.find("2) Second");
  EXPECT_LT(shown.find("Message?"), informative);
  EXPECT_LT(informative, first);
  EXPECT_LT(first, second);
  ASSERT_EQ(::write(master, GetParam().typed.data(), GetParam().typed.size()),
            static_cast<ssize_t>(GetParam().typed.size()));
  ASSERT_EQ(answer.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(answer.get(), GetParam().expected);
  ::close(slave);
  ::close(master);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TerminalAlert,
    testing::Values(TerminalCase{"Enter", "\n", kAlertFirstButtonReturn},
                    TerminalCase{"One", "1\n", kAlertFirstButtonReturn},
                    TerminalCase{"OneWithSpaces", "  1 \n", kAlertFirstButtonReturn},
                    TerminalCase{"Two", "2\n", kAlertFirstButtonReturn + 1},
                    TerminalCase{"Word", "yes\n", kAlertFirstButtonReturn + 1},
                    TerminalCase{"EndOfInput", "\x04", kAlertFirstButtonReturn + 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TerminalAlertWithoutTerminal, Throws) {
  TerminalAlertPresenter presenter("/nonexistent/tty");
  EXPECT_THROW(presenter.runModal({"m", "i", {"a", "b"}}), std::system_error);
}

}  // namespace
}  // namespace veltra
