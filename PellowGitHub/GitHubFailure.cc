#include "PellowGitHub/GitHubFailure.h"

#include <algorithm>
#include <system_error>

#include "PellowGitHub/GitHubAppRegistration.h"
#include "PellowGitHub/GitHubAuthorization.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/LocaleTime.h"

namespace pellow {
namespace {

namespace auth = authorization_messages;

// The words that SDK callers do not compare against; the others are public beside the types
// whose failures they describe.
constexpr std::string_view kSignInRequired =
    "Sign in to the GitHub account connected to this notes folder in Settings \u2192 Git sync. "
    "Your notes remain saved locally.";
constexpr std::string_view kLockNotPrivate =
    "Pellow\u2019s GitHub credential lock is not private. Check the PellowGitHub folder in "
    "Application Support.";
constexpr std::string_view kLockBusy = "GitHub credentials are busy. Try again.";
constexpr std::string_view kLockTimeout =
    "Another Pellow window is updating GitHub sign-in. Try again shortly.";
constexpr std::string_view kNotAnObject = "GitHub returned an invalid response.";
constexpr std::string_view kNoAccess =
    "Pellow cannot access this repository. Allow Pellow Notes Sync to access it on GitHub, then "
    "refresh. Organization repositories may need administrator approval.";
constexpr std::string_view kUnauthorized =
    "GitHub sign-in expired or was revoked. Sign in again in Git sync settings.";
constexpr std::string_view kMoved =
    "This GitHub repository moved. Update its owner/name in Settings.";
constexpr std::string_view kCheckFailed =
    "GitHub could not check the repository. Try again shortly.";
constexpr std::string_view kArchived =
    "This repository is archived or disabled. Choose a writable notes repository.";
constexpr std::string_view kReadOnly =
    "This account has read-only access. Choose a writable repository and allow Pellow Contents "
    "read and write access on GitHub.";

// OAuth error codes are compared exactly; the two polling codes only reach here outside a poll,
// where they mean nothing of their own.
std::string_view oauthSentence(std::string_view code) {
  if (code == "expired_token" || code == "token_expired" || code == "incorrect_device_code" ||
      code == "bad_verification_code") {
    return auth::kExpiredCode;
  }
  if (code == "access_denied") return auth::kDenied;
  if (code == "bad_refresh_token") return auth::kRevoked;
  if (code == "device_flow_disabled" || code == "incorrect_client_credentials") {
    return auth::kNotEnabled;
  }
  if (code == "unverified_user_email") return auth::kUnverifiedEmail;
  return auth::kOtherOAuthError;
}

std::string rateLimitSentence(const std::optional<Date>& reset) {
  std::string message = "GitHub\u2019s request limit was reached. ";
  if (reset) {
    message += "Try again after " + formatShortTime(*reset) + ".";
  } else {
    message += "Wait a few minutes and try again.";
  }
  message += " Your notes are saved locally.";
  return message;
}

std::string referenceSentence() {
  std::string message = "Enter owner/repository or its ";
  message += config::webBaseURL();
  message += "/owner/repository URL.";
  return message;
}

// Safe for a trace line: GitHub's codes are lower-case words joined by "_"; anything else a
// server sent is not repeated.
std::string traceableCode(std::string_view code) {
  const bool word = code.size() <= 64 && std::all_of(code.begin(), code.end(), [](char c) {
                      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                             (c >= '0' && c <= '9');
                    });
  return word ? std::string(code) : std::string("(not a code)");
}

}  // namespace

// Every case returns: a failure added to the enumeration without words here fails the build
// (-Wswitch, warnings are errors).
std::string describeFailure(GitHubFailure failure, const FailureContext& context) {
  using enum GitHubFailure;
  switch (failure) {
    case stated:
      return context.statedMessage;
    case keychain:
      return std::string(kKeychainMessage);
    case unreadableCredential:
      return std::string(kUnreadableCredentialMessage);
    case signInRequired:
      return std::string(kSignInRequired);
    case lockNotPrivate:
      return std::string(kLockNotPrivate);
    case lockBusy:
      return std::string(kLockBusy);
    case lockTimeout:
      return std::string(kLockTimeout);
    case invalidAddress:
      return std::string(kInvalidAddressMessage);
    case invalidResponse:
      return std::string(kInvalidResponseMessage);
    case unreachable:
      return std::string(kUnreachableMessage);
    case apiNotAnObject:
      return std::string(kNotAnObject);
    case apiRateLimited:
      return rateLimitSentence(context.retryAt);
    case apiNoAccess:
      return std::string(kNoAccess);
    case apiUnauthorized:
      return std::string(kUnauthorized);
    case apiMoved:
      return std::string(kMoved);
    case apiFailed:
      return std::string(kCheckFailed);
    case invalidRepositoryReference:
      return referenceSentence();
    case archivedRepository:
      return std::string(kArchived);
    case readOnlyRepository:
      return std::string(kReadOnly);
    case registrationNotConfigured:
      return kRegistrationNotConfiguredMessage;
    case authorizationLimited:
      return auth::kRateLimited;
    case authorizationFailed:
      return auth::kStatusFailed;
    case oauthError:
      return std::string(oauthSentence(context.code));
    case invalidDeviceCode:
      return auth::kInvalidCode;
    case expiredDeviceCode:
      return auth::kExpiredCode;
    case renewalRefused:
      return auth::kRevoked;
    case noAccessToken:
      return auth::kNoAccessToken;
    case incompleteRenewal:
      return auth::kIncompleteRenewal;
    case accountNotVerified:
      return auth::kAccountNotVerified;
    case invalidAccount:
      return auth::kInvalidAccount;
  }
  return std::string(kGenericFailureMessage);  // a value outside the enumeration
}

std::string_view failureName(GitHubFailure failure) noexcept {
  using enum GitHubFailure;
  switch (failure) {
    case stated:
      return "stated";
    case keychain:
      return "keychain";
    case unreadableCredential:
      return "unreadableCredential";
    case signInRequired:
      return "signInRequired";
    case lockNotPrivate:
      return "lockNotPrivate";
    case lockBusy:
      return "lockBusy";
    case lockTimeout:
      return "lockTimeout";
    case invalidAddress:
      return "invalidAddress";
    case invalidResponse:
      return "invalidResponse";
    case unreachable:
      return "unreachable";
    case apiNotAnObject:
      return "apiNotAnObject";
    case apiRateLimited:
      return "apiRateLimited";
    case apiNoAccess:
      return "apiNoAccess";
    case apiUnauthorized:
      return "apiUnauthorized";
    case apiMoved:
      return "apiMoved";
    case apiFailed:
      return "apiFailed";
    case invalidRepositoryReference:
      return "invalidRepositoryReference";
    case archivedRepository:
      return "archivedRepository";
    case readOnlyRepository:
      return "readOnlyRepository";
    case registrationNotConfigured:
      return "registrationNotConfigured";
    case authorizationLimited:
      return "authorizationLimited";
    case authorizationFailed:
      return "authorizationFailed";
    case oauthError:
      return "oauthError";
    case invalidDeviceCode:
      return "invalidDeviceCode";
    case expiredDeviceCode:
      return "expiredDeviceCode";
    case renewalRefused:
      return "renewalRefused";
    case noAccessToken:
      return "noAccessToken";
    case incompleteRenewal:
      return "incompleteRenewal";
    case accountNotVerified:
      return "accountNotVerified";
    case invalidAccount:
      return "invalidAccount";
  }
  return "unknown";
}

std::string describeCause(const FailureContext& context) {
  std::string text = context.what;
  auto append = [&text](std::string_view separator, std::string_view part) {
    if (part.empty()) return;
    if (!text.empty()) text += separator;
    text += part;
  };
  append(" ", context.path);
  append(": ", context.detail);
  if (context.httpStatus != 0) append(": ", "HTTP " + std::to_string(context.httpStatus));
  if (!context.code.empty()) append(": ", "OAuth error " + traceableCode(context.code));
  if (context.systemError != 0) append(": ", std::generic_category().message(context.systemError));
  return text;
}

}  // namespace pellow
