// The suite-setup operations: consent store, pair rules, catalogue and identity, discovery, the
// connection alert, connecting a pair and launching a sibling app.
//
//   using veltra::VeltraSuiteSetup;
//   auto consent = VeltraSuiteSetup::read(registry);               // no lock, never half-written
//   VeltraSuiteSetup::update(registry, [](veltra::VeltraSuiteConsent& r) { r.enabled = true; });
//   VeltraSuiteSetup::approvePair("com.pemberhollo.pellow", "com.pemberhollo.sorel", registry);
//   auto apps = VeltraSuiteSetup::scan(local, appURL, registry, isolated, false, true);
//
// Paths stand for file URLs: callers pass absolute paths without a trailing "/" (fileURL() makes
// one from any path). Failures are std::system_error in cocoaCategory() with the codes of
// CocoaError; DecodingError of the consent record and the encoder's and the file system's own
// errors pass through unchanged. Every operation is synchronous and keeps no state between calls.
// Operations that take a VeltraPlatform use its services; the overloads without one use
// VeltraPlatform::system().
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "VeltraSuiteSetup/CocoaError.h"
#include "VeltraSuiteSetup/Platform.h"
#include "VeltraSuiteSetup/VeltraSuiteConsent.h"

namespace veltra {

// One installed, verified suite app. Its JSON form has the keys "bundleId", "name", "path".
struct VeltraInstalledApp {
  std::string bundleId;
  std::string name;
  std::string path;  // absolute, no trailing "/"

  // {"bundleId":…,"name":…,"path":…}, compact.
  std::string encoded() const;
  // Requires the three keys as strings, ignores others; throws DecodingError.
  static VeltraInstalledApp decoded(std::string_view bytes);
};

using ConsentChange = std::function<void(VeltraSuiteConsent&)>;

// The absolute form of `path` (relative to the working directory) without trailing "/", as a
// file URL made from a path carries it.
std::filesystem::path fileURL(const std::filesystem::path& path);

// Whether `registry` is the suite's shared registry folder: its path ends with
// "VeltraIntegration/registry/v1". Every other folder runs isolated.
bool isIsolated(const std::filesystem::path& registry);

struct VeltraSuiteSetup {
  VeltraSuiteSetup() = delete;

  // Largest consent file accepted, in bytes.
  static constexpr std::uintmax_t kMaxConsentFileSize = 32768;

  // ---- Catalogue and identity ----
  static std::string_view team() noexcept;
  static const std::unordered_map<std::string, std::string>& names();
  static bool identity(std::string_view identityText, std::string_view belongsTo);

  // Whether the bundle at `url` (or the bundle enclosing the file `url`, which must then be
  // sealed too) is a catalogue app `bundleId` signed by the suite team with the built-in trust
  // anchor, unmodified. Never throws. A non-catalogue id gives false without touching the disk;
  // no result is cached. Thread-safe.
  static bool verified(const std::filesystem::path& url, std::string_view bundleId);

  // ---- Consent store ----
  // Throws 257 unless `url` and every folder above it are free of symbolic links ("/tmp" and
  // "/var" tolerated only where they are the system's links into "/private") and `url` is owned by
  // the real user, has no group/other permission bits and is a directory (isDirectory) or a
  // regular file of at most 32768 bytes.
  static void checkPrivatePath(const std::filesystem::path& url, bool isDirectory);
  // Checks the registry folder, creates ".suite-setup" (0700, no intermediates) if missing and
  // checks it. Throws 257, or the folder creation's std::filesystem::filesystem_error.
  static void prepareStateFolder(const std::filesystem::path& registry);
  // The stored record, or the default record when there is no state folder or file yet. Takes no
  // lock. Throws 257 (unsafe path or file), 259 (short read, version or team not the suite's),
  // DecodingError.
  static VeltraSuiteConsent read(const std::filesystem::path& registry);
  // Runs `change` on the current record under "state.lock" and atomically replaces the file.
  // `change` must not call update (the lock is not re-entrant). Throws 257/259/DecodingError from
  // the checks and the read, 513 when the lock file cannot be opened, 512 when locking or writing
  // fails or the new record would exceed 32768 bytes; the file is then unchanged, no temporary file
  // is left and the lock is released.
  static void update(const std::filesystem::path& registry, const ConsentChange& change);

