// github-helper: started by the Pellow app (JSON request mode) and by git (credential mode).
// One request per process. Wires the real streams and platform services to the command layer.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PellowGitHub/GitHubConfig.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/GitHubURLSessionTransport.h"
#include "PellowGitHub/KeychainBackend.h"
#include "github-helper/GitHubHelper.h"

int main(int argc, char** argv) {
  using namespace pellow;
  // The client is built before the arguments are looked at; both parts are cheap to build:
  // neither loads a module nor touches the network or the keyring until a command needs it.
  GitHubDesktop desktop{std::make_shared<GitHubURLSessionTransport>(),
                        GitHubKeychain(std::string(config::kKeychainService),
                                       makeDefaultKeychainBackend())};
  CommandContext context{desktop};
  PosixStandardStreams streams;
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return runGitHubHelper(arguments, streams, context);
}
