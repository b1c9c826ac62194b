#include "PellowGitHub/store/PortalKeychainBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <system_error>
#include <utility>

#include "PellowGitHub/store/FileKeychainBackend.h"
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

constexpr std::string_view kMagic = "pellow-sealed-item 1\n";
constexpr std::size_t kSealOverhead = 1 + 12 + 16;
constexpr std::size_t kMaxFile =
    kMagic.size() + kSealOverhead + kMaxKeychainItemData + kMaxKeychainItemHeader;

using keychainfiles::fail;
using keychainfiles::guarded;
using keychainfiles::removeLeftovers;

// Binds the format, the service and the account to the ciphertext; the lengths keep
// ("ab", "c") and ("a", "bc") apart.
std::string associatedData(const KeychainItemKey& key) {
  return std::string(kMagic) + std::to_string(key.service.size()) + ":" + key.service +
         std::to_string(key.account.size()) + ":" + key.account;
}

using FileState = keychainfiles::ItemFileState;

using keychainfiles::readItemFile;

struct SealedItem {
  FileState state = FileState::missing;
  KeychainItemRecord record;
};

void removeIfPresent(int folder, const std::string& name) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;
    fail();
  }
  if (!isPrivate(status, FileKind::regularFile)) fail();
  if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) fail();
}

}  // namespace

PortalKeychainBackend::PortalKeychainBackend(std::filesystem::path applicationSupport,
                                             std::unique_ptr<SecretPortal> portal, Session session)
    : applicationSupport_(std::move(applicationSupport)),
      portal_(std::move(portal)),
      session_(std::move(session)) {}

PortalKeychainBackend::~PortalKeychainBackend() {
  volatile char* bytes = secret_.data();
  for (std::size_t i = 0; i < secret_.size(); ++i) bytes[i] = 0;
}

std::string PortalKeychainBackend::sealedFileName(const KeychainItemKey& key) {
  std::string name = keychainItemFileName(key);
  name.resize(name.size() - std::string_view(".item").size());
  return name + ".sealed";
}

std::filesystem::path PortalKeychainBackend::lockFolder() {
  return applicationSupport_ / "PellowGitHub";
}

template <typename Plain, typename Sealed>
KeychainStatus PortalKeychainBackend::route(Plain plain, Sealed sealed) {
  switch (mode()) {
    case Mode::plain:
      return plain(*plain_);
    case Mode::unavailable:
      return KeychainStatus::interactionNotAllowed;
    default:
      return guarded(sealed);
  }
}

PortalKeychainBackend::Mode PortalKeychainBackend::mode() {
  if (mode_ != Mode::unknown) return mode_;
  switch (portal_->retrieveSecret(secret_)) {
    case PortalAnswer::secret:
      trace::line("store", "Secret portal store in " + applicationSupport_.string() +
                               "/PellowGitHub/Keychain (encrypted with the app's portal secret)");
      mode_ = Mode::sealed;
      break;
    case PortalAnswer::absent:
      trace::line("store",
                  "file store: no Secret portal in this sandbox; the credential is kept "
                  "unencrypted in a private file, as on a machine without a keyring");
      plain_ = std::make_unique<FileKeychainBackend>(applicationSupport_);
      mode_ = Mode::plain;
      break;
    case PortalAnswer::refused:
      trace::line("store",
                  "the Secret portal refused the app's secret (the keyring is locked or "
                  "access was denied); nothing is read or written");
      mode_ = Mode::unavailable;
      break;
    case PortalAnswer::failed:
      trace::line("store",
                  "the Secret portal failed or did not answer within the budget; nothing "
                  "is read or written");
      mode_ = Mode::unavailable;
      break;
  }
  if (mode_ != Mode::sealed) secret_.clear();
  return mode_;
}

namespace {

// The shared steps of the sealed store, with the secret and session it needs.
class Sealer {
 public:
  Sealer(const Session& session, const std::string& secret) : session_(session), secret_(secret) {}

  SealedItem read(int folder, const KeychainItemKey& key) const {
    keychainfiles::ItemFile file =
        readItemFile(folder, PortalKeychainBackend::sealedFileName(key), kMaxFile);
    if (file.state != FileState::present) return {file.state, {}};
    const std::string_view bytes = file.bytes;
    if (bytes.substr(0, kMagic.size()) != kMagic) return {FileState::damaged, {}};
    std::string plaintext;
    switch (openWithPortalSecret(session_, secret_, associatedData(key),
                                 bytes.substr(kMagic.size()), plaintext)) {
      case UnsealStatus::opened:
        break;
      case UnsealStatus::notAuthentic:
        trace::line("store", "the sealed item fails authentication (changed, or another key)");
        return {FileState::damaged, {}};
      case UnsealStatus::failed:
        fail();
    }
    std::optional<KeychainItemRecord> record = decodeKeychainItem(plaintext);
    if (!record || record->service != key.service || record->account != key.account) {
      return {FileState::damaged, {}};
    }
    return {FileState::present, std::move(*record)};
  }

  std::string seal(const KeychainItemRecord& record) const {
    if (record.data.size() > kMaxKeychainItemData) fail();
    const std::optional<std::string> sealed =
        sealWithPortalSecret(session_, secret_, associatedData({record.service, record.account}),
                             encodeKeychainItem(record));
    if (!sealed) fail();
    return std::string(kMagic) + *sealed;
  }

