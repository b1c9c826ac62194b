// git credential mode: answers git's "get" with the stored token of the configured account.
#include <string>

#include "PellowGitHub/GitHubCredential.h"
#include "Session/Trace.h"
#include "github-helper/Commands.h"
#include "github-helper/CredentialRequest.h"

namespace pellow {

void gitCredentialCommand(CommandContext& context, std::int64_t account, StandardStreams& streams) {
  const std::string input = streams.readInput(kGitCredentialInputLimit);
  if (input.size() > kGitCredentialInputLimit) {
    trace::line("git", "silent: the request is over the input limit");
    return;
  }
  const std::optional<CredentialAttributes> attributes =
      parseCredentialAttributes(decodeUTF8WithReplacement(input));
  // Nothing that is not plainly a GitHub repository request reaches the keychain or network.
  if (!attributes || !isGitHubRequest(*attributes)) {
    trace::line("git", "silent: not an HTTPS request for a GitHub repository");
    return;
  }

  const GitHubCredential credential = context.desktop.credential(account);
  if (containsLineBreakOrNUL(credential.accessToken)) {
    trace::line("git", "silent: the stored token holds a line break");
    return;
  }
  trace::line("git", "answered with the stored token");
  streams.writeOutput("username=x-access-token\npassword=" + credential.accessToken + "\n\n");
}

}  // namespace pellow
