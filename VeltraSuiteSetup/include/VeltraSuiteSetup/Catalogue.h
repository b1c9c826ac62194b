// Catalogue and identity: the suite's developer team, its six apps, and whether an app on disk is
// a genuine, unmodified catalogue app. Defined in Catalogue.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   if (S::isCatalogueApp(bundleId)) { ... }
//   S::identity("signed:com.pemberhollo.pellow:abc", "com.pemberhollo.pellow");       // true
//   bool genuine = S::verified("/Applications/Sorel.app", "com.pemberhollo.sorel");
//
// All functions are thread-safe. names() is built once, on first use, and never changes; it is a
// hash map, so callers that need a stable order use sortedCatalogueIds().
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace veltra::VeltraSuiteSetup {

// The developer team of the suite, "K4TQ7WMX2P".
std::string_view team() noexcept;

// Bundle identifier → user-visible name of the six catalogue apps.
const std::unordered_map<std::string, std::string>& names();

// Whether `bundleId` is a key of names() (exact, case-sensitive comparison).
bool isCatalogueApp(std::string_view bundleId);

// The bundle ids of the catalogue, ascending by plain code-point comparison.
const std::vector<std::string>& sortedCatalogueIds();

// True when `identityText` is `belongsTo` itself, or begins with "signed:" or "development:"
// followed by `belongsTo` and ":".
bool identity(std::string_view identityText, std::string_view belongsTo);

// Whether the bundle at `url` (or the bundle enclosing the file `url`, which must then be
// sealed too) is a catalogue app `bundleId` signed by the suite team with the built-in trust
// anchor, unmodified, and out of reach of other users: neither the bundle's entries nor the
// folder holding it may be owned by a user other than the caller or root or be writable by group
// or others (a sticky holding folder such as /tmp excepted), and no entry may carry a setuid or
// setgid bit. A `url` that runs through a symbolic link is resolved once and checked at its
// physical path. Never throws. A non-catalogue id gives false without touching the disk; no
// result is cached.
bool verified(const std::filesystem::path& url, std::string_view bundleId);

}  // namespace veltra::VeltraSuiteSetup
