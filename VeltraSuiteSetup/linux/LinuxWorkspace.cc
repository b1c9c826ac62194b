#include "VeltraSuiteSetup/linux/LinuxWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "PellowSession/Session.h"
#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"

extern char** environ;

namespace veltra {

using privatefiles::UniqueFd;
namespace fs = std::filesystem;

namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

std::optional<std::string> readLink(const std::string& path) {
  std::string buffer(4096, '\0');
  const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

// The umask this process started with, read from /proc (reading it with umask() would change
// it for a moment under other threads); -1 when it cannot be read. Plain reads: this runs while
// the program's static objects are being made.
int readUmask() {
  const UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (!fd) return -1;
  std::string status;
  std::array<char, 4096> buffer{};
  ssize_t got = 0;
  while ((got = ::read(fd.get(), buffer.data(), buffer.size())) > 0) {
    status.append(buffer.data(), static_cast<std::size_t>(got));
  }
  const std::size_t at = status.find("\nUmask:");
  if (at == std::string::npos) return -1;
  const char* digits = status.c_str() + at + 7;
  char* end = nullptr;
  const long mask = std::strtol(digits, &end, 8);
  return end == digits || mask < 0 || mask > 0777 ? -1 : static_cast<int>(mask);
}
const int startUmask = readUmask();

// The environment this process was started with (/proc/self/environ holds it as exec gave it),
// as the NULL-terminated list execve takes; this process's current one when /proc cannot say.
class StartEnvironment {
 public:
  StartEnvironment() {
    std::ifstream file("/proc/self/environ", std::ios::binary);
    if (!file) return;
    std::string entry;
    while (std::getline(file, entry, '\0')) {
      if (!entry.empty()) entries_.push_back(entry);
    }
    pointers_.reserve(entries_.size() + 1);
    for (std::string& text : entries_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  char* const* get() const { return pointers_.empty() ? environ : pointers_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> pointers_;
};

[[noreturn]] void throwErrno(int error) { throw std::system_error(error, std::generic_category()); }

// Only async-signal-safe calls between fork and exec: the parent may have other threads.
[[noreturn]] void reportAndExit(int pipeFd, int error) {
  ssize_t ignored = ::write(pipeFd, &error, sizeof error);
  static_cast<void>(ignored);
  ::_exit(127);
}

}  // namespace

RunningApplication applicationForExecutable(const fs::path& exe) {
  const auto bundle = enclosingBundle(exe);
  if (!bundle) return {};
  const auto info = readBundleInfo(*bundle);
  // Only the bundle's main executable makes the process that application.
  if (!info || !info->executable || exe.filename() != *info->executable) return {};
  return RunningApplication{info->identifier, *bundle};
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
  std::vector<RunningApplication> result;
  const std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
  if (!proc) return result;
  const uid_t me = ::getuid();
  while (const dirent* entry = ::readdir(proc.get())) {
    const std::string_view name = entry->d_name;
    if (name.empty() ||
        !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const std::string folder = "/proc/" + std::string(name);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) continue;  // ended meanwhile
    if (info.st_uid != me) {
      result.push_back({});
      continue;
    }
    const auto exe = readLink(folder + "/exe");
    // A replaced executable reads as "<path> (deleted)": it is no longer the bundle's code.
    if (!exe || exe->ends_with(" (deleted)")) {
      result.push_back({});
      continue;
    }
    result.push_back(applicationForExecutable(*exe));
  }
  return result;
}

std::optional<fs::path> LinuxWorkspace::urlForApplication(std::string_view bundleId) {
  const fs::path& home = home_;
  if (home.empty()) return std::nullopt;
  const fs::path folder = home / "Applications";
  std::vector<fs::path> bundles;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().ends_with(".app") && it->is_directory(error)) {
      bundles.push_back(it->path());
    }
  }
  std::sort(bundles.begin(), bundles.end(), [](const fs::path& a, const fs::path& b) {
    return a.filename().string() < b.filename().string();
  });
  for (const fs::path& bundle : bundles) {
    const auto info = readBundleInfo(bundle);
    if (info && info->identifier == bundleId) return bundle;
  }
  return std::nullopt;
}

void LinuxWorkspace::openApplication(const CheckedApp& app,
                                     const OpenConfiguration& configuration) {
  if (app.executable() < 0) throwErrno(ENOEXEC);
  if (!configuration.createsNewApplicationInstance) {
    std::error_code error;
    const fs::path wanted = fs::weakly_canonical(app.path(), error);
    for (const auto& running : runningApplications()) {
      if (running.bundleURL && fs::weakly_canonical(*running.bundleURL, error) == wanted) return;
    }
  }

  // Everything the child needs is prepared before fork. The descriptors it uses sit above the
  // standard streams, so that pointing those at /dev/null cannot overwrite them.
  const UniqueFd executable(::fcntl(app.executable(), F_DUPFD_CLOEXEC, 3));
  if (!executable) throwErrno(errno);
  // A script is read again by its interpreter through /dev/fd/<n>: that descriptor must stay
  // open across the exec (it is the very file that was checked). A binary keeps none.
  std::array<char, 2> magic{};
  const bool script = ::pread(executable.get(), magic.data(), magic.size(), 0) == 2 &&
                      magic[0] == '#' && magic[1] == '!';
  const std::string name =
      readLink("/proc/self/fd/" + std::to_string(executable.get())).value_or(app.path().string());
  char* const argv[] = {const_cast<char*>(name.c_str()), nullptr};
  const StartEnvironment environment;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throwErrno(errno);
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 3));
  ::close(pipeFds[1]);
  if (!writeEnd) throwErrno(errno);

  const pid_t child = ::fork();
  if (child < 0) throwErrno(errno);
  if (child == 0) {
    // The intermediate child: start the app in a grandchild and exit, so that the app is
    // reparented and never becomes our zombie.
    const pid_t started = ::fork();
    if (started < 0) reportAndExit(writeEnd.get(), errno);
    if (started > 0) ::_exit(0);
    if (::setsid() < 0) reportAndExit(writeEnd.get(), errno);
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) reportAndExit(writeEnd.get(), errno);
    for (int stream = 0; stream <= 2; ++stream) {
      if (::dup2(devNull, stream) < 0) reportAndExit(writeEnd.get(), errno);
    }
    // The app starts as the user's session would start it: in "/", with the umask and the
    // environment this process was started with, not with what this process set for itself.
    if (::chdir("/") != 0) reportAndExit(writeEnd.get(), errno);
    if (startUmask >= 0) ::umask(static_cast<mode_t>(startUmask));
    // No descriptor of ours (lock files, the consent store) may live on in the app.
    ::close_range(3U, ~0U, CLOSE_RANGE_CLOEXEC);
    if (script) ::fcntl(executable.get(), F_SETFD, 0);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execveat(executable.get(), "", argv, environment.get(), AT_EMPTY_PATH);
    reportAndExit(writeEnd.get(), errno);
  }
  writeEnd.reset();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  std::size_t got = 0;
  while (got < sizeof childError) {
    const ssize_t n =
        ::read(readEnd.get(), reinterpret_cast<char*>(&childError) + got, sizeof childError - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == sizeof childError) throwErrno(childError);
  if (got != 0) throwErrno(EIO);
  // No report and no clean exit: the intermediate child died before it could start the app.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throwErrno(ECHILD);
}

}  // namespace veltra
