// JSON reading and writing with the rules every GitHub-side component shares.
//
// Reading follows the rules of the platform JSON reader the helper was designed around: the top
// level must be an object or an array, the text must be valid UTF-8 (a UTF-8 byte order mark is
// skipped). Writing produces the helper's canonical answer form: compact, object keys in
// ascending byte order at every level (nlohmann::json keeps them sorted), UTF-8 as is, and every
// "/" written as "\/".
//
//   nlohmann::json request = pellow::json::parse(input);        // throws JsonSyntaxError
//   std::string answer = pellow::json::serialize({{"ok", payload}});
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pellow::json {

// Thrown by parse() for text the platform reader would refuse. Not a PellowError: the command
// layer reports it with the generic failure message.
class JsonSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses `text`; the result is an object or an array. Throws JsonSyntaxError otherwise
// (empty text, syntax error, invalid UTF-8, a scalar at the top level, any byte after the
// top-level value but white space, a NUL byte anywhere).
nlohmann::json parse(std::string_view text);

// The canonical compact form described above. Throws nlohmann::json::type_error for a string
// that is not valid UTF-8 (never produced by parse()).
std::string serialize(const nlohmann::json& value);

// A JSON number (never true/false) with an integral value that fits a signed 64-bit integer:
// 12, 12.0 and 1.2e1 all give 12; 12.5, 2^63, "12" and true give nothing.
std::optional<std::int64_t> integer(const nlohmann::json& value);

// A JSON number of any kind (integers included) as a double; nothing for other types.
std::optional<double> number(const nlohmann::json& value);

// The value of `key` in `object` when it has the JSON type of T (std::string, bool, ...), else
// null; also null when `object` is not an object. Points into `object`.
template <typename T>
const T* field(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : it->template get_ptr<const T*>();
}

// Whether `key` holds the boolean true (any other value, or none, is false).
inline bool isTrue(const nlohmann::json& object, const char* key) {
  const bool* value = field<bool>(object, key);
  return value != nullptr && *value;
}

}  // namespace pellow::json
