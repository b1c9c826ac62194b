// The catalogue members of VeltraSuiteSetup, and file URLs and the shared-registry test.

#include "VeltraSuiteSetup/SuiteCatalogue.h"
#include "VeltraSuiteSetup/VeltraSuiteSetup.h"

namespace veltra {

std::string_view VeltraSuiteSetup::team() noexcept { return veltra::team(); }

const std::unordered_map<std::string, std::string>& VeltraSuiteSetup::names() {
  return veltra::names();
}

bool VeltraSuiteSetup::identity(std::string_view identityText, std::string_view belongsTo) {
  return veltra::identity(identityText, belongsTo);
}

std::filesystem::path fileURL(const std::filesystem::path& path) {
  std::string text = std::filesystem::absolute(path).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool isIsolated(const std::filesystem::path& registry) {
  return !fileURL(registry).string().ends_with("VeltraIntegration/registry/v1");
}

}  // namespace veltra
