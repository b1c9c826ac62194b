// github-helper: started by the Pellow app (JSON request mode) and by git (credential mode).
// One request per process. Wires the real streams and platform services to the command layer.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/GitHubURLSessionTransport.h"
#include "PellowGitHub/KeychainBackend.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowSession/Session.h"
#include "Session/Trace.h"
#include "github-helper/GitHubHelper.h"

int main(int argc, char** argv) {
  using namespace pellow;
  // The environment is read here, once; everything below takes what it needs from the session.
  const Session& session = Session::current();
  trace::start(session);
  // The client is built before the arguments are looked at; its parts are cheap to build:
  // none loads a module or touches the network or the keyring until a command needs it.
  GitHubDesktop desktop(
      std::make_shared<GitHubURLSessionTransport>(session),
      GitHubKeychain(std::string(config::kKeychainService), makeDefaultKeychainBackend(session)),
      systemClock());
  CommandContext context{desktop};
  PosixStandardStreams streams;
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return runGitHubHelper(arguments, streams, context);
}
