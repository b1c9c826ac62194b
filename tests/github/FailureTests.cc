// The words of every failure, byte for byte (the answers that the app, git and the SDK's callers
// see), and the cause line the trace prints beside them.

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "PellowGitHub/GitHubFailure.h"
#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow {
namespace {

using enum GitHubFailure;

TEST(GitHubFailure, EveryFailureHasItsSentence) {
  const struct {
    GitHubFailure failure;
    FailureContext context;
    std::string sentence;
  } rows[] = {
      {stated, {.statedMessage = "Invalid GitHub request."}, "Invalid GitHub request."},
      {keychain,
       {},
       "Pellow could not access GitHub credentials in Keychain. Unlock your Mac and "
       "allow Pellow\u2019s Keychain request, then try again."},
      {unreadableCredential,
       {},
       "The saved GitHub credential could not be read. Sign in again in Settings."},
      {signInRequired,
       {},
       "Sign in to the GitHub account connected to this notes folder in Settings \u2192 Git sync. "
       "Your notes remain saved locally."},
      {lockNotPrivate,
       {},
       "Pellow\u2019s GitHub credential lock is not private. Check the PellowGitHub folder in "
       "Application Support."},
      {lockBusy, {}, "GitHub credentials are busy. Try again."},
      {lockTimeout, {}, "Another Pellow window is updating GitHub sign-in. Try again shortly."},
      {invalidAddress, {}, "Invalid GitHub address."},
      {invalidResponse, {}, "GitHub returned an invalid response. Try again."},
      {unreachable,
       {},
       "Could not reach GitHub. Check your connection and try again. Your notes remain saved "
       "locally."},
      {apiNotAnObject, {}, "GitHub returned an invalid response."},
      {apiRateLimited,
       {},
       "GitHub\u2019s request limit was reached. Wait a few minutes and try again. Your notes are "
       "saved locally."},
      {apiNoAccess,
       {},
       "Pellow cannot access this repository. Allow Pellow Notes Sync to access it on GitHub, "
       "then refresh. Organization repositories may need administrator approval."},
      {apiUnauthorized,
       {},
       "GitHub sign-in expired or was revoked. Sign in again in Git sync settings."},
      {apiMoved, {}, "This GitHub repository moved. Update its owner/name in Settings."},
      {apiFailed, {}, "GitHub could not check the repository. Try again shortly."},
      {invalidRepositoryReference,
       {},
       "Enter owner/repository or its " + std::string(config::webBaseURL()) +
           "/owner/repository URL."},
      {archivedRepository,
       {},
       "This repository is archived or disabled. Choose a writable notes repository."},
      {readOnlyRepository,
       {},
       "This account has read-only access. Choose a writable repository and allow Pellow "
       "Contents read and write access on GitHub."},
      {registrationNotConfigured,
       {},
       "GitHub sign-in is not configured in this build. Use an access token instead."},
      {authorizationLimited,
       {},
       "GitHub temporarily limited sign-in attempts. Wait a few minutes and try again."},
      {authorizationFailed,
       {},
       "GitHub authorization could not complete. Check your connection and try again."},
      {oauthError,
       {.code = "access_denied"},
       "GitHub authorization was canceled. Your existing connection is unchanged."},
      {oauthError,
       {.code = "bad_refresh_token"},
       "Your GitHub authorization expired or was revoked. Sign in again in Settings. Your notes "
       "are saved locally."},
      {oauthError, {}, "GitHub authorization could not complete. Try signing in again."},
      {invalidDeviceCode,
       {},
       "GitHub returned an invalid authorization code. Try signing in again."},
      {expiredDeviceCode,
       {},
       "This GitHub code expired or is no longer valid. Start sign-in again for a new code."},
      {renewalRefused,
       {},
       "Your GitHub authorization expired or was revoked. Sign in again in Settings. Your notes "
       "are saved locally."},
      {noAccessToken, {}, "GitHub did not return an access token. Try signing in again."},
      {incompleteRenewal, {}, "GitHub returned incomplete renewal details. Try signing in again."},
      {accountNotVerified, {}, "GitHub could not verify your account. Try signing in again."},
      {invalidAccount, {}, "GitHub returned an invalid account."},
  };
  std::set<std::string_view> names;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(failureName(row.failure)));
    EXPECT_EQ(describeFailure(row.failure, row.context), row.sentence);
    const PellowError error(row.failure, row.context);
    EXPECT_EQ(error.message(), row.sentence);
    EXPECT_EQ(error.failure(), row.failure);
    names.insert(failureName(row.failure));
  }
  // Each failure is in the table once by name, and no name is the fallback's.
  EXPECT_EQ(names.size(), static_cast<std::size_t>(invalidAccount) + 1);
  EXPECT_FALSE(names.contains("unknown"));
}

TEST(GitHubFailure, CauseSaysWhatTheThrowerKnewAndRepeatsNoServerText) {
  const struct {
    FailureContext context;
    std::string cause;
  } rows[] = {
      {{}, ""},
      {{.statedMessage = "Invalid GitHub request."}, ""},
      {{.what = "read", .detail = "no item (status -25300)"}, "read: no item (status -25300)"},
      {{.path = "/p/credential.lock", .detail = "cannot be opened", .systemError = EACCES},
       "/p/credential.lock: cannot be opened: Permission denied"},
      {{.what = "GET /user", .httpStatus = 401}, "GET /user: HTTP 401"},
      {{.httpStatus = 404}, "HTTP 404"},
      {{.what = "POST /login/oauth/access_token", .code = "access_denied"},
       "POST /login/oauth/access_token: OAuth error access_denied"},
      {{.code = "x\n ghu_secret"}, "OAuth error (not a code)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(describeCause(row.context), row.cause);
    EXPECT_EQ(PellowError(oauthError, row.context).cause(), row.cause);
  }
}

// The API layer hands up the status and the limit's reset, not only a sentence.
TEST(GitHubFailure, RateLimitKeepsStatusAndReset) {
  HTTPResult limited;
  limited.response.statusCode = 403;
  limited.response.headers = {{"X-RateLimit-Remaining", "0"}, {"X-RateLimit-Reset", "1767225600"}};
  try {
    classifyAPIResponse(limited);
    ADD_FAILURE() << "a rate limit was taken for an answer";
  } catch (const PellowError& error) {
    EXPECT_EQ(error.failure(), apiRateLimited);
    EXPECT_EQ(error.context().httpStatus, 403);
    EXPECT_EQ(error.context().retryAt, Date::fromUnixSeconds(1767225600));
  }
}

}  // namespace
}  // namespace pellow
