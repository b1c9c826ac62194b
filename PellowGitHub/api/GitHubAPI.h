// GitHub REST requests: how `GitHubDesktop::getJSON` builds its request and reads the answer.
//
// getJSON sends one authenticated GET to the GitHub API origin through the client's transport
// and hands back the answer's JSON object, or throws a PellowError that names the failure with
// the HTTP status (GitHubFailure.h words it). The pieces are public so that each rule can be
// exercised alone:
//
//   HTTPRequest request = apiRequest("/repos/octo/hello", credential);
//   nlohmann::json repo = classifyAPIResponse(transport.send(request));
//
// Classification, first match wins:
//   2xx   the body parsed as JSON (the reader's JsonSyntaxError passes through); a top level
//         that is not an object fails with apiNotAnObject.
//   429   apiRateLimited.
//   403   apiRateLimited when "X-RateLimit-Remaining" is exactly "0", when any "Retry-After" is
//         present, or when the body is a JSON object whose string "message" contains
//         "secondary rate limit" in any letter case (GitHub's secondary limits); otherwise as
//         below. The body of no other failure status is read, and an unreadable 403 body is
//         simply not a secondary limit.
//   403, 404  apiNoAccess
//   401       apiUnauthorized
//   301-399   apiMoved (the transport follows no redirection)
//   others    apiFailed (1xx, 300, 400, 402, 405-428, 430 and up)
// A rate limit's context carries rateLimitReset(response) as retryAt. Header names are matched
// without regard to letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/GitHubTransport.h"

namespace pellow {

inline constexpr std::string_view kAPIUserAgent = "Pellow-macOS";
inline constexpr std::string_view kAPIVersion = "2026-03-10";

// The GET of API base URL + `path` (which begins with "/" and may carry a query) with exactly
// the headers Authorization ("Bearer " + access token), Accept, X-GitHub-Api-Version and
// User-Agent, and a 60-second limit.
HTTPRequest apiRequest(std::string_view path, const GitHubCredential& credential);

// The answer's JSON object, or the failure described above.
nlohmann::json classifyAPIResponse(const HTTPResult& result);

// The reset moment of "X-RateLimit-Reset" (seconds since 1970) when its whole value is a decimal
// number: optional sign, digits with an optional fraction, optional exponent; no spaces, no
// "inf", "nan" or hexadecimal. Nothing otherwise, or when the header is absent.
std::optional<Date> rateLimitReset(const HTTPResponse& response);

}  // namespace pellow
