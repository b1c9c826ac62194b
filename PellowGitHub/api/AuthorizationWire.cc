#include "PellowGitHub/api/AuthorizationWire.h"

#include <charconv>

#include <nlohmann/json.hpp>

#include "PellowGitHub/support/Json.h"

namespace pellow {
namespace {

nlohmann::json parseObject(std::string_view body, const char* record) {
  nlohmann::json value;
  try {
    value = json::parse(body);
  } catch (const json::JsonSyntaxError&) {
    throw DecodingError(std::string(record) + ": not JSON");
  }
  if (!value.is_object()) throw DecodingError(std::string(record) + ": not an object");
  return value;
}

// The value of `key`, or nullptr when it is missing or null.
const nlohmann::json* present(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

[[noreturn]] void wrongType(const char* key) {
  throw DecodingError(std::string("wrong type or missing: ") + key);
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_string()) wrongType(key);
  return value->get<std::string>();
}

std::optional<std::int64_t> digitString(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::int64_t result = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (error != std::errc() || end != text.data() + text.size() || text.front() == '-') {
    return std::nullopt;
  }
  return result;
}

std::optional<std::int64_t> optionalInteger(const nlohmann::json& object, const char* key,
                                            bool acceptDigitString = false) {
  const nlohmann::json* value = present(object, key);
  if (value == nullptr) return std::nullopt;
  if (acceptDigitString && value->is_string()) {
    if (auto parsed = digitString(value->get_ref<const std::string&>())) return parsed;
    wrongType(key);
  }
  const auto integer = json::integer(*value);
  if (!integer) wrongType(key);
  return integer;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
  auto value = optionalString(object, key);
  if (!value) wrongType(key);
  return std::move(*value);
}

std::int64_t requiredInteger(const nlohmann::json& object, const char* key) {
  const auto value = optionalInteger(object, key);
  if (!value) wrongType(key);
  return *value;
}

}  // namespace

CodeResponse CodeResponse::decode(std::string_view body) {
  const nlohmann::json object = parseObject(body, "device code");
  CodeResponse result;
  result.deviceCode = requiredString(object, "device_code");
  result.userCode = requiredString(object, "user_code");
  result.verificationURI = requiredString(object, "verification_uri");
  result.expiresIn = requiredInteger(object, "expires_in");
  result.interval = requiredInteger(object, "interval");
  return result;
}

TokenResponse TokenResponse::decode(std::string_view body) {
  const nlohmann::json object = parseObject(body, "token");
  TokenResponse result;
  result.accessToken = optionalString(object, "access_token");
  result.tokenType = optionalString(object, "token_type");
  result.expiresIn = optionalInteger(object, "expires_in", true);
  result.refreshToken = optionalString(object, "refresh_token");
  result.refreshTokenExpiresIn = optionalInteger(object, "refresh_token_expires_in", true);
  result.error = optionalString(object, "error");
  result.interval = optionalInteger(object, "interval");
  return result;
}

User User::decode(std::string_view body) {
  const nlohmann::json object = parseObject(body, "user");
  User result;
  result.id = requiredInteger(object, "id");
  result.login = requiredString(object, "login");
  return result;
}

}  // namespace pellow
