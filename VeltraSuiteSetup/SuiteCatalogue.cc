#include "VeltraSuiteSetup/SuiteCatalogue.h"

#include <algorithm>

namespace veltra {

std::string_view team() noexcept { return "K4TQ7WMX2P"; }

const std::unordered_map<std::string, std::string>& names() {
  // A function-local static: initialised once, thread-safe under the language's rules.
  static const std::unordered_map<std::string, std::string> catalogue{
      {"com.pemberhollo.pellow", "Pellow"}, {"com.pemberhollo.sorel", "Sorel"},
      {"com.pemberhollo.kesta", "Kesta"},   {"com.pemberhollo.mure", "Mure"},
      {"com.pemberhollo.tollis", "Tollis"}, {"local.dunmar.native", "Dunmar"},
  };
  return catalogue;
}

bool isCatalogueApp(std::string_view bundleId) {
  return names().find(std::string(bundleId)) != names().end();
}

const std::vector<std::string>& sortedCatalogueIds() {
  static const std::vector<std::string> ids = [] {
    std::vector<std::string> keys;
    for (const auto& [id, name] : names()) keys.push_back(id);
    std::sort(keys.begin(), keys.end());
    return keys;
  }();
  return ids;
}

bool identity(std::string_view identityText, std::string_view bundleId) {
  if (identityText == bundleId) return true;
  for (std::string_view scheme : {std::string_view("signed:"), std::string_view("development:")}) {
    const std::string prefix = std::string(scheme) + std::string(bundleId) + ":";
    if (identityText.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace veltra
