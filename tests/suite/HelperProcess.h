// Runs the real suite-setup-helper as a child in a session of its own, with HOME pointed at a
// test folder and no display, optionally with a pseudo-terminal as its controlling terminal.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace veltra::test {

struct HelperResult {
  int status = -1;
  std::string out;
  std::string err;
};

class HelperProcess {
 public:
  HelperProcess(const std::vector<std::string>& args, const std::filesystem::path& home,
                bool withTerminal);
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  // Reads the terminal until `text` has appeared; false after `limit`.
  bool waitForTerminal(const std::string& text,
                       std::chrono::milliseconds limit = std::chrono::seconds(10));
  void type(const std::string& text);
  // Everything the helper wrote on its terminal so far.
  const std::string& terminalOutput() const { return terminal_; }
  // Waits for the exit (killing the helper after `limit`) and collects stdout and stderr.
  HelperResult finish(std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  void drainTerminal(int timeoutMs);

  int pid_ = -1;
  int master_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string terminal_;
  bool finished_ = false;
};

// Runs the helper to its end without a terminal.
HelperResult runHelper(const std::vector<std::string>& args, const std::filesystem::path& home);

}  // namespace veltra::test
