// The pure steps of the device flow and the renewal, shared by GitHubAuthorization's operations
// and tested on their own: the form body and a credential from a token answer.
//
//   const std::string body = formBody({{"client_id", id}, {"device_code", code}});
//   GitHubCredential credential = makeCredential(token, clientID, now);
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/api/AuthorizationWire.h"

namespace pellow {

// The form body: fields sorted by key, "key=value" joined with "&"; keys as they are, values
// with every byte outside A-Z a-z 0-9 "-" "." "_" "~" written as "%" + two upper-case hex
// digits.
std::string formBody(const std::map<std::string, std::string>& fields);

// A credential from a token answer (no account yet): needs a non-empty access_token and a
// token_type equal to "bearer" in any case (else noAccessToken); with expires_in it needs
// expires_in > 0, a non-empty refresh_token and refresh_token_expires_in > 0 (else
// incompleteRenewal). Times are `now` plus the answer's seconds. Throws PellowError.
GitHubCredential makeCredential(const TokenResponse& token, std::string_view clientID, Date now);

}  // namespace pellow
