#include "tests/suite/HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace veltra::test {
namespace {

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

}  // namespace

HelperProcess::HelperProcess(const std::vector<std::string>& args,
                             const std::filesystem::path& home, bool withTerminal) {
  int slave = -1;
  if (withTerminal && ::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  int outPipe[2];
  int errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv{VELTRA_HELPER_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& arg : argv) cargv.push_back(arg.data());
  cargv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setsid();  // no controlling terminal unless the pty below becomes it
    if (withTerminal) {
      ::ioctl(slave, TIOCSCTTY, 0);
      ::close(master_);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    for (int fd : {devNull, outPipe[0], outPipe[1], errPipe[0], errPipe[1], slave}) {
      if (fd > 2) ::close(fd);
    }
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::execv(cargv[0], cargv.data());
    ::_exit(126);
  }
  if (slave >= 0) ::close(slave);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  out_ = outPipe[0];
  err_ = errPipe[0];
}

HelperProcess::~HelperProcess() {
  if (!finished_) finish(std::chrono::milliseconds(0));
  for (int fd : {master_, out_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void HelperProcess::drainTerminal(int timeoutMs) {
  if (master_ < 0) return;
  pollfd poller{master_, POLLIN, 0};
  if (::poll(&poller, 1, timeoutMs) <= 0) return;
  char buffer[4096];
  const ssize_t got = ::read(master_, buffer, sizeof buffer);
  if (got > 0) terminal_.append(buffer, static_cast<std::size_t>(got));
}

bool HelperProcess::waitForTerminal(const std::string& text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (terminal_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= end) return false;
    drainTerminal(50);
  }
  return true;
}

void HelperProcess::type(const std::string& text) {
  if (::write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot type on the terminal");
  }
}

HelperResult HelperProcess::finish(std::chrono::milliseconds limit) {
  HelperResult result;
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (true) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    drainTerminal(20);
  }
  finished_ = true;
  drainTerminal(0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readAll(out_);
  result.err = readAll(err_);
  return result;
}

HelperResult runHelper(const std::vector<std::string>& args, const std::filesystem::path& home) {
  HelperProcess helper(args, home, false);
  return helper.finish();
}

}  // namespace veltra::test
