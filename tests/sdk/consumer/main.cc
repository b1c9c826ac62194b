// Uses both libraries of the installed SDK the way an application does, and reports what it saw:
//   suite <catalogue size> <team> bootstrap-running=<0|1>
//   github <message of the network module's refusal>
//   module <path of each module mapped into this process>
// Exit status 0 when everything answered as an installed SDK must, 1 otherwise.

#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/GitHubURLSessionTransport.h"
#include "PellowGitHub/PellowError.h"
#include "VeltraSuiteSetup/VeltraSuiteBootstrap.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

int main() {
  namespace S = veltra::VeltraSuiteSetup;
  // This program is no bundle, so a bootstrap refuses to start.
  auto bootstrap = veltra::VeltraSuiteBootstrap::create();
  bootstrap->start("com.pemberhollo.sorel", "/nonexistent/VeltraIntegration/registry/v1", [] {});
  std::cout << "suite " << S::names().size() << " " << S::team()
            << " bootstrap-running=" << bootstrap->isRunning() << "\n";

  // The transport loads the network module on its first request; the module refuses any host
  // but GitHub's before it connects, so no network is needed.
  pellow::GitHubURLSessionTransport transport;
  try {
    transport.send({.method = "GET", .url = "https://example.invalid/"});
    std::cout << "github sent a request to example.invalid\n";
    return 1;
  } catch (const pellow::PellowError& error) {
    std::cout << "github " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cout << "github failed: " << error.what() << "\n";
    return 1;
  }
  // With a session bus address the keychain loads the keyring module (and falls back to the
  // private file store when no keyring answers there).
  const pellow::GitHubKeychain keychain("com.pemberhollo.sdk-consumer",
                                        pellow::makeDefaultKeychainBackend());
  try {
    static_cast<void>(keychain.load());
  } catch (const pellow::PellowError& error) {
    std::cout << "keychain " << error.what() << "\n";
  }

  std::set<std::string> modules;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    const auto path = line.find('/');
    if (path != std::string::npos && line.find("/pellow-", path) != std::string::npos) {
      modules.insert(line.substr(path));
    }
  }
  for (const auto& module : modules) std::cout << "module " << module << "\n";
  return 0;
}
