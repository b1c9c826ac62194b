#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace testkit {
namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Rounded up, so that a wait of a millisecond still polls the child's pipes once.
int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

std::string inPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string candidate = std::string(folders.substr(0, colon)) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
  }
  return program;
}

std::vector<std::string> childEnvironment(const ProcessOptions& options) {
  std::vector<std::string> entries;
  for (char** e = environ; !options.cleanEnvironment && *e != nullptr; ++e) {
    std::string entry(*e);
    if (!options.environment.contains(entry.substr(0, entry.find('=')))) {
      entries.push_back(std::move(entry));
    }
  }
  for (const auto& [name, value] : options.environment) {
    if (value) entries.push_back(name + "=" + *value);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    closeFd(read);
    closeFd(write);
  }
};

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, ProcessOptions options)
    : input_(std::move(options.input)), keepInputOpen_(options.keepInputOpen) {
  // Written once, by several test threads alike: a child that stops reading must not kill us.
  ::signal(SIGPIPE, SIG_IGN);
  const std::string program = inPath(argv.at(0));
  std::vector<std::string> environment = childEnvironment(options);
  const std::vector<char*> args = pointers(argv);
  const std::vector<char*> envp = pointers(environment);
  Pipe in, out, err, execError;
  if (!options.errorLog.empty()) {
    closeFd(err.write);
    err.write = ::open(options.errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err.write < 0) throw std::runtime_error("cannot open " + options.errorLog.string());
  }
  int terminal = -1;
  if (options.terminal) {
    if (::openpty(&terminalFd_, &terminal, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    ::fcntl(terminalFd_, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
  }

  // Only async-signal-safe calls between fork and exec: everything is prepared above.
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    // The child keeps its terminal open, as a login shell would: the terminal lives as long as
    // the child.
    if (terminal >= 0) {
      ::ioctl(terminal, TIOCSCTTY, 0);
      ::fcntl(terminal, F_SETFD, 0);
    }
    ::dup2(in.read, STDIN_FILENO);
    ::dup2(out.write, STDOUT_FILENO);
    ::dup2(err.write, STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(program.c_str(), args.data(), envp.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(execError.write, &error, sizeof error);
    ::_exit(127);
  }
  if (terminal >= 0) ::close(terminal);
  if (pid_ < 0) throw std::runtime_error("fork failed");
  closeFd(execError.write);
  int error = 0;
  if (::read(execError.read, &error, sizeof error) == sizeof error) {
    reap(true);
    closeFd(terminalFd_);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  }
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  std::swap(inFd_, in.write);
  std::swap(outFd_, out.read);
  if (options.errorLog.empty()) std::swap(errFd_, err.read);
  if (input_.empty() && !keepInputOpen_) closeFd(inFd_);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) stop();
  for (int* fd : {&pidfd_, &inFd_, &outFd_, &errFd_, &terminalFd_}) closeFd(*fd);
}

void ChildProcess::reap(bool block) {
  if (status_) return;
  int raw = 0;
  pid_t done;
  while ((done = ::waitpid(pid_, &raw, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (done == 0) return;
  status_ = done < 0 ? -1 : WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  closeFd(pidfd_);
  closeFd(inFd_);
}

bool ChildProcess::pump(int timeoutMs) {
  std::vector<pollfd> fds;
  if (inFd_ >= 0 && written_ < input_.size()) fds.push_back({inFd_, POLLOUT, 0});
  for (int fd : {outFd_, errFd_, terminalFd_, pidfd_}) {
    if (fd >= 0) fds.push_back({fd, POLLIN, 0});
  }
  // Without a pidfd (an old kernel) the exit is looked for in short steps.
  if (pidfd_ < 0 && !status_) timeoutMs = std::min(timeoutMs, 10);
  if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) {
    if (pidfd_ < 0) reap(false);
    return false;
  }
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    if (p.fd == pidfd_) {
      reap(false);
    } else if (p.fd == inFd_) {
      // At most PIPE_BUF bytes, which fit once the pipe polls writable: a write that blocked
      // could wait for a child that waits for us to read its output.
      const ssize_t n = ::write(inFd_, input_.data() + written_,
                                std::min<std::size_t>(input_.size() - written_, PIPE_BUF));
      if (n < 0 && errno != EINTR && errno != EAGAIN) closeFd(inFd_);  // the child stopped reading
      if (n > 0) written_ += static_cast<std::size_t>(n);
      if (written_ == input_.size() && !keepInputOpen_) closeFd(inFd_);
    } else if (p.fd == outFd_ || p.fd == errFd_ || p.fd == terminalFd_) {
      char buffer[65536];
      const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      int& fd = p.fd == outFd_ ? outFd_ : p.fd == errFd_ ? errFd_ : terminalFd_;
      std::string& sink = p.fd == outFd_ ? out_ : p.fd == errFd_ ? err_ : terminal_;
      if (n <= 0) {
        closeFd(fd);  // end of output; EIO on a terminal whose other side is gone
      } else {
        sink.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  if (pidfd_ < 0) reap(false);
  return true;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!status_ && millisecondsUntil(deadline) > 0) pump(millisecondsUntil(deadline));
  if (!status_) reap(false);
  if (!status_) return std::nullopt;
  // What the child wrote before it ended; a process it left behind may hold the pipes open,
  // so only what is there now is taken.
  for (int round = 0; round < 1000 && pump(0); ++round) {
  }
  return status_;
}

int ChildProcess::stop() {
  if (status_) return *status_;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  if (const auto status = waitFor(std::chrono::seconds(2))) return *status;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  reap(true);
  return *waitFor(std::chrono::milliseconds(0));
}

ProcessResult ChildProcess::finish(std::chrono::milliseconds limit) {
  closeInput();
  if (!waitFor(limit)) stop();
  return {*status_, out_, err_};
}

void ChildProcess::write(const std::string& text) {
  input_ += text;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (inFd_ >= 0 && written_ < input_.size() && millisecondsUntil(deadline) > 0) pump(100);
  if (written_ < input_.size()) throw std::runtime_error("the child does not read its input");
}

void ChildProcess::closeInput() {
  keepInputOpen_ = false;
  if (written_ == input_.size()) closeFd(inFd_);
}

std::string ChildProcess::readLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::size_t end;
  while ((end = out_.find('\n')) == std::string::npos) {
    if (outFd_ < 0) throw std::runtime_error("the child's output ended before a line");
    if (millisecondsUntil(deadline) == 0) throw std::runtime_error("no line within the limit");
    pump(millisecondsUntil(deadline));
  }
  std::string line = out_.substr(0, end);
  out_.erase(0, end + 1);
  return line;
}

bool ChildProcess::waitForTerminal(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (terminal_.find(text) == std::string::npos) {
    if (millisecondsUntil(deadline) == 0 || terminalFd_ < 0) return false;
    pump(millisecondsUntil(deadline));
  }
  return true;
}

void ChildProcess::type(const std::string& text) {
  if (::write(terminalFd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot type on the terminal");
  }
}

ProcessResult run(std::vector<std::string> argv, ProcessOptions options,
                  std::chrono::milliseconds limit) {
  return ChildProcess(std::move(argv), std::move(options)).finish(limit);
}

}  // namespace testkit
