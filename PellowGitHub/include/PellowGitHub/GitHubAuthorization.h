// GitHubAuthorization: signs a user in with the OAuth device flow of the GitHub App
// (RFC 8628), and renews an expiring user access token with its refresh token (RFC 6749 s. 6).
//
//   GitHubAuthorization authorization(transport, clock);
//   DeviceCode code = authorization.begin(GitHubAppRegistration::builtIn(), clock.now());
//   show(code.userCode, code.verificationURL);
//   PollResult result = authorization.poll(code, clock.now());   // one step per helper run
//   if (result.kind == PollResult::Kind::authorized) keychain.save(*result.credential);
//   ...
//   GitHubCredential renewed = authorization.refresh(stored, clock.now());
//
// Every request goes to the GitHub web origin (device code, token) or the API origin (/user)
// through the given transport, with a 60 s timeout and the User-Agent "Pellow-iOS". Nothing is
// retried here. Failures throw PellowError naming a GitHubFailure (authorizationLimited,
// authorizationFailed, oauthError, invalidDeviceCode, expiredDeviceCode, renewalRefused,
// noAccessToken, incompleteRenewal, accountNotVerified, invalidAccount) worded by the messages
// below, or pass on the transport's PellowError unchanged, or throw DecodingError for an answer
// that is not the expected record (shown by the command layer as its generic message), or
// CancellationError from waitForAuthorization. Keeps references to the transport and the clock, which must outlive it;
// holds no other state, so one object may serve any number of sign-ins one after another.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubAppRegistration.h"
#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/GitHubTransport.h"

namespace pellow {

namespace authorization_messages {
inline constexpr const char* kRateLimited =
    "GitHub temporarily limited sign-in attempts. Wait a few minutes and try again.";
inline constexpr const char* kStatusFailed =
    "GitHub authorization could not complete. Check your connection and try again.";
inline constexpr const char* kInvalidCode =
    "GitHub returned an invalid authorization code. Try signing in again.";
inline constexpr const char* kExpiredCode =
    "This GitHub code expired or is no longer valid. Start sign-in again for a new code.";
inline constexpr const char* kDenied =
    "GitHub authorization was canceled. Your existing connection is unchanged.";
inline constexpr const char* kRevoked =
    "Your GitHub authorization expired or was revoked. Sign in again in Settings. Your notes are "
    "saved locally.";
inline constexpr const char* kNotEnabled =
    "GitHub sign-in is not enabled correctly for this build. Use an access token or contact the "
    "app developer.";
inline constexpr const char* kUnverifiedEmail =
    "Verify your email address on GitHub, then sign in again.";
inline constexpr const char* kOtherOAuthError =
    "GitHub authorization could not complete. Try signing in again.";
inline constexpr const char* kNoAccessToken =
    "GitHub did not return an access token. Try signing in again.";
inline constexpr const char* kIncompleteRenewal =
    "GitHub returned incomplete renewal details. Try signing in again.";
inline constexpr const char* kAccountNotVerified =
    "GitHub could not verify your account. Try signing in again.";
inline constexpr const char* kInvalidAccount = "GitHub returned an invalid account.";
}  // namespace authorization_messages

// One sign-in in progress, as GitHub issued it.
struct DeviceCode {
  std::string userCode;         // four upper-case letters or digits, "-", four more
  std::string verificationURL;  // web base URL + "/login/device"
  Date expiresAt;               // after this the code is useless
  double interval = 0;          // minimum seconds between polls
  std::string deviceCode;       // identifies the sign-in to the token endpoint
  std::string clientID;         // OAuth client of the sign-in

  friend bool operator==(const DeviceCode&, const DeviceCode&) = default;
};

// The answer of one poll.
struct PollResult {
  enum class Kind { slowDown, authorized, pending };
  Kind kind = Kind::pending;
  double interval = 0;                         // slowDown: GitHub's new interval, 0 if none given
  std::optional<GitHubCredential> credential;  // authorized: complete, with account and login

  static PollResult pending() { return {}; }
  static PollResult slowDown(double seconds) { return {Kind::slowDown, seconds, std::nullopt}; }
  static PollResult authorized(GitHubCredential c) { return {Kind::authorized, 0, std::move(c)}; }
  friend bool operator==(const PollResult&, const PollResult&) = default;
};

class GitHubAuthorization {
 public:
  using FormFields = std::map<std::string, std::string>;

  explicit GitHubAuthorization(GitHubTransport& transport, Clock& clock = systemClock())
      : transport_(transport), clock_(clock) {}

  // Asks GitHub for a device code for `app`. The answer must carry verification_uri equal to
  // the web base URL + "/login/device", a device_code of 20 to 200 characters, a user_code
  // matching ^[A-Z0-9]{4}-[A-Z0-9]{4}$, expires_in within 1...1800 and interval within 1...120,
  // else kInvalidCode. An OAuth error object gives oauthError with its code.
  DeviceCode begin(const GitHubAppRegistration& app, Date now) const;

  // Asks once whether the user approved `code`. At or after code.expiresAt fails with
  // kExpiredCode without a request. "authorization_pending" → pending; "slow_down" → slowDown
  // with GitHub's interval (negative → 0, missing → 0); another error → its message; a token →
  // authorized with the credential completed by /user.
  PollResult poll(const DeviceCode& code, Date now) const;

  // Polls until authorized: first waits one interval (the clock's sleep, cut short by `stop`);
  // after "slow_down" with value x the interval becomes max(x, interval + 5). Before each wait
  // fails with kExpiredCode once the clock's date reaches code.expiresAt. Checks `stop` before
  // each expiry check and after each wait: a stop throws CancellationError.
  GitHubCredential waitForAuthorization(const DeviceCode& code,
                                        const std::stop_token& stop = {}) const;

  // Exchanges the refresh token of `credential` for new tokens. Refuses with kRevoked, without
  // a request, a credential without clientID or refreshToken, or whose refreshExpiresAt is not
  // after `now`. The result keeps the old clientID, accountID and login; everything else comes
  // from the answer (a missing refresh_token or expires_in stays missing).
  GitHubCredential refresh(const GitHubCredential& credential, Date now) const;

 private:
  // POSTs `fields` as a form to the web base URL + `path` with the headers Accept
  // "application/json", Content-Type "application/x-www-form-urlencoded", User-Agent
  // "Pellow-iOS". Returns the answer of a 2xx status; 403 and 429 fail with kRateLimited, any
  // other status with kStatusFailed.
  HTTPResult postForm(std::string_view path, const FormFields& fields) const;

  // GETs /user on the API origin with the credential's access token and fills in accountID and
  // login. Status other than 200 → kAccountNotVerified; id <= 0 or empty login →
  // kInvalidAccount.
  void fetchUser(GitHubCredential& credential) const;

  GitHubTransport& transport_;
  Clock& clock_;
};

}  // namespace pellow
