// The consent record shared by all suite apps, and its JSON file form.
//
//   veltra::VeltraSuiteConsent record;                 // version 1, suite off, nothing approved
//   std::string bytes = record.encoded();              // {"blockedPairs":[],"enabled":false,...}
//   auto back = veltra::VeltraSuiteConsent::decoded(bytes);   // throws veltra::DecodingError
//   bool ok = back.permits("com.pemberhollo.pellow", "com.pemberhollo.sorel",
//                          veltra::VeltraSuiteSetup::team());   // Catalogue.h
//
// A plain value: copied on assignment, compared field by field. Absent optionals are omitted from
// the JSON form, never written as null; unknown keys are dropped on decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

// The decoder's error: the bytes are not JSON, not an object, lack a required key, or hold a
// value of the wrong type. what() says which.
class DecodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct VeltraSuiteConsent {
  std::int64_t version = 1;
  bool enabled = false;
  std::optional<std::vector<std::string>> approvedPairs;
  std::optional<bool> pairOnly;
  std::optional<std::vector<std::string>> removedPairs;
  std::string teamId = "K4TQ7WMX2P";
  std::optional<double> approvedAt;  // milliseconds since 1970-01-01T00:00:00Z
  std::vector<std::string> blockedPairs;
  std::optional<std::string> declinedSet;

  bool operator==(const VeltraSuiteConsent&) const = default;

  // Whether `local` may use `remote` under this record. `team` absent never permits. Pure.
  bool permits(std::string_view local, std::string_view remote,
               std::optional<std::string_view> team) const;

  // The compact JSON form: the four required keys always, optionals only when present.
  // Throws nlohmann's type_error if a text is not valid UTF-8 (the encoder's error).
  std::string encoded() const;

  // Parses the JSON form strictly: "version" an integral number, "enabled" a boolean,
  // "teamId" a string, "blockedPairs" an array of strings; optionals may be missing or null.
  // Throws DecodingError. Does not judge version or team: the store does that.
  static VeltraSuiteConsent decoded(std::string_view bytes);
};

}  // namespace veltra
