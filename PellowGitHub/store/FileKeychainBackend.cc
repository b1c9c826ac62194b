#include "PellowGitHub/store/FileKeychainBackend.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <exception>
#include <utility>

#include "PellowGitHub/store/ApplicationSupport.h"
#include "PellowGitHub/store/FileKeychainItem.h"

namespace pellow {
namespace {

constexpr const char* kPellowFolder = "PellowGitHub";
constexpr const char* kKeychainFolder = "Keychain";

// Thrown inside this file only; every public call turns it into its status.
struct StoreFailure {
  KeychainStatus status;
};

[[noreturn]] void fail() { throw StoreFailure{KeychainStatus::ioError}; }

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  // Closes now; a late write error of some file systems surfaces only here.
  bool closeChecked() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

bool isPrivate(const struct stat& status, mode_t kind) {
  return (status.st_mode & S_IFMT) == kind && status.st_uid == ::getuid() &&
         (status.st_mode & 077) == 0;
}

// Creates the missing folders of `path` with mode 0700, as the platform's "create with
// intermediate folders" does. Existing ones are left as they are.
void createDirectories(const std::filesystem::path& path) {
  std::filesystem::path current;
  for (const auto& part : path) {
    current /= part;
    if (::mkdir(current.c_str(), 0700) == 0 || errno == EEXIST) continue;
    struct stat status {};
    if (::stat(current.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
    fail();
  }
}

// Opens the private folder `name` inside `parent` and checks it. An empty descriptor means the
// folder does not exist (only when `create` is false).
UniqueFd openPrivateFolder(int parent, const char* name, bool create) {
  if (create && ::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) fail();
  UniqueFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    if (errno == ENOENT && !create) return {};
    fail();
  }
  struct stat status {};
  if (::fstat(folder.get(), &status) != 0 || !isPrivate(status, S_IFDIR)) fail();
  return folder;
}

// The checked Keychain folder, or an empty descriptor when it does not exist yet.
UniqueFd openStoreFolder(const std::filesystem::path& applicationSupport, bool create) {
  if (create) createDirectories(applicationSupport);
  UniqueFd root(::open(applicationSupport.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    if (errno == ENOENT && !create) return {};
    fail();
  }
  UniqueFd pellow = openPrivateFolder(root.get(), kPellowFolder, create);
  if (!pellow) return {};
  return openPrivateFolder(pellow.get(), kKeychainFolder, create);
}

enum class ItemState { missing, damaged, present };

struct ExistingItem {
  ItemState state = ItemState::missing;
  KeychainItemRecord record;
};

ExistingItem readItem(int folder, const std::string& name, const KeychainItemKey& key) {
  // O_NONBLOCK: opening a FIFO planted under the item's name must not wait for a writer; the
  // kind check below refuses it.
  UniqueFd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    if (errno == ENOENT) return {};
    fail();
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !isPrivate(status, S_IFREG)) fail();

  constexpr std::size_t kLimit = kMaxKeychainItemData + kMaxKeychainItemHeader;
  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kLimit) {
    return {ItemState::damaged, {}};
  }
  // One read normally suffices; the loop covers a file that grew since fstat.
  std::string bytes(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > kLimit) return {ItemState::damaged, {}};
      bytes.resize(bytes.size() * 2);
    }
    const ssize_t count = ::read(file.get(), bytes.data() + used, bytes.size() - used);
    if (count < 0) {
      if (errno == EINTR) continue;
      fail();
    }
    if (count == 0) break;
    used += static_cast<std::size_t>(count);
  }
  bytes.resize(used);

  std::optional<KeychainItemRecord> record = decodeKeychainItem(bytes);
  if (!record || record->service != key.service || record->account != key.account) {
    return {ItemState::damaged, {}};
  }
  return {ItemState::present, std::move(*record)};
}

std::string randomHex(std::size_t byteCount) {
  unsigned char random[16] = {};
  if (byteCount > sizeof random) byteCount = sizeof random;
  if (::getrandom(random, byteCount, 0) != static_cast<ssize_t>(byteCount)) {
    // Uniqueness is all that matters here (O_EXCL guards the rest), so the clock will do.
    auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    ticks ^= static_cast<std::uint64_t>(::getpid()) << 40;
    for (std::size_t i = 0; i < byteCount; ++i) {
      random[i] = static_cast<unsigned char>(ticks >> ((i % 8) * 8));
    }
  }
  constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < byteCount; ++i) {
    out.push_back(kHex[random[i] >> 4]);
    out.push_back(kHex[random[i] & 0xF]);
  }
  return out;
}

