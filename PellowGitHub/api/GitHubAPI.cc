#include "PellowGitHub/api/GitHubAPI.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "PellowGitHub/support/Json.h"
#include "TextKit/AsciiCase.h"

namespace pellow {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is wholly a decimal floating-point number: [+-] digits [. digits] [e [+-] digits],
// with at least one digit before the exponent.
bool isDecimalNumber(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

// GitHub's documented wording for its secondary limits ("You have exceeded a secondary rate
// limit..."), matched in any letter case.
constexpr std::string_view kSecondaryLimitWording = "secondary rate limit";

// Whether the body is GitHub's error object with a "message" naming a secondary rate limit.
// A secondary limit leaves the primary quota untouched and often sends no Retry-After, so the
// message is the only sign; without it the user would be sent to fix permissions that are fine.
bool namesSecondaryLimit(std::string_view body) {
  nlohmann::json object;
  try {
    object = json::parse(body);
  } catch (const json::JsonSyntaxError&) {
    return false;  // an HTML error page or a truncated body says nothing about limits
  }
  const std::string* message = json::field<std::string>(object, "message");
  return message != nullptr &&
         textkit::lowercasedASCII(*message).find(kSecondaryLimitWording) != std::string::npos;
}

bool isRateLimited(const HTTPResult& result) {
  const HTTPResponse& response = result.response;
  if (response.statusCode == 429) return true;
  if (response.statusCode != 403) return false;
  if (response.header("X-RateLimit-Remaining") == std::optional<std::string_view>("0")) {
    return true;
  }
  if (response.header("Retry-After").has_value()) return true;
  return namesSecondaryLimit(result.body);
}

}  // namespace

HTTPRequest apiRequest(std::string_view path, const GitHubCredential& credential) {
  HTTPRequest request;
  request.method = "GET";
  request.url = std::string(config::apiBaseURL()) + std::string(path);
  request.timeout = std::chrono::seconds(60);
  request.headers = {
      {"Authorization", "Bearer " + credential.accessToken},
      {"Accept", "application/vnd.github+json"},
      {"X-GitHub-Api-Version", std::string(kAPIVersion)},
      {"User-Agent", std::string(kAPIUserAgent)},
  };
  return request;
}

std::optional<Date> rateLimitReset(const HTTPResponse& response) {
  const std::optional<std::string_view> value = response.header("X-RateLimit-Reset");
  if (!value || !isDecimalNumber(*value)) return std::nullopt;
  // from_chars takes no "+" sign.
  const std::string_view digits = value->front() == '+' ? value->substr(1) : *value;
  double seconds = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
  // An exponent too large for a double is a number no clock can show.
  if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return Date::fromUnixSeconds(seconds);
}

nlohmann::json classifyAPIResponse(const HTTPResult& result) {
  const HTTPResponse& response = result.response;
  const long status = response.statusCode;
  if (status >= 200 && status <= 299) {
    nlohmann::json value = json::parse(result.body);
    if (!value.is_object())
      throw PellowError(GitHubFailure::apiNotAnObject, {.httpStatus = status});
    return value;
  }
  // The context names the status only: GitHub's own answer text is not kept, as it may quote
  // what was sent.
  if (isRateLimited(result)) {
    throw PellowError(GitHubFailure::apiRateLimited,
                      {.httpStatus = status, .retryAt = rateLimitReset(response)});
  }
  GitHubFailure failure = GitHubFailure::apiFailed;
  if (status == 403 || status == 404) failure = GitHubFailure::apiNoAccess;
  if (status == 401) failure = GitHubFailure::apiUnauthorized;
  if (status >= 301 && status <= 399) failure = GitHubFailure::apiMoved;
  throw PellowError(failure, {.httpStatus = status});
}

}  // namespace pellow
