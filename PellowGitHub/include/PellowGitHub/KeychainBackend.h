// KeychainBackend: the four calls the credential store needs of the user's secret store, on one
// generic-password item keyed by service and account.
//
// Two implementations: the Secret Service (the desktop keyring, over D-Bus) and a private file
// store for machines without one. Tests use an in-memory fake. The statuses mirror the Keychain's
// so that GitHubKeychain keeps one set of rules whatever the backend.
//
//   std::unique_ptr<KeychainBackend> backend = makeDefaultKeychainBackend();
//   std::optional<std::string> data;
//   if (backend->copyData({"svc", "github-app"}, data) == KeychainStatus::success) ...
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowSession/Session.h"

namespace pellow {

enum class KeychainStatus : std::int32_t {
  success = 0,
  itemNotFound = -25300,           // errSecItemNotFound
  interactionNotAllowed = -25308,  // the store would have to ask the user (locked, not allowed)
  ioError = -36,                   // any other failure
};

enum class KeychainAccessibility {
  whenUnlockedThisDeviceOnly,  // the only class this system writes
};

struct KeychainItemKey {
  std::string service;
  std::string account;
};

class KeychainBackend {
 public:
  virtual ~KeychainBackend() = default;

  // Reads the item's secret without ever asking the user. On success `data` holds the bytes, or
  // stays empty when the item exists but its secret is not plain data.
  virtual KeychainStatus copyData(const KeychainItemKey& key, std::optional<std::string>& data) = 0;

  // Replaces the secret of an existing item; label and accessibility stay as they were.
  // itemNotFound when there is no such item.
  virtual KeychainStatus update(const KeychainItemKey& key, std::string_view data) = 0;

  // Adds a new item. Any status but success leaves the store as it was.
  virtual KeychainStatus add(const KeychainItemKey& key, std::string_view data,
                             std::string_view label, KeychainAccessibility accessibility) = 0;

  // Deletes the item; itemNotFound when there is none.
  virtual KeychainStatus remove(const KeychainItemKey& key) = 0;

  // The folder of the credential lock that serialises every change of this store across
  // processes: all processes that use the same store must be given the same folder. By default
  // the "PellowGitHub" folder in Application Support, where the file store keeps its items; the
  // Secret Service backend answers the user's runtime folder instead, which does not depend on a
  // process's XDG_DATA_HOME or HOME. May throw std::runtime_error (no home folder at all).
  virtual std::filesystem::path lockFolder();
};

// The backend the helper uses on this machine: the Secret Service when a D-Bus session bus is
// reachable and a Secret Service answers on it, otherwise the private file store under the
// Application Support folder. Both come from `session` (its bus address and data home), which
// the backend copies. Never throws; never prompts.
std::unique_ptr<KeychainBackend> makeDefaultKeychainBackend(
    const Session& session = Session::current());

}  // namespace pellow
