#include "github-helper/Commands.h"

namespace pellow {

nlohmann::json accountSummary(const GitHubCredential* credential) {
  if (credential == nullptr || !credential->accountID || !credential->login) {
    return {{"signedIn", false}};
  }
  return {{"id", *credential->accountID}, {"login", *credential->login}, {"signedIn", true}};
}

}  // namespace pellow
