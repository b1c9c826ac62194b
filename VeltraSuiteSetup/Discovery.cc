// Installed-app discovery: one candidate location per catalogue app, kept only when verified.

#include "VeltraSuiteSetup/Discovery.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/JsonText.h"
#include "VeltraSuiteSetup/bundle/BundlePath.h"

namespace veltra {
namespace fs = std::filesystem;

bool isIsolated(const fs::path& registry) {
  return !absolutePath(registry).string().ends_with("VeltraIntegration/registry/v1");
}

std::vector<CheckedInstalledApp> VeltraSuiteSetup::installedChecked(std::string_view local,
                                                                    const fs::path& appURL,
                                                                    bool isolated,
                                                                    VeltraPlatform& platform) {
  std::vector<CheckedInstalledApp> apps;
  for (const std::string& bundleId : sortedCatalogueIds()) {
    const std::string& name = names().at(bundleId);
    const std::string bundleName = name + ".app";
    // An app that cannot be located is simply absent; discovery itself never fails.
    try {
      std::shared_ptr<const CheckedApp> checked;
      if (bundleId == local) {
        checked = platform.verifier.check(appURL, bundleId);
      } else if (isolated) {
        // Next to the caller as it really lies, not next to the link it was reached through.
        checked =
            platform.verifier.check(resolvedPath(appURL).parent_path() / bundleName, bundleId);
      } else {
        // The copy in the standard folder, as checked, is the candidate when it passes.
        checked = platform.verifier.check(platform.applicationsFolder / bundleName, bundleId);
        if (!checked) {
          if (const auto url = platform.workspace.urlForApplication(bundleId)) {
            checked = platform.verifier.check(*url, bundleId);
          }
        }
      }
      if (checked) {
        apps.push_back({{bundleId, name, checked->path().string()}, std::move(checked)});
      }
    } catch (...) {
    }
  }
  return apps;
}

std::vector<VeltraInstalledApp> VeltraSuiteSetup::installed(std::string_view local,
                                                            const fs::path& appURL, bool isolated,
                                                            VeltraPlatform& platform) {
  std::vector<VeltraInstalledApp> apps;
  for (CheckedInstalledApp& entry : installedChecked(local, appURL, isolated, platform)) {
    apps.push_back(std::move(entry.app));
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
  const nlohmann::json object = parseJsonText(bytes);
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
