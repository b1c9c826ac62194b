// The suite: its developer team and its six apps.
//
//   if (veltra::names().contains(bundleId)) { ... a catalogue app ... }
//   veltra::identity("signed:com.pemberhollo.pellow:abc", "com.pemberhollo.pellow");  // true
//
// All functions are pure and thread-safe. names() is built once, on first use, and never changes;
// it is a hash map, so callers that need a stable order sort its keys.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace veltra {

// The developer team of the suite, "K4TQ7WMX2P".
std::string_view team() noexcept;

// Bundle identifier → user-visible name of the six catalogue apps.
const std::unordered_map<std::string, std::string>& names();

// Whether `bundleId` is a key of names() (exact, case-sensitive comparison).
bool isCatalogueApp(std::string_view bundleId);

// True when `identityText` is `bundleId` itself, or begins with "signed:" or "development:"
// followed by `bundleId` and ":".
bool identity(std::string_view identityText, std::string_view bundleId);

// The bundle ids of the catalogue, ascending by plain code-point comparison.
const std::vector<std::string>& sortedCatalogueIds();

}  // namespace veltra
