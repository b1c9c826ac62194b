// The consent file's JSON form: decoded() either gives a record or throws DecodingError; a
// decoded record encodes to bytes that decode to the same record, and those bytes are a fixed
// point of encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  veltra::VeltraSuiteConsent record;
  try {
    record = veltra::VeltraSuiteConsent::decoded(bytes);
  } catch (const veltra::DecodingError&) {
    return 0;
  }
  (void)record.permits("com.pemberhollo.pellow", "com.pemberhollo.sorel", record.teamId);

  std::string encoded;
  try {
    encoded = record.encoded();
  } catch (const nlohmann::json::type_error&) {
    return 0;  // a text that is not UTF-8 cannot be written back; documented
  }
  const veltra::VeltraSuiteConsent again = veltra::VeltraSuiteConsent::decoded(encoded);
  if (!(again == record) || again.encoded() != encoded) std::abort();
  return 0;
}
