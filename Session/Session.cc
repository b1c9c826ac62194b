#include "PellowSession/Session.h"

#include "Session/CurrentSession.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string_view>
#include <system_error>
#include <vector>

namespace pellow {
namespace {

using Lookup = std::function<std::string(const char*)>;

std::filesystem::path absoluteOrEmpty(const std::string& value) {
  // A relative value counts as unset: git runs the helper inside the work tree, where a
  // relative folder would put the user's files under the notes repository.
  if (value.empty() || value[0] != '/') return {};
  return value;
}

std::filesystem::path lookUpHome(uid_t user) {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  return absoluteOrEmpty(found->pw_dir);
}

// A runtime folder holds the session bus and sockets that other processes trust; one that
// another account owns or may enter could be swapped or watched by that account.
bool privateFolderOf(const std::filesystem::path& folder, uid_t user) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == user &&
         (info.st_mode & 077) == 0;
}

bool isSocket(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The app id of a Flatpak sandbox: "name" in the "[Application]" group of the key file that
// Flatpak puts at /.flatpak-info. Read with a bound: the file is small, and a sandbox is not
// trusted to keep it so.
std::string flatpakAppID(const std::filesystem::path& info) {
  std::ifstream in(info);
  std::string group;
  std::string line;
  for (int lines = 0; lines < 1000 && std::getline(in, line); ++lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      group = line;
    } else if (group == "[Application]" && line.rfind("name=", 0) == 0) {
      return line.substr(5, 255);
    }
  }
  return {};
}

Session make(const Lookup& variable) {
  Session session;
  session.userID = ::getuid();
  session.home = absoluteOrEmpty(variable("HOME"));
  if (session.home.empty()) {
    session.passwdHome = lookUpHome(session.userID);
    session.home = session.passwdHome;
  }
  session.dataHome = absoluteOrEmpty(variable("XDG_DATA_HOME"));
  if (session.dataHome.empty() && !session.home.empty()) {
    session.dataHome = session.home / ".local" / "share";
  }
  if (std::filesystem::path runtime = absoluteOrEmpty(variable("XDG_RUNTIME_DIR"));
      !runtime.empty() && privateFolderOf(runtime, session.userID)) {
    session.runtimeFolder = std::move(runtime);
  }
  session.sessionBusAddress = variable("DBUS_SESSION_BUS_ADDRESS");
  if (session.sessionBusAddress.empty() && !session.runtimeFolder.empty() &&
      isSocket(session.runtimeFolder / "bus")) {
    session.sessionBusAddress = "unix:path=" + (session.runtimeFolder / "bus").string();
  }
  session.display = variable("DISPLAY");
  session.waylandDisplay = variable("WAYLAND_DISPLAY");
  session.activationToken = variable("XDG_ACTIVATION_TOKEN");
  session.parentWindow = variable("VELTRA_PARENT_WINDOW");
  std::error_code error;
  session.executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) session.executable.clear();
  struct stat info {};
  session.flatpak = ::lstat("/.flatpak-info", &info) == 0;
  if (session.flatpak) session.flatpakAppID = flatpakAppID("/.flatpak-info");
  session.trace = variable("PELLOW_TRACE");
#ifdef PELLOW_TEST_SEAMS
  session.testConnectTo = variable("PELLOW_TEST_CONNECT_TO");
  session.testCAInfo = variable("PELLOW_TEST_CAINFO");
#endif
  return session;
}

}  // namespace

std::filesystem::path Session::passwordDatabaseHome(uid_t user) { return lookUpHome(user); }

Session Session::fromProcess() {
  // The one place where the libraries read the environment.
  return make([](const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
  });
}

Session Session::fromEnvironment(const std::map<std::string, std::string>& environment) {
  return make([&environment](const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
  });
}

namespace {

Session& processSession() {
  static Session session = Session::fromProcess();
  return session;
}

}  // namespace

const Session& Session::current() { return processSession(); }

Session exchangeCurrentSession(Session replacement) {
  Session previous = std::move(processSession());
  processSession() = std::move(replacement);
  return previous;
}

}  // namespace pellow
