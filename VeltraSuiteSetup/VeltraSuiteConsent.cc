#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/JsonText.h"
#include "VeltraSuiteSetup/PairRules.h"

namespace veltra {
namespace {

using Json = nlohmann::json;

const Json* member(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

const Json& required(const Json& object, const char* key) {
  const Json* value = member(object, key);
  if (value == nullptr) throw DecodingError(std::string("missing value for key \"") + key + "\"");
  return *value;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
  throw DecodingError(std::string("expected ") + expected + " for key \"" + key + "\"");
}

bool boolean(const Json& value, const char* key) {
  if (!value.is_boolean()) wrongType(key, "a boolean");
  return value.get<bool>();
}

std::string text(const Json& value, const char* key) {
  if (!value.is_string()) wrongType(key, "a string");
  return value.get<std::string>();
}

// A JSON number with an integral value that fits in 64 bits; 1.0 counts, true does not.
std::int64_t integer(const Json& value, const char* key) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      wrongType(key, "a 64-bit integer");
    }
    return value.get<std::int64_t>();
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // 2^63 is exactly representable and is the first double out of range.
    if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
        number < 9223372036854775808.0) {
      return static_cast<std::int64_t>(number);
    }
  }
  wrongType(key, "a 64-bit integer");
}

double number(const Json& value, const char* key) {
  if (!value.is_number()) wrongType(key, "a number");
  const double result = value.get<double>();
  if (!std::isfinite(result)) wrongType(key, "a finite number");
  return result;
}

std::vector<std::string> texts(const Json& value, const char* key) {
  if (!value.is_array()) wrongType(key, "an array of strings");
  std::vector<std::string> result;
  result.reserve(value.size());
  for (const Json& element : value) result.push_back(text(element, key));
  return result;
}

bool contains(const std::optional<std::vector<std::string>>& list, const std::string& key) {
  return list && std::find(list->begin(), list->end(), key) != list->end();
}

constexpr std::string_view kMure = "com.pemberhollo.mure";
constexpr std::string_view kTollis = "com.pemberhollo.tollis";

}  // namespace

bool VeltraSuiteConsent::permits(std::string_view local, std::string_view remote,
                                 std::optional<std::string_view> teamArg) const {
  const std::string key = VeltraSuiteSetup::pair(local, remote);
  if (version != 1) return false;
  const bool ownApprovalOnly =
      local == kMure || local == kTollis || remote == kMure || remote == kTollis;
  if (ownApprovalOnly && !contains(approvedPairs, key)) return false;
  if (!(enabled && pairOnly != true) && !contains(approvedPairs, key)) return false;
  if (teamId != VeltraSuiteSetup::team()) return false;
  if (!teamArg || *teamArg != teamId) return false;
  if (local == remote) return false;
  if (!VeltraSuiteSetup::isCatalogueApp(local) || !VeltraSuiteSetup::isCatalogueApp(remote)) {
    return false;
  }
  return std::find(blockedPairs.begin(), blockedPairs.end(), key) == blockedPairs.end();
}

std::string VeltraSuiteConsent::encoded() const {
  Json object = Json::object();
  object["version"] = version;
  object["enabled"] = enabled;
  if (approvedPairs) object["approvedPairs"] = *approvedPairs;
  if (pairOnly) object["pairOnly"] = *pairOnly;
  if (removedPairs) object["removedPairs"] = *removedPairs;
  object["teamId"] = teamId;
  if (approvedAt) object["approvedAt"] = *approvedAt;
  object["blockedPairs"] = blockedPairs;
  if (declinedSet) object["declinedSet"] = *declinedSet;
  return object.dump();
}

VeltraSuiteConsent VeltraSuiteConsent::decoded(std::string_view bytes) {
  std::string problem;
  const Json object = parseJsonText(bytes, &problem);
  if (object.is_discarded()) throw DecodingError("not valid JSON: " + problem);
  if (!object.is_object()) throw DecodingError("expected a JSON object");

  VeltraSuiteConsent record;
  record.version = integer(required(object, "version"), "version");
  record.enabled = boolean(required(object, "enabled"), "enabled");
  if (const Json* v = member(object, "approvedPairs"))
    record.approvedPairs = texts(*v, "approvedPairs");
  if (const Json* v = member(object, "pairOnly")) record.pairOnly = boolean(*v, "pairOnly");
  if (const Json* v = member(object, "removedPairs"))
    record.removedPairs = texts(*v, "removedPairs");
  record.teamId = text(required(object, "teamId"), "teamId");
  if (const Json* v = member(object, "approvedAt")) record.approvedAt = number(*v, "approvedAt");
  record.blockedPairs = texts(required(object, "blockedPairs"), "blockedPairs");
  if (const Json* v = member(object, "declinedSet")) record.declinedSet = text(*v, "declinedSet");
  return record;
}

}  // namespace veltra
