// GitHubDesktop: the GitHub helper's client, built once per run. It holds the transport through
// which every HTTP exchange goes and the keychain that keeps the one stored credential, and
// offers the operations the commands share.
//
//   GitHubDesktop desktop{std::make_shared<GitHubURLSessionTransport>(),
//                         GitHubKeychain(std::string(config::kKeychainService), backend)};
//   GitHubCredential c = desktop.credential(42);   // fresh token, renewed under the lock
//   nlohmann::json repo = desktop.getJSON("/repos/octocat/hello", c);
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubKeychain.h"
#include "PellowGitHub/GitHubTransport.h"
#include "PellowGitHub/RepositoryCheck.h"

namespace pellow {

struct GitHubDesktop {
  std::shared_ptr<GitHubTransport> transport;
  GitHubKeychain keychain;

  // The stored credential of `account` (nullopt: whatever account is signed in), renewed first
  // when it expires within 60 seconds; the whole load-check-renew-store sequence runs inside the
  // credential lock. Throws PellowError (no credential, another account, keychain, lock, renewal
  // or network failures).
  GitHubCredential credential(std::optional<std::int64_t> account);

  // An authenticated GET of `path` on the GitHub API origin; returns the answer's JSON object.
  // Throws PellowError for classified failures, passes transport failures and the JSON reader's
  // error on unchanged.
  nlohmann::json getJSON(std::string_view path, const GitHubCredential& credential);

  // The repository check (RepositoryCheck.h); without `credential`, credential(std::nullopt).
  CheckedRepository checkRepository(std::string_view reference,
                                    std::optional<GitHubCredential> credential = std::nullopt);
};

}  // namespace pellow
