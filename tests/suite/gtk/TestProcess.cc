#include "tests/suite/gtk/TestProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "tests/suite/SuiteTestSupport.h"

namespace veltra::test {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int decode(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// Only async-signal-safe calls between fork and exec: everything is prepared before the fork.
[[noreturn]] void execChild(const std::vector<char*>& argv, const std::vector<char*>& envp,
                            const char* out, const char* err, const SpawnOptions& options) {
  if (options.newSession) {
    ::setsid();
  } else {
    ::setpgid(0, 0);
  }
  const int null = ::open("/dev/null", O_RDWR);
  const int outFd = out[0] != '\0' ? ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0600) : null;
  const int errFd = err[0] != '\0' ? ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0600) : null;
  ::dup2(null, STDIN_FILENO);
  ::dup2(outFd, STDOUT_FILENO);
  ::dup2(errFd, STDERR_FILENO);
  if (options.inheritedFd >= 0) {
    const int flags = ::fcntl(options.inheritedFd, F_GETFD);
    ::fcntl(options.inheritedFd, F_SETFD, flags & ~FD_CLOEXEC);
  }
  ::execve(argv[0], argv.data(), envp.data());
  ::_exit(127);
}

}  // namespace

TestProcess::TestProcess(const std::vector<std::string>& argv, SpawnOptions options) {
  std::vector<std::string> program = argv;
  std::vector<std::string> environment;
  for (const auto& [name, value] : options.environment) environment.push_back(name + "=" + value);
  std::vector<char*> args;
  for (auto& arg : program) args.push_back(arg.data());
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string out = options.stdoutPath.string();
  const std::string err = options.stderrPath.string();

  pid_ = ::fork();
  if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid_ == 0) execChild(args, envp, out.c_str(), err.c_str(), options);
  // Both sides set the group, so that a signal to it cannot race the child's own setpgid.
  if (!options.newSession) ::setpgid(pid_, pid_);
}

TestProcess::~TestProcess() {
  if (pid_ > 0 && !status_) stop();
}

std::optional<int> TestProcess::waitFor(std::chrono::milliseconds limit) {
  if (status_) return status_;
  const auto deadline = Clock::now() + limit;
  while (true) {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = decode(raw);
      return status_;
    }
    if (done < 0 && errno != EINTR) {
      status_ = -1;
      return status_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int TestProcess::stop() {
  if (status_) return *status_;
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  if (const auto status = waitFor(std::chrono::seconds(2))) return *status;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int raw = 0;
  while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = decode(raw);
  return *status_;
}

RunResult runBounded(const std::vector<std::string>& argv, const Environment& environment,
                     std::chrono::milliseconds limit) {
  TempDir folder;
  const fs::path output = folder / "stdout";
  TestProcess process(argv, {.environment = environment, .stdoutPath = output});
  RunResult result;
  if (const auto status = process.waitFor(limit)) {
    result.status = *status;
  } else {
    process.stop();
    result.status = -1;
  }
  std::ifstream in(output, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  result.output = bytes.str();
  return result;
}

std::string readLineWithin(int fd, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::string line;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw std::runtime_error("no line within the time limit");
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("end of input before a line");
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace veltra::test
