#include "PellowGitHub/GitHubCredential.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>

#include "PellowGitHub/PellowError.h"
#include "PellowGitHub/support/Json.h"
#include "PellowGitHub/support/UTF8.h"

namespace pellow {
namespace {

constexpr double kRefreshMargin = 60.0;

// The platform encoder writes a whole-valued double without a fraction (60, not 60.0); stored
// items and answers keep that form.
nlohmann::json encodeDate(Date date) {
  const double seconds = date.sinceReferenceDate;
  if (!std::isfinite(seconds)) {
    throw std::invalid_argument("a timestamp is not a finite number");
  }
  constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53
  if (std::trunc(seconds) == seconds && std::fabs(seconds) < kExactIntegerLimit) {
    return static_cast<std::int64_t>(seconds);
  }
  return seconds;
}

const nlohmann::json* presentValue(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

std::optional<std::string> decodeString(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = presentValue(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) throw std::invalid_argument(std::string(key) + " is not a string");
  return value->get<std::string>();
}

std::optional<Date> decodeDate(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = presentValue(object, key);
  if (value == nullptr) return std::nullopt;
  const std::optional<double> seconds = json::number(*value);
  if (!seconds) throw std::invalid_argument(std::string(key) + " is not a number");
  return Date{*seconds};
}

}  // namespace

bool GitHubCredential::needsRefresh(Date now) const {
  if (!expiresAt) return false;
  return *expiresAt <= now + kRefreshMargin;
}

nlohmann::json GitHubCredential::toJSON() const {
  nlohmann::json object = nlohmann::json::object();
  object["accessToken"] = accessToken;
  if (refreshToken) object["refreshToken"] = *refreshToken;
  if (expiresAt) object["expiresAt"] = encodeDate(*expiresAt);
  if (refreshExpiresAt) object["refreshExpiresAt"] = encodeDate(*refreshExpiresAt);
  if (clientID) object["clientID"] = *clientID;
  if (accountID) object["accountID"] = *accountID;
  if (login) object["login"] = *login;
  return object;
}

std::string GitHubCredential::encoded() const { return json::serialize(toJSON()); }

GitHubCredential GitHubCredential::fromJSON(const nlohmann::json& object) {
  if (!object.is_object()) throw std::invalid_argument("a credential is not a JSON object");
  const auto token = object.find("accessToken");
  if (token == object.end() || !token->is_string()) {
    throw std::invalid_argument("accessToken is missing or not a string");
  }
  GitHubCredential credential(token->get<std::string>());
  credential.refreshToken = decodeString(object, "refreshToken");
  credential.expiresAt = decodeDate(object, "expiresAt");
  credential.refreshExpiresAt = decodeDate(object, "refreshExpiresAt");
  credential.clientID = decodeString(object, "clientID");
  if (const nlohmann::json* account = presentValue(object, "accountID")) {
    credential.accountID = json::integer(*account);
    if (!credential.accountID) throw std::invalid_argument("accountID is not an integer");
  }
  credential.login = decodeString(object, "login");
  return credential;
}

GitHubCredential GitHubCredential::decodeKeychain(std::string_view data) {
  try {
    GitHubCredential decoded = fromJSON(json::parse(data));
    if (!decoded.accessToken.empty()) return decoded;
  } catch (const json::JsonSyntaxError&) {
  } catch (const std::invalid_argument&) {
  } catch (const nlohmann::json::exception&) {
  }
  // Items written by hand or by older tools may hold the bare token; it is taken exactly as
  // stored, line ends included, because git sends the password byte for byte.
  if (!data.empty() && data.front() != '{' && isValidUTF8(data)) {
    return GitHubCredential(std::string(data));
  }
  throw PellowError(GitHubFailure::unreadableCredential);
}

}  // namespace pellow
