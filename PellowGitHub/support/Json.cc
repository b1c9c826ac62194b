#include "PellowGitHub/support/Json.h"

#include <cmath>
#include <limits>

#include "TextKit/JsonText.h"

namespace pellow::json {

nlohmann::json parse(std::string_view text) {
  // TextKit/JsonText.h: a NUL would end nlohmann's reading early; the text is refused, as the
  // platform reader refuses bytes after the top-level value.
  if (textkit::holdsNul(text)) {
    throw JsonSyntaxError("JSON text holds a NUL byte");
  }
  nlohmann::json value;
  try {
    // nlohmann accepts scalars at the top level and no comments; the platform reader accepts
    // only containers, which is checked below.
    value = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/true,
                                  /*ignore_comments=*/false);
  } catch (const nlohmann::json::exception& e) {
    throw JsonSyntaxError(e.what());
  }
  if (!value.is_object() && !value.is_array()) {
    throw JsonSyntaxError("JSON text did not start with array or object");
  }
  return value;
}

std::string serialize(const nlohmann::json& value) {
  return textkit::escapingSlashes(
      value.dump(-1, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::strict));
}

std::optional<std::int64_t> integer(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_integer:
      return value.get<std::int64_t>();
    case nlohmann::json::value_t::number_unsigned: {
      const auto u = value.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
      }
      return static_cast<std::int64_t>(u);
    }
    case nlohmann::json::value_t::number_float: {
      const double d = value.get<double>();
      // -2^63 is representable exactly; 2^63 is the first double past the range.
      if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 ||
          d >= 9223372036854775808.0) {
        return std::nullopt;
      }
      return static_cast<std::int64_t>(d);
    }
    default:
      return std::nullopt;
  }
}

std::optional<double> number(const nlohmann::json& value) {
  if (!value.is_number()) return std::nullopt;
  return value.get<double>();
}

}  // namespace pellow::json
