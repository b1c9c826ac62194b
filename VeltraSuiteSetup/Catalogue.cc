#include "VeltraSuiteSetup/Catalogue.h"

#include <algorithm>

#include "VeltraSuiteSetup/bundle/CodeSignature.h"

namespace veltra {

std::string_view VeltraSuiteSetup::team() noexcept { return "K4TQ7WMX2P"; }

const std::unordered_map<std::string, std::string>& VeltraSuiteSetup::names() {
  // A function-local static: initialised once, thread-safe under the language's rules.
  static const std::unordered_map<std::string, std::string> catalogue{
      {"com.pemberhollo.pellow", "Pellow"}, {"com.pemberhollo.sorel", "Sorel"},
      {"com.pemberhollo.kesta", "Kesta"},   {"com.pemberhollo.mure", "Mure"},
      {"com.pemberhollo.tollis", "Tollis"}, {"local.dunmar.native", "Dunmar"},
  };
  return catalogue;
}

bool VeltraSuiteSetup::isCatalogueApp(std::string_view bundleId) {
  return names().find(std::string(bundleId)) != names().end();
}

const std::vector<std::string>& VeltraSuiteSetup::sortedCatalogueIds() {
  static const std::vector<std::string> ids = [] {
    std::vector<std::string> keys;
    for (const auto& [id, name] : names()) keys.push_back(id);
    std::sort(keys.begin(), keys.end());
    return keys;
  }();
  return ids;
}

bool VeltraSuiteSetup::identity(std::string_view identityText, std::string_view belongsTo) {
  if (identityText == belongsTo) return true;
  for (std::string_view scheme : {std::string_view("signed:"), std::string_view("development:")}) {
    const std::string prefix = std::string(scheme) + std::string(belongsTo) + ":";
    if (identityText.starts_with(prefix)) return true;
  }
  return false;
}

bool VeltraSuiteSetup::verified(const std::filesystem::path& url, std::string_view bundleId) {
  if (!isCatalogueApp(bundleId)) return false;
  const SignatureVerifier* verifier = SignatureVerifier::builtIn();
  return verifier != nullptr && verifier->verify(url, bundleId, team());
}

}  // namespace veltra
