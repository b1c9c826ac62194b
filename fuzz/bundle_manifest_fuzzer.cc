// The bundle manifest's JSON form: decoded() accepts only an object with a string identifier
// and a files object of 64-digit lower-case hex strings, and what it accepts survives encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "VeltraSuiteSetup/bundle/BundleManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto manifest = veltra::BundleManifest::decoded(bytes);
  if (!manifest) return 0;
  for (const auto& [path, hash] : manifest->files) {
    if (hash.size() != 64) std::abort();
    for (char c : hash) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
    }
  }
  std::string encoded;
  try {
    encoded = manifest->encoded();
  } catch (const nlohmann::json::type_error&) {
    return 0;  // text that is not UTF-8 cannot be written back
  }
  const auto again = veltra::BundleManifest::decoded(encoded);
  if (!again || again->identifier != manifest->identifier || again->files != manifest->files) {
    std::abort();
  }
  return 0;
}
