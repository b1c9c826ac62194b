// GitHub REST requests: how `GitHubDesktop::getJSON` builds its request and reads the answer.
//
// getJSON sends one authenticated GET to the GitHub API origin through the client's transport
// and hands back the answer's JSON object, or throws a PellowError worded for the repository
// check and the listings. The pieces are public so that each rule can be exercised alone:
//
//   HTTPRequest request = apiRequest("/repos/octo/hello", credential);
//   nlohmann::json repo = classifyAPIResponse(transport.send(request));
//
// Classification, first match wins:
//   2xx   the body parsed as JSON (the reader's JsonSyntaxError passes through); a top level
//         that is not an object fails with kNotAnObjectMessage.
//   429   rate limited.
//   403   rate limited when "X-RateLimit-Remaining" is exactly "0", when any "Retry-After" is
//         present, or when the body is a JSON object whose string "message" contains
//         "secondary rate limit" in any letter case (GitHub's secondary limits); otherwise as
//         below. The body of no other failure status is read, and an unreadable 403 body is
//         simply not a secondary limit.
//   403, 404  kRepositoryAccessMessage
//   401       kSignInExpiredMessage
//   301-399   kRepositoryMovedMessage (the transport follows no redirection)
//   others    kRepositoryCheckFailedMessage (1xx, 300, 400, 402, 405-428, 430 and up)
// Rate limited: rateLimitMessage(rateLimitReset(response)). Header names are matched without
// regard to letter case.
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

inline constexpr std::string_view kNotAnObjectMessage = "GitHub returned an invalid response.";
inline constexpr std::string_view kRepositoryAccessMessage =
    "Pellow cannot access this repository. Allow Pellow Notes Sync to access it on GitHub, then "
    "refresh. Organization repositories may need administrator approval.";
inline constexpr std::string_view kSignInExpiredMessage =
    "GitHub sign-in expired or was revoked. Sign in again in Git sync settings.";
inline constexpr std::string_view kRepositoryMovedMessage =
    "This GitHub repository moved. Update its owner/name in Settings.";
inline constexpr std::string_view kRepositoryCheckFailedMessage =
    "GitHub could not check the repository. Try again shortly.";

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

// "GitHub’s request limit was reached. Try again after <short time>. Your notes are saved
// locally.", the time of day of `reset` in the user's locale and time zone; with no reset,
// "... Wait a few minutes and try again. ...". Formatting a time loads the network module (ICU);
// throws std::runtime_error when it cannot be loaded.
std::string rateLimitMessage(std::optional<Date> reset);

}  // namespace pellow
