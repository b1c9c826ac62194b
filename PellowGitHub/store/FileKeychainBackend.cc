#include "PellowGitHub/store/FileKeychainBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <system_error>
#include <utility>

#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowGitHub/store/FileKeychainItem.h"
#include "PellowGitHub/store/KeychainFolder.h"
#include "PrivateFiles/AtomicFile.h"
#include "PrivateFiles/PrivateCheck.h"
#include "PrivateFiles/UniqueFd.h"
#include "Session/Trace.h"

namespace pellow {
namespace {

using privatefiles::FileKind;
using privatefiles::isPrivate;
using privatefiles::UniqueFd;

constexpr const char* kPellowFolder = "PellowGitHub";

using keychainfiles::fail;
using keychainfiles::guarded;
using keychainfiles::removeLeftovers;

// Killed writers' leftovers are recognised by this name pattern only.
const privatefiles::TemporaryNames& temporaryNames() { return privatefiles::hexTemporaryNames(); }

// The checked Keychain folder, or an empty descriptor when it does not exist yet.
UniqueFd openStoreFolder(const std::filesystem::path& applicationSupport, bool create) {
  return openKeychainFolder(applicationSupport, create);
}

enum class ItemState { missing, damaged, present };

struct ExistingItem {
  ItemState state = ItemState::missing;
  KeychainItemRecord record;
};

ExistingItem readItem(int folder, const std::string& name, const KeychainItemKey& key) {
  keychainfiles::ItemFile file =
      keychainfiles::readItemFile(folder, name, kMaxKeychainItemData + kMaxKeychainItemHeader);
  if (file.state == keychainfiles::ItemFileState::missing) return {};
  if (file.state == keychainfiles::ItemFileState::damaged) return {ItemState::damaged, {}};

  std::optional<KeychainItemRecord> record = decodeKeychainItem(file.bytes);
  if (!record || record->service != key.service || record->account != key.account) {
    return {ItemState::damaged, {}};
  }
  return {ItemState::present, std::move(*record)};
}

std::string encodeChecked(const KeychainItemRecord& record) {
  std::string bytes = encodeKeychainItem(record);
  // What cannot be read back must not be written.
  if (record.data.size() > kMaxKeychainItemData ||
      bytes.size() - record.data.size() > kMaxKeychainItemHeader) {
    fail();
  }
  return bytes;
}

// Makes the rename durable. Its failure is not reported: the new item is already in place and
// visible, and a failed call must leave the store as it was, which is no longer possible.
void syncFolder(int folder) { ::fsync(folder); }

}  // namespace

FileKeychainBackend::FileKeychainBackend(std::filesystem::path applicationSupport)
    : applicationSupport_(std::move(applicationSupport)) {}

std::filesystem::path FileKeychainBackend::applicationSupport() const {
  return applicationSupport_ ? *applicationSupport_ : applicationSupportDirectory();
}

std::filesystem::path FileKeychainBackend::lockFolder() {
  return applicationSupport() / kPellowFolder;
}

KeychainStatus FileKeychainBackend::copyData(const KeychainItemKey& key,
                                             std::optional<std::string>& data) {
  data.reset();
  return guarded([&] {
    const UniqueFd folder = openStoreFolder(applicationSupport(), /*create=*/false);
    if (!folder) return KeychainStatus::itemNotFound;
    ExistingItem item = readItem(folder.get(), keychainItemFileName(key), key);
    switch (item.state) {
      case ItemState::missing:
        return KeychainStatus::itemNotFound;
      case ItemState::damaged:
        data.emplace();
        break;
      case ItemState::present:
        data = std::move(item.record.data);
        break;
    }
    return KeychainStatus::success;
  });
}

KeychainStatus FileKeychainBackend::update(const KeychainItemKey& key, std::string_view data) {
  return guarded([&] {
    const UniqueFd folder = openStoreFolder(applicationSupport(), /*create=*/false);
    if (!folder) return KeychainStatus::itemNotFound;
    removeLeftovers(folder.get());
    const std::string name = keychainItemFileName(key);
    ExistingItem item = readItem(folder.get(), name, key);
    if (item.state != ItemState::present) return KeychainStatus::itemNotFound;

    item.record.data.assign(data);
    const std::string bytes = encodeChecked(item.record);
    if (privatefiles::replaceFile(folder.get(), name.c_str(), bytes, temporaryNames())) fail();
    syncFolder(folder.get());
    return KeychainStatus::success;
  });
}

KeychainStatus FileKeychainBackend::add(const KeychainItemKey& key, std::string_view data,
                                        std::string_view label,
                                        KeychainAccessibility accessibility) {
  return guarded([&] {
    const KeychainItemRecord record{key.service, key.account, std::string(label), accessibility,
                                    std::string(data)};
    const std::string bytes = encodeChecked(record);
    const UniqueFd folder = openStoreFolder(applicationSupport(), /*create=*/true);
    removeLeftovers(folder.get());
    const std::string name = keychainItemFileName(key);

    // addFile never replaces an existing name, so an item added meanwhile is not lost.
    const std::error_code added =
        privatefiles::addFile(folder.get(), name.c_str(), bytes, temporaryNames());
    if (added) {
      // Only a damaged item may be replaced (writers are serialised by the credential lock).
      if (added != std::errc::file_exists ||
          readItem(folder.get(), name, key).state != ItemState::damaged ||
          privatefiles::replaceFile(folder.get(), name.c_str(), bytes, temporaryNames())) {
        fail();
      }
    }
    syncFolder(folder.get());
    return KeychainStatus::success;
  });
}

KeychainStatus FileKeychainBackend::remove(const KeychainItemKey& key) {
  return guarded([&] {
    const UniqueFd folder = openStoreFolder(applicationSupport(), /*create=*/false);
    if (!folder) return KeychainStatus::itemNotFound;
    // Signed out must mean that no copy of the credential is left, not even a killed writer's.
    // A leftover that cannot be removed must not keep the user signed in, though: the item goes
    // anyway, and the reason stays for the trace.
    sweepProblem_.clear();
    if (const std::error_code swept =
            privatefiles::removeTemporaries(folder.get(), temporaryNames())) {
      sweepProblem_ =
          "a temporary file in the keychain folder could not be removed: " + swept.message();
      trace::line("store", sweepProblem_);
    }
    const std::string name = keychainItemFileName(key);
    struct stat status {};
    if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return KeychainStatus::itemNotFound;
      fail();
    }
    if (!isPrivate(status, FileKind::regularFile)) fail();
    if (::unlinkat(folder.get(), name.c_str(), 0) != 0) {
      if (errno == ENOENT) return KeychainStatus::itemNotFound;
      fail();
    }
    syncFolder(folder.get());
    return KeychainStatus::success;
  });
}

}  // namespace pellow
