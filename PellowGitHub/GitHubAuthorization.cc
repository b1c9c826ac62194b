#include "PellowGitHub/GitHubAuthorization.h"

#include <algorithm>
#include <string>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/api/AuthorizationWire.h"
#include "PellowGitHub/api/GitHubAPI.h"
#include "PellowGitHub/api/OAuthSteps.h"
#include "PellowGitHub/support/Cancellation.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/UnicodeText.h"
#include "TextKit/AsciiCase.h"
#include "TextKit/PercentEncoding.h"

namespace pellow {
namespace {

constexpr std::string_view kDeviceCodePath = "/login/device/code";
constexpr std::string_view kTokenPath = "/login/oauth/access_token";
constexpr std::string_view kDeviceGrantType = "urn:ietf:params:oauth:grant-type:device_code";
constexpr std::string_view kUserAgent = "Pellow-iOS";
constexpr std::chrono::milliseconds kRequestTimeout{60'000};

// RFC 3986's unreserved characters.
bool keepsUnreserved(unsigned char c, std::size_t) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// User-perceived characters; ASCII text needs no Unicode tables.
std::size_t characterCount(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? text.size() : graphemeCount(text);
}

bool isUserCode(std::string_view text) {
  if (text.size() != 9) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = i == 4 ? c == '-' : ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    if (!ok) return false;
  }
  return true;
}

double seconds(std::int64_t value) { return static_cast<double>(value); }

[[noreturn]] void throwOAuthError(std::string_view path, const std::string& code) {
  throw PellowError(GitHubFailure::oauthError, {.what = "POST " + std::string(path), .code = code});
}

}  // namespace

std::string formBody(const std::map<std::string, std::string>& fields) {
  std::string body;
  for (const auto& [key, value] : fields) {  // std::map: ascending key order
    if (!body.empty()) body += '&';
    body += key;
    body += '=';
    body += textkit::percentEncode(value, keepsUnreserved);
  }
  return body;
}

HTTPResult GitHubAuthorization::postForm(std::string_view path, const FormFields& fields) const {
  HTTPRequest request;
  request.method = "POST";
  request.url = std::string(config::webBaseURL()) + std::string(path);
  request.timeout = kRequestTimeout;
  request.headers = {{"Accept", "application/json"},
                     {"Content-Type", "application/x-www-form-urlencoded"},
                     {"User-Agent", std::string(kUserAgent)}};
  request.body = formBody(fields);
  HTTPResult result = transport_.send(request);
  const long status = result.response.statusCode;
  if (status >= 200 && status <= 299) return result;
  const bool limited = status == 429 || status == 403;
  throw PellowError(
      limited ? GitHubFailure::authorizationLimited : GitHubFailure::authorizationFailed,
      {.what = "POST " + std::string(path), .httpStatus = status});
}

DeviceCode GitHubAuthorization::begin(const GitHubAppRegistration& app, Date now) const {
  const HTTPResult result =
      postForm(kDeviceCodePath, {{"client_id", app.clientID()}, {"scope", "offline_access"}});

  // GitHub may report an OAuth error with a success status; anything that is not a token-shaped
  // answer is left to the device-code decoding below.
  std::optional<TokenResponse> error;
  try {
    error = TokenResponse::decode(result.body);
  } catch (const DecodingError&) {
  }
  if (error && error->error) throwOAuthError(kDeviceCodePath, *error->error);

  const CodeResponse answer = CodeResponse::decode(result.body);
  const std::string expectedURI = std::string(config::webBaseURL()) + "/login/device";
  const std::size_t deviceCodeLength = characterCount(answer.deviceCode);
  if (answer.verificationURI != expectedURI || deviceCodeLength < 20 || deviceCodeLength > 200 ||
      !isUserCode(answer.userCode) || answer.expiresIn < 1 || answer.expiresIn > 1800 ||
      answer.interval < 1 || answer.interval > 120) {
    throw PellowError(GitHubFailure::invalidDeviceCode);
  }
  return DeviceCode{
      answer.userCode,          answer.verificationURI, now + seconds(answer.expiresIn),
      seconds(answer.interval), answer.deviceCode,      app.clientID()};
}

PollResult GitHubAuthorization::poll(const DeviceCode& code, Date now) const {
  if (!(now < code.expiresAt)) throw PellowError(GitHubFailure::expiredDeviceCode);
  const HTTPResult result = postForm(kTokenPath, {{"client_id", code.clientID},
                                                  {"device_code", code.deviceCode},
                                                  {"grant_type", std::string(kDeviceGrantType)}});
  const TokenResponse token = TokenResponse::decode(result.body);
  if (token.error) {
    if (*token.error == "authorization_pending") return PollResult::pending();
    if (*token.error == "slow_down") {
      return PollResult::slowDown(seconds(std::max<std::int64_t>(token.interval.value_or(0), 0)));
    }
    throwOAuthError(kTokenPath, *token.error);
  }
  GitHubCredential credential = makeCredential(token, code.clientID, now);
  fetchUser(credential);
  return PollResult::authorized(std::move(credential));
}

GitHubCredential makeCredential(const TokenResponse& token, std::string_view clientID, Date now) {
  if (!token.accessToken || token.accessToken->empty() || !token.tokenType ||
      textkit::lowercasedASCII(*token.tokenType) != "bearer") {
    throw PellowError(GitHubFailure::noAccessToken);
  }
  if (token.expiresIn) {
    const bool complete = *token.expiresIn > 0 && token.refreshToken &&
                          !token.refreshToken->empty() && token.refreshTokenExpiresIn &&
                          *token.refreshTokenExpiresIn > 0;
    if (!complete) throw PellowError(GitHubFailure::incompleteRenewal);
  }
  GitHubCredential credential(*token.accessToken);
  credential.refreshToken = token.refreshToken;
  if (token.expiresIn) credential.expiresAt = now + seconds(*token.expiresIn);
  if (token.refreshTokenExpiresIn) {
    credential.refreshExpiresAt = now + seconds(*token.refreshTokenExpiresIn);
  }
  credential.clientID = std::string(clientID);
  return credential;
}

void GitHubAuthorization::fetchUser(GitHubCredential& credential) const {
  HTTPRequest request;
  request.method = "GET";
  request.url = std::string(config::apiBaseURL()) + "/user";
  request.timeout = kRequestTimeout;
  request.headers = {{"Authorization", "Bearer " + credential.accessToken},
                     {"Accept", "application/vnd.github+json"},
                     {"X-GitHub-Api-Version", std::string(kAPIVersion)},
                     {"User-Agent", std::string(kUserAgent)}};
  const HTTPResult result = transport_.send(request);
  if (result.response.statusCode != 200) {
    throw PellowError(GitHubFailure::accountNotVerified,
                      {.what = "GET /user", .httpStatus = result.response.statusCode});
  }
  const User user = User::decode(result.body);
  if (user.id <= 0 || user.login.empty()) throw PellowError(GitHubFailure::invalidAccount);
  credential.accountID = user.id;
  credential.login = user.login;
}

GitHubCredential GitHubAuthorization::waitForAuthorization(const DeviceCode& code,
                                                           const std::stop_token& stop) const {
  double interval = code.interval;
  for (;;) {
    throwIfCancelled(stop);
    if (!(clock_.now() < code.expiresAt)) throw PellowError(GitHubFailure::expiredDeviceCode);
    clock_.sleep(interval, stop);
    throwIfCancelled(stop);
    PollResult result = poll(code, clock_.now());
    switch (result.kind) {
      case PollResult::Kind::authorized:
        return std::move(*result.credential);
      case PollResult::Kind::slowDown:
        interval = std::max(result.interval, interval + 5.0);
        break;
      case PollResult::Kind::pending:
        break;
    }
  }
}

GitHubCredential GitHubAuthorization::refresh(const GitHubCredential& credential, Date now) const {
  if (!credential.clientID || !credential.refreshToken ||
      (credential.refreshExpiresAt && !(now < *credential.refreshExpiresAt))) {
    throw PellowError(GitHubFailure::renewalRefused);
  }
  const HTTPResult result = postForm(kTokenPath, {{"client_id", *credential.clientID},
                                                  {"grant_type", "refresh_token"},
                                                  {"refresh_token", *credential.refreshToken}});
  const TokenResponse token = TokenResponse::decode(result.body);
  if (token.error) throwOAuthError(kTokenPath, *token.error);
  GitHubCredential renewed = makeCredential(token, *credential.clientID, now);
  renewed.accountID = credential.accountID;
  renewed.login = credential.login;
  return renewed;
}

}  // namespace pellow
