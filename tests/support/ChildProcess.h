// ChildProcess: runs a program for a test, in a session of its own, with every wait bounded.
//
//   // To its end: arguments, environment changes and standard input in, status and output out.
//   testkit::ProcessResult run = testkit::run({"git", "hash-object", "--stdin"}, {.input = "x"});
//   EXPECT_EQ(run.status, 0);
//
//   // Kept running and talked to: on a pseudo-terminal, or over standard input and output.
//   testkit::ChildProcess helper({helperPath, "--prompt"}, {.terminal = true});
//   ASSERT_TRUE(helper.waitForTerminal("Choose [1]: "));
//   helper.type("2\n");
//   testkit::ProcessResult result = helper.finish();
//
// Standard output and standard error are captured whole (standard error may go to a log file
// instead); they are read whenever this object waits for anything, so a child never blocks on a
// full pipe. Every child starts a new session (setsid): it has no controlling terminal unless
// `terminal` gives it one, and stop() reaches the processes it started in its group. The
// destructor stops a child that still runs. A program name without "/" is looked up in PATH.
// Throws std::runtime_error when the program cannot be started. One object is not thread-safe;
// objects in different threads are independent.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

// Environment entries to set (a value) or remove (nullopt) for the child.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

struct ProcessOptions {
  // Applied to this process's environment, or to an empty one with `cleanEnvironment`.
  EnvironmentChanges environment{};
  bool cleanEnvironment = false;
  // Written to standard input, which then closes unless `keepInputOpen` (see write()).
  std::string input{};
  bool keepInputOpen = false;
  // A pseudo-terminal as the child's controlling terminal (standard input stays a pipe).
  bool terminal = false;
  // Standard error to this file instead of captured.
  std::filesystem::path errorLog{};
};

struct ProcessResult {
  int status = -1;  // exit status; 128 + the signal for a killed child
  std::string out;
  std::string err;
};

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, ProcessOptions options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The exit status once the child has ended, or nullopt if it still runs after `limit`.
  std::optional<int> waitFor(std::chrono::milliseconds limit);
  // SIGTERM to the child's group, SIGKILL after two seconds; returns the status.
  int stop();
  // Closes standard input, waits at most `limit` (then stops the child) and returns the status
  // with everything the child wrote.
  ProcessResult finish(std::chrono::milliseconds limit = std::chrono::seconds(60));

  // With `keepInputOpen`: writes `text` to standard input; throws when the child stopped reading.
  void write(const std::string& text);
  void closeInput();
  // The next line of standard output, without its newline; throws after `limit` or at its end.
  std::string readLine(std::chrono::milliseconds limit);

  // With `terminal`: waits until `text` has appeared on the terminal; false after `limit`.
  bool waitForTerminal(const std::string& text,
                       std::chrono::milliseconds limit = std::chrono::seconds(10));
  void type(const std::string& text);
  // Everything the child wrote on its terminal so far.
  const std::string& terminalOutput() const { return terminal_; }

 private:
  // Moves input and output, waiting up to `timeoutMs` for any; notes the exit. False when
  // nothing moved.
  bool pump(int timeoutMs);
  void reap(bool block);

  pid_t pid_ = -1;
  int pidfd_ = -1;  // readable once the child has ended
  int inFd_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int terminalFd_ = -1;
  std::string input_;
  std::size_t written_ = 0;
  bool keepInputOpen_ = false;
  std::string out_;
  std::string err_;
  std::string terminal_;
  std::optional<int> status_;
};

// Runs `argv` to its end (stopped after `limit`) and returns its status and output.
ProcessResult run(std::vector<std::string> argv, ProcessOptions options = {},
                  std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace testkit
