// GitHubKeychain: keeps at most one GitHubCredential in the user's secret store, as one
// generic-password item keyed by `service` and the fixed account "github-app".
//
//   GitHubKeychain keychain("com.pemberhollo.pellow.github.v1", makeDefaultKeychainBackend());
//   if (std::optional<GitHubCredential> c = keychain.load()) ...
//   desktop.save(credential);    // writers go through GitHubDesktop::save() and disconnect(),
//   desktop.disconnect();        // which hold the credential lock of keychain.lockFolder()
//
// The item's data is the credential's compact JSON form. The first save adds the item with the
// label "Pellow GitHub sign-in" and the accessibility "when unlocked, this device only"; later
// saves replace only the data, so an existing item keeps its label and accessibility.
//
// Errors: every failure of the store (any status but success and "not found", a read that
// would need the user's interaction, a result without data, an incomplete credential given to
// save) throws PellowError with kKeychainMessage; status codes are never shown. Unreadable item
// data throws PellowError with kUnreadableCredentialMessage (from decodeKeychain). Nothing is
// retried, and a failed save never deletes the existing item.
//
// A plain value: copies share the backend. load() takes no lock; save() and deleteItem() take
// none either and must run inside the credential lock, as GitHubDesktop's save(), disconnect()
// and credential() run them, or another process could spend a refresh token at the same time. Not
// synchronised for use from several threads at once (the helper has one).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/KeychainBackend.h"

namespace pellow {

inline constexpr std::string_view kKeychainItemLabel = "Pellow GitHub sign-in";

class GitHubKeychain {
 public:
  // Keeps `backend` (shared by copies). `backend` must not be null.
  GitHubKeychain(std::string service, std::shared_ptr<KeychainBackend> backend);

  // The item's service attribute.
  const std::string& service() const { return service_; }

  // The stored credential, or nothing when there is no item. Never prompts.
  std::optional<GitHubCredential> load() const;

  // Stores `credential`: replaces the data of the existing item, or adds the item. Refuses,
  // without touching the store, a credential without accountID >= 1 and a non-empty login.
  // Throws PellowError, or the encoder's error (a non-finite timestamp) as it is.
  void save(const GitHubCredential& credential) const;

  // Deletes the item; deleting a missing item succeeds. ("delete" is a C++ keyword, hence the
  // name.)
  void deleteItem() const;

  // Where the credential lock of this store lives (KeychainBackend::lockFolder()).
  std::filesystem::path lockFolder() const;

 private:
  KeychainItemKey key() const;

  std::string service_;
  std::shared_ptr<KeychainBackend> backend_;
};

}  // namespace pellow