// A hidden temporary file in the store folder, removed when this object goes away unless it
// was moved onto the item.
class TemporaryFile {
 public:
  explicit TemporaryFile(int folder) : folder_(folder) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::string name = "." + randomHex(8) + ".tmp";
      file_ = UniqueFd(::openat(folder_, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (file_) {
        name_ = std::move(name);
        return;
      }
      if (errno != EEXIST) break;
    }
    fail();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.reset();
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }

  // Writes all of `bytes`, syncs them to the disk and closes the file.
  void writeAndSync(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t count = ::write(file_.get(), bytes.data(), bytes.size());
      if (count < 0) {
        if (errno == EINTR) continue;
        fail();
      }
      bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    if (::fsync(file_.get()) != 0 || !file_.closeChecked()) fail();
  }

  const std::string& name() const { return name_; }
  // The file now lives under another name; nothing is left to remove.
  void moved() { name_.clear(); }

 private:
  int folder_;
  UniqueFd file_;
  std::string name_;
};

std::string encodeChecked(const KeychainItemRecord& record) {
  std::string bytes = encodeKeychainItem(record);
  // What cannot be read back must not be written.
  if (record.data.size() > kMaxKeychainItemData ||
      bytes.size() - record.data.size() > kMaxKeychainItemHeader) {
    fail();
  }
  return bytes;
}

void renameOnto(int folder, TemporaryFile& temporary, const std::string& name) {
  if (::renameat(folder, temporary.name().c_str(), folder, name.c_str()) != 0) fail();
  temporary.moved();
}

// Makes the rename durable. Its failure is not reported: the new item is already in place and
// visible, and a failed call must leave the store as it was, which is no longer possible.
void syncFolder(int folder) { ::fsync(folder); }

template <typename Body>
KeychainStatus guarded(Body body) noexcept {
  try {
    return body();
  } catch (const StoreFailure& failure) {
    return failure.status;
  } catch (const std::exception&) {
    return KeychainStatus::ioError;
  }
}

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
    const std::string name = keychainItemFileName(key);
    ExistingItem item = readItem(folder.get(), name, key);
    if (item.state != ItemState::present) return KeychainStatus::itemNotFound;

    item.record.data.assign(data);
    const std::string bytes = encodeChecked(item.record);
    TemporaryFile temporary(folder.get());
    temporary.writeAndSync(bytes);
    renameOnto(folder.get(), temporary, name);
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
    const std::string name = keychainItemFileName(key);
    TemporaryFile temporary(folder.get());
    temporary.writeAndSync(bytes);

    // A hard link never replaces an existing name, so an item added meanwhile is not lost.
    if (::linkat(folder.get(), temporary.name().c_str(), folder.get(), name.c_str(), 0) != 0) {
      const int linkError = errno;
      const ItemState existing = readItem(folder.get(), name, key).state;
      // Only a damaged item may be replaced; where the file system has no hard links, a free
      // name is taken by rename (writers are serialised by the credential lock).
      const bool replaceable =
          existing == ItemState::damaged || (linkError != EEXIST && existing == ItemState::missing);
      if (!replaceable) fail();
      renameOnto(folder.get(), temporary, name);
    }
    syncFolder(folder.get());
    return KeychainStatus::success;
  });
}

KeychainStatus FileKeychainBackend::remove(const KeychainItemKey& key) {
  return guarded([&] {
    const UniqueFd folder = openStoreFolder(applicationSupport(), /*create=*/false);
    if (!folder) return KeychainStatus::itemNotFound;
    const std::string name = keychainItemFileName(key);
    struct stat status {};
    if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return KeychainStatus::itemNotFound;
      fail();
    }
    if (!isPrivate(status, S_IFREG)) fail();
    if (::unlinkat(folder.get(), name.c_str(), 0) != 0) {
      if (errno == ENOENT) return KeychainStatus::itemNotFound;
      fail();
    }
    syncFolder(folder.get());
    return KeychainStatus::success;
  });
}

}  // namespace pellow