  // ---- Pair rules ----
  // The two ids ascending by code point, joined by "|".
  static std::string pair(std::string_view a, std::string_view b);
  // read + permits with the built-in team + verified(executable, remote). Never throws.
  static bool permits(std::string_view local, std::string_view remote,
                      const std::filesystem::path& executable,
                      const std::filesystem::path& registry);
  // Throws 257 before touching anything unless both are distinct catalogue apps; otherwise
  // approves the pair under the store's lock (errors of update).
  static void approvePair(std::string_view local, std::string_view remote,
                          const std::filesystem::path& registry);
  // Records the pair as removed by the user (any ids). Errors of update.
  static void block(std::string_view local, std::string_view remote,
                    const std::filesystem::path& registry);
  // Whether the pair is in removedPairs (blockedPairs where removedPairs is absent). Errors of
  // read.
  static bool isBlocked(std::string_view local, std::string_view remote,
                        const std::filesystem::path& registry);
  // The change that records the answer to the suite-wide alert.
  static ConsentChange applySuiteAnswer(bool accepted, std::string installedSetKey,
                                        bool clearBlocked);

  // ---- Discovery ----
  // The installed, verified catalogue apps in bundle-id order, one candidate location each.
  // Never throws.
  static std::vector<VeltraInstalledApp> installed(std::string_view local,
                                                   const std::filesystem::path& appURL,
                                                   bool isolated, VeltraPlatform& platform);
  static std::vector<VeltraInstalledApp> installed(std::string_view local,
                                                   const std::filesystem::path& appURL,
                                                   bool isolated);
  // The ids of `apps` sorted ascending and joined by "|".
  static std::string installedSetKey(const std::vector<VeltraInstalledApp>& apps);
  // The alert's informative text naming `others` in the given order.
  static std::string alertInformativeText(const std::vector<std::string>& others);

  // ---- Scan and the connection alert ----
  // The installed apps that `local` may use now, asking the user once per set of installed apps
  // (see the .cc for the decision). Blocks in the alert until answered. A busy "prompt.lock"
  // gives an empty list at once. Throws the store's errors, 513 when "prompt.lock" cannot be
  // opened, and the presenter's error when no alert can be shown (then nothing is recorded).
  static std::vector<VeltraInstalledApp> scan(std::string_view local,
                                              const std::filesystem::path& appURL,
                                              const std::filesystem::path& registry, bool isolated,
                                              bool force, bool canPrompt, VeltraPlatform& platform);
  static std::vector<VeltraInstalledApp> scan(std::string_view local,
                                              const std::filesystem::path& appURL,
                                              const std::filesystem::path& registry, bool isolated,
                                              bool force, bool canPrompt);

  // ---- Connect and launch ----
  // Approves the pair after making sure both apps are installed and verified. Throws 260 when
  // either is not; errors of approvePair otherwise. The file is changed only by the approval.
  static void connectPair(std::string_view local, std::string_view remote,
                          const std::filesystem::path& appURL,
                          const std::filesystem::path& registry, bool isolated,
                          VeltraPlatform& platform);
  static void connectPair(std::string_view local, std::string_view remote,
                          const std::filesystem::path& appURL,
                          const std::filesystem::path& registry, bool isolated);
  // Makes sure `remote` runs: throws 257 (same ids, outside the catalogue, removed or blocked
  // pair), the store's errors, 260 (either app not installed and verified); returns when a
  // verified copy runs (in isolated mode: the one next to the caller); otherwise opens it in the
  // background (a new instance in isolated mode) and passes the open error on. A stop requested
  // on `stop` before the open throws std::system_error(ECANCELED) and opens nothing.
  static void launchDestination(std::string_view local, std::string_view remote,
                                const std::filesystem::path& appURL,
                                const std::filesystem::path& registry, bool isolated,
                                VeltraPlatform& platform, std::stop_token stop = {});
  static void launchDestination(std::string_view local, std::string_view remote,
                                const std::filesystem::path& appURL,
                                const std::filesystem::path& registry, bool isolated);

  // Whether a verified copy of `bundleId` runs; in isolated mode only one whose bundle is
  // `path` (standardised) counts. Reads a fresh running-application list.
  static bool isRunning(std::string_view bundleId, const std::filesystem::path& path, bool isolated,
                        VeltraPlatform& platform);
};

}  // namespace veltra
