// The connected-apps list and the one-time connection alert.

#include "VeltraSuiteSetup/Scan.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>

#include "PrivateFiles/PrivateFile.h"
#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/ConsentStore.h"
#include "VeltraSuiteSetup/PairRules.h"

namespace veltra {
namespace fs = std::filesystem;

namespace {

bool shouldAsk(const VeltraSuiteConsent& consent, const std::string& key,
               const VeltraSuiteSetup::ScanOptions& options) {
  if (options.force) return true;
  if (consent.enabled) return false;
  if (consent.declinedSet == key) return false;
  return options.canPrompt;
}

std::vector<VeltraInstalledApp> permitted(const std::vector<VeltraInstalledApp>& apps,
                                          const VeltraSuiteConsent& consent,
                                          std::string_view local) {
  std::vector<VeltraInstalledApp> result;
  for (const auto& app : apps) {
    if (app.bundleId != local && consent.permits(local, app.bundleId, VeltraSuiteSetup::team())) {
      result.push_back(app);
    }
  }
  return result;
}

}  // namespace

std::vector<VeltraInstalledApp> VeltraSuiteSetup::scan(std::string_view local,
                                                       const fs::path& appURL,
                                                       const fs::path& registry,
                                                       const ScanOptions& options,
                                                       VeltraPlatform& platform) {
  const std::vector<VeltraInstalledApp> apps = installed(local, appURL, options.isolated, platform);
  const bool localFound =
      std::any_of(apps.begin(), apps.end(), [&](const auto& app) { return app.bundleId == local; });
  if (!localFound || apps.size() == 1) return {};

  VeltraSuiteConsent consent = read(registry);
  const std::string key = installedSetKey(apps);
  if (!shouldAsk(consent, key, options)) return permitted(apps, consent, local);

  prepareStateFolder(registry);
  const fs::path lockPath = registry / ".suite-setup" / "prompt.lock";
  const privatefiles::UniqueFd lock =
      privatefiles::openPrivateFile(AT_FDCWD, lockPath.c_str(), O_RDWR | O_CLOEXEC);
  if (!lock)
    throw cocoaError(CocoaError::fileWriteNoPermission, lockPath, "cannot be opened", errno);
  // One alert per registry folder at a time: whoever does not get the lock at once answers an
  // empty list rather than queueing a second alert behind the first.
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return {};
  const privatefiles::FlockHolder unlockOnExit(lock.get());

  // Another process may have recorded an answer while this one was deciding.
  consent = read(registry);
  if (!options.force && (consent.enabled || consent.declinedSet == key)) {
    return permitted(apps, consent, local);
  }

  std::vector<std::string> others;
  for (const auto& app : apps) {
    if (app.bundleId != local) others.push_back(app.name);
  }
  const AlertContent alert{"Connect your Veltra apps automatically?",
                           alertInformativeText(others),
                           {"Connect Veltra Apps", "Keep Separate"}};
  // If the alert cannot be shown the error leaves here and nothing is recorded: a "Keep
  // Separate" the user never chose would silence the question for this set of apps.
  const bool accepted = platform.alerts.runModal(alert) == kAlertFirstButtonReturn;

  // "state.lock" is taken inside "prompt.lock", never the other way round.
  update(registry, applySuiteAnswer(accepted, key, options.force));
  consent = read(registry);
  return permitted(apps, consent, local);
}

std::vector<VeltraInstalledApp> VeltraSuiteSetup::scan(std::string_view local,
                                                       const fs::path& appURL,
                                                       const fs::path& registry,
                                                       const ScanOptions& options) {
  return scan(local, appURL, registry, options, VeltraPlatform::system());
}

std::string VeltraSuiteSetup::alertInformativeText(const std::vector<std::string>& others) {
  std::string text = "We've detected other Veltra apps are installed: ";
  for (std::size_t i = 0; i < others.size(); ++i) {
    if (i > 0) text += ", ";
    text += others[i];
  }
  text +=
      ".\n\nGrant access between Veltra apps to your connected mail accounts, calendars, and "
      "current notes folder, including search, reviewed drafts, and AI use through Sorel's "
      "configured provider.\n\nWe'll also connect verified Veltra apps you install later. Sending "
      "mail and saving changes still happen in the owning app. You can disconnect any app in "
      "Connections.";
  return text;
}

}  // namespace veltra