 private:
  const Session& session_;
  const std::string& secret_;
};

// The plain item an earlier version left, read once for its move into the sealed store.
std::optional<KeychainItemRecord> plainItem(int folder, const KeychainItemKey& key, bool& damaged) {
  keychainfiles::ItemFile file = readItemFile(folder, keychainItemFileName(key),
                                              kMaxKeychainItemData + kMaxKeychainItemHeader);
  damaged = file.state == FileState::damaged;
  if (file.state != FileState::present) return std::nullopt;
  std::optional<KeychainItemRecord> record = decodeKeychainItem(file.bytes);
  if (!record || record->service != key.service || record->account != key.account) {
    damaged = true;
    return std::nullopt;
  }
  return record;
}

}  // namespace

KeychainStatus PortalKeychainBackend::copyData(const KeychainItemKey& key,
                                               std::optional<std::string>& data) {
  data.reset();
  return route([&](KeychainBackend& plain) { return plain.copyData(key, data); },
               [&] {
                 const UniqueFd folder = openKeychainFolder(applicationSupport_, /*create=*/false);
                 if (!folder) return KeychainStatus::itemNotFound;
                 const Sealer sealer(session_, secret_);
                 SealedItem item = sealer.read(folder.get(), key);
                 if (item.state == FileState::damaged) {
                   data.emplace();  // unreadable, not signed out
                   return KeychainStatus::success;
                 }
                 if (item.state == FileState::present) {
                   data = std::move(item.record.data);
                   return KeychainStatus::success;
                 }
                 bool damaged = false;
                 std::optional<KeychainItemRecord> plain = plainItem(folder.get(), key, damaged);
                 if (damaged) {
                   data.emplace();
                   return KeychainStatus::success;
                 }
                 if (!plain) return KeychainStatus::itemNotFound;
                 // The move: a sealed item that appeared meanwhile wins, and the plain file goes either way.
                 const std::error_code added =
                     privatefiles::addFile(folder.get(), sealedFileName(key).c_str(),
                                           sealer.seal(*plain), privatefiles::hexTemporaryNames());
                 if (added && added != std::errc::file_exists) fail();
                 removeIfPresent(folder.get(), keychainItemFileName(key));
                 ::fsync(folder.get());
                 trace::line(
                     "store",
                     "moved the unencrypted item of an earlier version into the portal store");
                 if (added) return copyData(key, data);
                 data = std::move(plain->data);
                 return KeychainStatus::success;
               });
}

KeychainStatus PortalKeychainBackend::update(const KeychainItemKey& key, std::string_view data) {
  return route([&](KeychainBackend& plain) { return plain.update(key, data); },
               [&] {
                 const UniqueFd folder = openKeychainFolder(applicationSupport_, /*create=*/false);
                 if (!folder) return KeychainStatus::itemNotFound;
                 removeLeftovers(folder.get());
                 const Sealer sealer(session_, secret_);
                 SealedItem item = sealer.read(folder.get(), key);
                 if (item.state != FileState::present) return KeychainStatus::itemNotFound;
                 item.record.data.assign(data);
                 if (privatefiles::replaceFile(folder.get(), sealedFileName(key).c_str(),
                                               sealer.seal(item.record),
                                               privatefiles::hexTemporaryNames())) {
                   fail();
                 }
                 ::fsync(folder.get());
                 return KeychainStatus::success;
               });
}

KeychainStatus PortalKeychainBackend::add(const KeychainItemKey& key, std::string_view data,
                                          std::string_view label,
                                          KeychainAccessibility accessibility) {
  return route([&](KeychainBackend& plain) { return plain.add(key, data, label, accessibility); },
               [&] {
                 const Sealer sealer(session_, secret_);
                 const std::string bytes =
                     sealer.seal({key.service, key.account, std::string(label), accessibility,
                                  std::string(data)});
                 const UniqueFd folder = openKeychainFolder(applicationSupport_, /*create=*/true);
                 removeLeftovers(folder.get());
                 const std::string name = sealedFileName(key);
                 const std::error_code added = privatefiles::addFile(
                     folder.get(), name.c_str(), bytes, privatefiles::hexTemporaryNames());
                 if (added) {
                   // Only an unreadable item may be replaced; writers are serialised by the credential lock.
                   if (added != std::errc::file_exists ||
                       sealer.read(folder.get(), key).state != FileState::damaged ||
                       privatefiles::replaceFile(folder.get(), name.c_str(), bytes,
                                                 privatefiles::hexTemporaryNames())) {
                     fail();
                   }
                 }
                 removeIfPresent(folder.get(), keychainItemFileName(key));
                 ::fsync(folder.get());
                 return KeychainStatus::success;
               });
}

KeychainStatus PortalKeychainBackend::remove(const KeychainItemKey& key) {
  return route([&](KeychainBackend& plain) { return plain.remove(key); },
               [&] {
                 const UniqueFd folder = openKeychainFolder(applicationSupport_, /*create=*/false);
                 if (!folder) return KeychainStatus::itemNotFound;
                 removeLeftovers(folder.get());
                 bool found = false;
                 for (const std::string& name : {sealedFileName(key), keychainItemFileName(key)}) {
                   struct stat status {};
                   if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                     found = true;
                   removeIfPresent(folder.get(), name);
                 }
                 ::fsync(folder.get());
                 return found ? KeychainStatus::success : KeychainStatus::itemNotFound;
               });
}

}  // namespace pellow
