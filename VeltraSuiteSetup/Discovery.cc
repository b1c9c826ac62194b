// Installed-app discovery: one candidate location per catalogue app, kept only when verified.

#include "VeltraSuiteSetup/Discovery.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "VeltraSuiteSetup/Catalogue.h"

namespace veltra {
namespace fs = std::filesystem;

fs::path absolutePath(const fs::path& path) {
  std::string text = fs::absolute(path).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool isIsolated(const fs::path& registry) {
  return !absolutePath(registry).string().ends_with("VeltraIntegration/registry/v1");
}

std::vector<VeltraInstalledApp> VeltraSuiteSetup::installed(std::string_view local,
                                                            const fs::path& appURL, bool isolated,
                                                            VeltraPlatform& platform) {
  std::vector<VeltraInstalledApp> apps;
  for (const std::string& bundleId : sortedCatalogueIds()) {
    const std::string& name = names().at(bundleId);
    const std::string bundleName = name + ".app";
    // An app that cannot be located is simply absent; discovery itself never fails.
    try {
      std::optional<fs::path> candidate;
      if (bundleId == local) {
        candidate = appURL;
      } else if (isolated) {
        candidate = absolutePath(appURL).parent_path() / bundleName;
      } else if (const fs::path standard = platform.applicationsFolder / bundleName;
                 platform.verifier.verified(standard, bundleId)) {
        candidate = standard;
      } else {
        candidate = platform.workspace.urlForApplication(bundleId);
      }
      if (candidate && platform.verifier.verified(*candidate, bundleId)) {
        apps.push_back({bundleId, name, absolutePath(*candidate).string()});
      }
    } catch (...) {
    }
  }
  return apps;
}

std::vector<VeltraInstalledApp> VeltraSuiteSetup::installed(std::string_view local,
                                                            const fs::path& appURL, bool isolated) {
  return installed(local, appURL, isolated, VeltraPlatform::system());
}

std::string VeltraInstalledApp::encoded() const {
  return nlohmann::json{{"bundleId", bundleId}, {"name", name}, {"path", path}}.dump();
}

VeltraInstalledApp VeltraInstalledApp::decoded(std::string_view bytes) {
  const auto object = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (!object.is_object()) throw DecodingError("expected a JSON object");
  auto text = [&object](const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
      throw DecodingError(std::string("expected a string for key \"") + key + "\"");
    }
    return it->get<std::string>();
  };
  return VeltraInstalledApp{text("bundleId"), text("name"), text("path")};
}

std::string VeltraSuiteSetup::installedSetKey(const std::vector<VeltraInstalledApp>& apps) {
  std::vector<std::string> ids;
  ids.reserve(apps.size());
  for (const auto& app : apps) ids.push_back(app.bundleId);
  std::sort(ids.begin(), ids.end());
  std::string key;
  for (const auto& id : ids) {
    if (!key.empty()) key += "|";
    key += id;
  }
  return key;
}

}  // namespace veltra
