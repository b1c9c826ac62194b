#include "HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace pellow::testing {
namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  }
  ~Pipe() {
    closeEnd(0);
    closeEnd(1);
  }
  void closeEnd(int i) {
    if (fds[i] >= 0) ::close(fds[i]);
    fds[i] = -1;
  }
};

std::vector<std::string> childEnvironment(const EnvironmentChanges& changes) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (changes.count(name) == 0) entries.push_back(std::move(entry));
  }
  for (const auto& [name, value] : changes) {
    if (value) entries.push_back(name + "=" + *value);
  }
  return entries;
}

}  // namespace

HelperRun runHelper(const std::vector<std::string>& arguments, const std::string& input,
                    const EnvironmentChanges& environment, const std::string& program) {
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fds[1], 2);

  std::vector<std::string> argStorage{program};
  argStorage.insert(argStorage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argStorage) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage = childEnvironment(environment);
  std::vector<char*> envp;
  for (auto& e : envStorage) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  in.closeEnd(0);
  out.closeEnd(1);
  err.closeEnd(1);

  // Feed input and drain both outputs together so that no side blocks on a full pipe.
  signal(SIGPIPE, SIG_IGN);
  HelperRun run;
  std::size_t written = 0;
  if (input.empty()) in.closeEnd(1);
  std::array<char, 65536> buffer{};
  while (out.fds[0] >= 0 || err.fds[0] >= 0) {
    std::vector<pollfd> fds;
    if (in.fds[1] >= 0) fds.push_back({in.fds[1], POLLOUT, 0});
    if (out.fds[0] >= 0) fds.push_back({out.fds[0], POLLIN, 0});
    if (err.fds[0] >= 0) fds.push_back({err.fds[0], POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    for (const auto& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == in.fds[1]) {
        const ssize_t n = ::write(p.fd, input.data() + written, input.size() - written);
        if (n < 0) {
          in.closeEnd(1);  // the child stopped reading
          continue;
        }
        written += static_cast<std::size_t>(n);
        if (written == input.size()) in.closeEnd(1);
        continue;
      }
      const ssize_t n = ::read(p.fd, buffer.data(), buffer.size());
      std::string& sink = p.fd == out.fds[0] ? run.out : run.err;
      if (n <= 0) {
        (p.fd == out.fds[0] ? out : err).closeEnd(0);
      } else {
        sink.append(buffer.data(), static_cast<std::size_t>(n));
      }
    }
  }
  in.closeEnd(1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pellow-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  // Tests make folders unreadable on purpose; give the owner access back before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace pellow::testing
