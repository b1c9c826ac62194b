// An application that embeds the installed GitHub library and starts a program while the
// library renews the credential, as an editor starting a shell command would. Reports what that
// program inherited from the process beyond what a program started before the library was used
// inherited:
//   inherited <descriptor> <what it is> <kind>   one line per such descriptor; kind: "file",
//                                                 "network" (an IP socket), "local" (a Unix one)
//   renewed <access token>                the renewal's result
// Exit status 0 when the program was started during the renewal and the renewal succeeded, else
// 1 with the reason on standard error. The environment leads the library to the service to renew
// against (test builds: PELLOW_TEST_CONNECT_TO, PELLOW_TEST_CAINFO) and to a private file store
// (HOME, XDG_DATA_HOME; no session bus). The stored credential is account 42's and expires in
// 30 seconds.

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/GitHubURLSessionTransport.h"
#include "PellowGitHub/KeychainBackend.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Descriptors = std::map<std::string, std::string>;  // number → link target

Descriptors descriptorsOf(const std::string& pid) {
  Descriptors descriptors;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd", error)) {
    descriptors[entry.path().filename()] = fs::read_symlink(entry.path(), error).string();
  }
  return descriptors;
}

// The descriptors of a program started now, once it runs its own executable (before the exec
// it still holds everything, close-on-exec or not).
Descriptors descriptorsOfAStartedProgram() {
  const char* argv[] = {"sleep", "30", nullptr};
  pid_t child = -1;
  if (posix_spawnp(&child, "sleep", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    throw std::runtime_error("cannot start sleep");
  }
  const std::string pid = std::to_string(child);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::error_code error;
  while (fs::read_symlink("/proc/" + pid + "/exe", error).filename() != "sleep" &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const Descriptors descriptors = descriptorsOf(pid);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  return descriptors;
}

// What the descriptor `fd` of this process is; a program inherits the same numbers.
const char* kindOf(int fd) {
  int domain = 0;
  socklen_t size = sizeof domain;
  if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0) return "file";
  return domain == AF_UNIX ? "local" : "network";
}

// Whether this process holds the credential lock and a network connection: the renewal's
// request is on its way.
bool renewalInFlight() {
  bool lock = false;
  bool socket = false;
  for (const auto& [number, target] : descriptorsOf("self")) {
    lock = lock || target.ends_with("/credential.lock");
    socket = socket || target.starts_with("socket:");
  }
  return lock && socket;
}

}  // namespace

int main() {
  try {
    const Descriptors before = descriptorsOfAStartedProgram();

    const std::string service = "com.pemberhollo.pellow.github.v1";
    pellow::GitHubCredential expiring("ghu_old");
    const pellow::Date now = pellow::systemClock().now();
    expiring.expiresAt = now + 30.0;
    expiring.refreshToken = "ghr_old";
    expiring.refreshExpiresAt = now + 86400.0;
    expiring.clientID = "Iv1.stored";
    expiring.accountID = 42;
    expiring.login = "octocat";
    pellow::GitHubKeychain(service, pellow::makeDefaultKeychainBackend()).save(expiring);

    pellow::GitHubDesktop desktop(
        std::make_shared<pellow::GitHubURLSessionTransport>(),
        pellow::GitHubKeychain(service, pellow::makeDefaultKeychainBackend()),
        pellow::systemClock());
    std::future<pellow::GitHubCredential> renewal =
        std::async(std::launch::async, [&] { return desktop.credential(42); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!renewalInFlight()) {
      if (renewal.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready ||
          std::chrono::steady_clock::now() > deadline) {
        std::cerr << "the renewal was never seen in flight\n";
        renewal.get();
        return 1;
      }
    }
    const Descriptors during = descriptorsOfAStartedProgram();
    for (const auto& [number, target] : during) {
      if (!before.contains(number)) {
        std::cout << "inherited " << number << " " << target << " " << kindOf(std::stoi(number))
                  << "\n";
      }
    }
    std::cout << "renewed " << renewal.get().accessToken << "\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "failed: " << error.what() << "\n";
    return 1;
  }
}
