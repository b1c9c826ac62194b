// GitHubCredential: the one value kept about a signed-in user (tokens, their expiry, the client
// that issued them, the account they belong to). Its JSON object form is both the stored item's
// data and the credential object of the helper's JSON interface.
//
//   GitHubCredential c("gho_abc");
//   c.accountID = 42; c.login = "octocat";
//   std::string bytes = c.toJSON().dump();          // {"accessToken":"gho_abc",...}
//   GitHubCredential back = GitHubCredential::fromJSON(nlohmann::json::parse(bytes));
//   if (back.needsRefresh(clock.now())) ...
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubDate.h"

namespace pellow {

struct GitHubCredential {
  std::string accessToken;
  std::optional<std::string> refreshToken;
  std::optional<Date> expiresAt;
  std::optional<Date> refreshExpiresAt;
  std::optional<std::string> clientID;
  std::optional<std::int64_t> accountID;
  std::optional<std::string> login;

  GitHubCredential() = default;
  explicit GitHubCredential(std::string token) : accessToken(std::move(token)) {}

  // Whether the access token should be renewed before use at `now`: false without expiresAt,
  // else expiresAt <= now + 60 s (equality included).
  bool needsRefresh(Date now) const;

  // The JSON object form: keys are the field names; accessToken always, each optional field
  // only when present; timestamps as seconds since 2001-01-01 (JSON numbers).
  nlohmann::json toJSON() const;
  // Encoded bytes of toJSON(), compact (the stored item's data).
  std::string encoded() const;

  // Strict decoding: accessToken must be a string; each other key may be missing or null; a key
  // present with the wrong JSON type fails; unknown keys are ignored. accountID must be an
  // integer (json::integer), the timestamps numbers. Throws std::invalid_argument (not a
  // PellowError: callers choose the message).
  static GitHubCredential fromJSON(const nlohmann::json& object);

  // Decodes the stored item's bytes: the JSON form with a non-empty accessToken, else the whole
  // text as a plain token when it is valid, non-empty UTF-8 not beginning with "{". Throws
  // PellowError "The saved GitHub credential could not be read. Sign in again in Settings."
  static GitHubCredential decodeKeychain(std::string_view data);

  friend bool operator==(const GitHubCredential&, const GitHubCredential&) = default;
};

}  // namespace pellow
