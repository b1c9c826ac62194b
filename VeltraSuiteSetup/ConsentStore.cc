// The consent store: safe reads and locked, atomic replacement of "consent-v1.json".

#include "VeltraSuiteSetup/ConsentStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <string>

#include "VeltraSuiteSetup/Catalogue.h"
#include "VeltraSuiteSetup/UniqueFd.h"

namespace veltra {
namespace fs = std::filesystem;

namespace {

constexpr const char* kStateFolder = ".suite-setup";
constexpr const char* kConsentFile = "consent-v1.json";
constexpr const char* kLockFile = "state.lock";

[[noreturn]] void fail(CocoaError code) { throw cocoaError(code); }

bool isSymlinkTo(const char* link, std::string_view target) {
  struct stat info {};
  if (::lstat(link, &info) != 0 || !S_ISLNK(info.st_mode)) return false;
  char buffer[256];
  const ssize_t length = ::readlink(link, buffer, sizeof buffer);
  if (length <= 0) return false;
  const std::string_view destination(buffer, static_cast<std::size_t>(length));
  return destination == target || destination == target.substr(1);
}

// On macOS "/tmp" and "/var" are the system's links into "/private"; the walk then follows the
// real folders. Where they are real folders (Linux) the path is walked as it is, so that every
// parent is checked.
std::string withSystemLinksResolved(std::string path) {
  if (path.starts_with("/tmp/") && isSymlinkTo("/tmp", "/private/tmp")) {
    path = "/private/tmp/" + path.substr(5);
  }
  if (path.starts_with("/var/") && isSymlinkTo("/var", "/private/var")) {
    path = "/private/var/" + path.substr(5);
  }
  return path;
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

bool pathExists(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool privateAndSmall(const struct stat& info, bool isDirectory) {
  if (info.st_uid != ::getuid() || (info.st_mode & 0077) != 0) return false;
  if (isDirectory) return S_ISDIR(info.st_mode);
  return S_ISREG(info.st_mode) &&
         static_cast<std::uintmax_t>(info.st_size) <= VeltraSuiteSetup::kMaxConsentFileSize;
}

std::string temporaryName() {
  uuid_t uuid;
  ::uuid_generate_random(uuid);
  char text[37];
  ::uuid_unparse_upper(uuid, text);
  return std::string(".") + text + ".tmp";
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Removes the temporary file unless it was renamed onto the consent file.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.reset();
    if (!renamed_) ::unlink(path_.c_str());
  }
  UniqueFd& fd() { return fd_; }
  const fs::path& path() const { return path_; }
  void markRenamed() { renamed_ = true; }

 private:
  fs::path path_;
  UniqueFd fd_;
  bool renamed_ = false;
};

}  // namespace

void VeltraSuiteSetup::checkPrivatePath(const fs::path& url, bool isDirectory) {
  std::string walk = withSystemLinksResolved(url.string());
  while (true) {
    struct stat info {};
    if (::lstat(walk.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      fail(CocoaError::fileReadNoPermission);
    }
    if (walk == "/" || walk.empty()) break;
    walk = parentOf(walk);
  }
  struct stat info {};
  if (::lstat(url.c_str(), &info) != 0 || !privateAndSmall(info, isDirectory)) {
    fail(CocoaError::fileReadNoPermission);
  }
}

void VeltraSuiteSetup::prepareStateFolder(const fs::path& registry) {
  checkPrivatePath(registry, true);
  const fs::path state = registry / kStateFolder;
  if (!pathExists(state)) {
    if (::mkdir(state.c_str(), 0700) == 0) {
      // mkdir applies the umask; the folder must be exactly 0700 whatever it is.
      if (::chmod(state.c_str(), 0700) != 0) {
        throw fs::filesystem_error("cannot set the state folder's permissions", state,
                                   std::error_code(errno, std::generic_category()));
      }
    } else if (errno != EEXIST) {
      throw fs::filesystem_error("cannot create the state folder", state,
                                 std::error_code(errno, std::generic_category()));
    }
    // EEXIST: another process made it since the test above. Failing here would lose this
    // caller's change on a first concurrent use; the check below judges the folder either way.
  }
  checkPrivatePath(state, true);
}

VeltraSuiteConsent VeltraSuiteSetup::read(const fs::path& registry) {
  const fs::path state = registry / kStateFolder;
  if (!pathExists(state)) return VeltraSuiteConsent();
  checkPrivatePath(registry, true);
  checkPrivatePath(state, true);
  const fs::path file = state / kConsentFile;
  if (!pathExists(file)) return VeltraSuiteConsent();
  checkPrivatePath(file, false);

  const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) fail(CocoaError::fileReadNoPermission);
  // The same checks once more on the opened file itself: a file swapped in after the path
  // check is caught here.
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !privateAndSmall(info, false)) {
    fail(CocoaError::fileReadNoPermission);
  }
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) fail(CocoaError::fileReadCorruptFile);
    filled += static_cast<std::size_t>(got);
  }
  VeltraSuiteConsent record = VeltraSuiteConsent::decoded(bytes);
  if (record.version != 1 || record.teamId != team()) fail(CocoaError::fileReadCorruptFile);
  return record;
}

void VeltraSuiteSetup::update(const fs::path& registry, const ConsentChange& change) {
  prepareStateFolder(registry);
  const fs::path state = registry / kStateFolder;
  const fs::path lockPath = state / kLockFile;

  const UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock) fail(CocoaError::fileWriteNoPermission);
  checkPrivatePath(lockPath, false);
  int locked;
  do {
    locked = ::flock(lock.get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) fail(CocoaError::fileWriteUnknown);
  const FlockHolder unlockOnExit(lock.get());

  VeltraSuiteConsent record = read(registry);
  change(record);

  TemporaryFile temporary(state / temporaryName());
  temporary.fd().reset(
      ::open(temporary.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!temporary.fd()) fail(CocoaError::fileWriteUnknown);

  const std::string bytes = record.encoded();
  // Readers refuse files above the limit; writing one would lock every app out of the file
  // until someone repaired it by hand. Refuse the change instead and keep the old file.
  if (bytes.size() > kMaxConsentFileSize) fail(CocoaError::fileWriteUnknown);
  if (!writeAll(temporary.fd().get(), bytes)) fail(CocoaError::fileWriteUnknown);
  if (::fsync(temporary.fd().get()) != 0) fail(CocoaError::fileWriteUnknown);
  if (::rename(temporary.path().c_str(), (state / kConsentFile).c_str()) != 0) {
    fail(CocoaError::fileWriteUnknown);
  }
  temporary.markRenamed();
}

}  // namespace veltra
