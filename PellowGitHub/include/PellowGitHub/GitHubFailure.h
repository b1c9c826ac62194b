// GitHubFailure: what went wrong, as the layer that saw it knows it, and the one table that turns
// it into the user's sentence.
//
// The layers below the command layer never write a sentence. They throw a PellowError that names
// the failure and what they knew of it (the step, the file, errno, the HTTP status, GitHub's
// OAuth error code, when a limit resets); `describeFailure` chooses the words, here and nowhere
// else, so that one sentence has one spelling and a new failure gets its words in one place:
//
//   throw PellowError(GitHubFailure::apiNoAccess, {.what = "GET", .httpStatus = 404});
//   ...
//   catch (const PellowError& e) {
//     if (e.failure() == GitHubFailure::apiRateLimited) scheduleRetry(e.context().retryAt);
//     show(e.message());                    // == describeFailure(e.failure(), e.context())
//     log(e.cause());                       // "GET: HTTP 404"
//   }
//
// A context never holds a token, code, secret or request body: the trace prints it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/GitHubDate.h"

namespace pellow {

enum class GitHubFailure {
  stated,  // a sentence given whole by the command layer (a request it cannot read)

  // The stored credential and its lock.
  keychain,              // the store refused or failed (what: operation; detail: its status)
  unreadableCredential,  // the stored item is not a credential this version can read
  signInRequired,        // nothing stored, or stored for another account
  lockNotPrivate,        // path: the lock's folder
  lockBusy,              // path: the lock file (error: errno when it could not be opened)
  lockTimeout,           // path: the lock file, held by another process past the wait limit

  // The transport.
  invalidAddress,   // a URL the transport will not send to
  invalidResponse,  // an answer that is not HTTP as GitHub speaks it
  unreachable,      // no answer (name, connection, TLS, timeout)

  // The REST API (httpStatus set).
  apiNotAnObject,   // a 2xx whose JSON is not an object
  apiRateLimited,   // retryAt: the limit's reset when GitHub named one
  apiNoAccess,      // 403 or 404
  apiUnauthorized,  // 401
  apiMoved,         // 301-399
  apiFailed,        // any other status

  // The repository check.
  invalidRepositoryReference,
  archivedRepository,
  readOnlyRepository,

  // Sign-in and renewal.
  registrationNotConfigured,
  authorizationLimited,  // the web origin answered 403 or 429
  authorizationFailed,   // the web origin answered another failure status
  oauthError,            // code: GitHub's OAuth error code
  invalidDeviceCode,     // a device-code answer outside its documented ranges
  expiredDeviceCode,     // the code's lifetime has passed
  renewalRefused,        // no refresh token, no client, or the refresh token has expired
  noAccessToken,
  incompleteRenewal,
  accountNotVerified,  // /user did not answer 200
  invalidAccount,      // /user answered without an id >= 1 or a login
};

// What the thrower knew. Every field is optional; none may hold a token, code or secret.
struct FailureContext {
  std::string what{};    // the step: "read", "POST /login/oauth/access_token", ...
  std::string path{};    // the file or folder involved
  std::string detail{};  // the thrower's own words on why ("held by another process")
  int systemError = 0;   // errno
  long httpStatus = 0;
  std::string code{};             // GitHub's OAuth error code, for oauthError
  std::optional<Date> retryAt{};  // when a rate limit resets, for apiRateLimited
  std::string statedMessage{};    // the whole sentence, for stated
};

// The failure's name as written above ("apiNoAccess"), for the trace.
std::string_view failureName(GitHubFailure failure) noexcept;

// The user's sentence for `failure`. Depends on the context only for stated (its sentence),
// oauthError (its code), apiRateLimited (the reset time of day in the user's locale, which loads
// the network module; throws std::runtime_error when it cannot be loaded) and
// invalidRepositoryReference (the build's web origin).
std::string describeFailure(GitHubFailure failure, const FailureContext& context = {});

// The context in one line for the trace: "<what> <path>: <detail>: HTTP <status>: OAuth error
// <code>: <strerror>", the empty parts left out.
std::string describeCause(const FailureContext& context);

}  // namespace pellow
