// The consent store: safe reads and locked, atomic replacement of "consent-v1.json".

#include "VeltraSuiteSetup/ConsentStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "PrivateFiles/AtomicFile.h"
#include "PrivateFiles/PrivateCheck.h"
#include "PrivateFiles/PrivateFile.h"
#include "PrivateFiles/PrivateFolder.h"
#include "PrivateFiles/UniqueFd.h"
#include "TextKit/BoundedRead.h"
#include "VeltraSuiteSetup/Catalogue.h"

namespace veltra {
namespace fs = std::filesystem;

namespace {

using privatefiles::FileKind;
using privatefiles::FlockHolder;
using privatefiles::UniqueFd;

constexpr const char* kStateFolder = ".suite-setup";
constexpr const char* kConsentFile = "consent-v1.json";
constexpr const char* kLockFile = "state.lock";

[[noreturn]] void fail(CocoaError code, const fs::path& path, const char* reason, int error = 0) {
  throw cocoaError(code, path, reason, error);
}

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
  if (isDirectory) return privatefiles::isPrivate(info, FileKind::directory);
  return privatefiles::isPrivate(info, FileKind::regularFile) &&
         static_cast<std::uintmax_t>(info.st_size) <= VeltraSuiteSetup::kMaxConsentFileSize;
}

// ".<UUID>.tmp", the UUID in upper case: the hidden temporary files of the consent file.
std::string temporaryName() {
  uuid_t uuid;
  ::uuid_generate_random(uuid);
  char text[37];
  ::uuid_unparse_upper(uuid, text);
  return std::string(".") + text + ".tmp";
}

bool isTemporaryName(std::string_view name) {
  constexpr std::string_view kShape = ".XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX.tmp";
  if (name.size() != kShape.size() || !name.ends_with(".tmp")) return false;
  for (std::size_t i = 0; i < kShape.size() - 4; ++i) {
    const char c = name[i];
    const bool matches =
        kShape[i] == 'X' ? (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') : c == kShape[i];
    if (!matches) return false;
  }
  return true;
}

constexpr privatefiles::TemporaryNames kTemporaryNames{&temporaryName, &isTemporaryName};

}  // namespace

void VeltraSuiteSetup::checkPrivatePath(const fs::path& url, bool isDirectory) {
  std::string walk = withSystemLinksResolved(url.string());
  while (true) {
    struct stat info {};
    if (::lstat(walk.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      fail(CocoaError::fileReadNoPermission, walk, "a symbolic link on the way");
    }
    if (walk == "/" || walk.empty()) break;
    walk = parentOf(walk);
  }
  struct stat info {};
  if (::lstat(url.c_str(), &info) != 0) {
    fail(CocoaError::fileReadNoPermission, url, "cannot be examined", errno);
  }
  if (!privateAndSmall(info, isDirectory)) {
    fail(CocoaError::fileReadNoPermission, url,
         isDirectory ? "not a private folder (0700, the user's own)"
                     : "not a private file (0600, the user's own, at most 32,768 bytes)");
  }
}

void VeltraSuiteSetup::prepareStateFolder(const fs::path& registry) {
  checkPrivatePath(registry, true);
  const fs::path state = registry / kStateFolder;
  // Another process may make the folder between the test and the creation; it is taken as found
  // then (failing would lose this caller's change on a first concurrent use), and the check
  // below judges it either way.
  if (!pathExists(state)) privatefiles::createPrivateFolder(AT_FDCWD, state.c_str());
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
  if (!fd) fail(CocoaError::fileReadNoPermission, file, "cannot be opened", errno);
  // The same checks once more on the opened file itself: a file swapped in after the path
  // check is caught here.
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !privateAndSmall(info, false)) {
    fail(CocoaError::fileReadNoPermission, file, "changed to a file that is not private");
  }
  // Exactly the size fstat counted: a file that is longer or shorter by now is being changed by
  // someone else, and is taken for corrupt as one that cannot be read.
  const auto size = static_cast<std::size_t>(info.st_size);
  const textkit::ReadResult got = textkit::readAll(fd.get(), size, size);
  if (got.status != textkit::ReadStatus::complete || got.bytes.size() != size) {
    fail(CocoaError::fileReadCorruptFile, file, "changed while it was read");
  }
  VeltraSuiteConsent record = VeltraSuiteConsent::decoded(got.bytes);
  if (record.version != 1 || record.teamId != team()) {
    fail(CocoaError::fileReadCorruptFile, file, "another version or team");
  }
  return record;
}

void VeltraSuiteSetup::update(const fs::path& registry, const ConsentChange& change) {
  prepareStateFolder(registry);
  const fs::path state = registry / kStateFolder;
  const fs::path lockPath = state / kLockFile;

  const UniqueFd lock =
      privatefiles::openPrivateFile(AT_FDCWD, lockPath.c_str(), O_RDWR | O_CLOEXEC);
  if (!lock) fail(CocoaError::fileWriteNoPermission, lockPath, "cannot be opened", errno);
  checkPrivatePath(lockPath, false);
  int locked;
  do {
    locked = ::flock(lock.get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) fail(CocoaError::fileWriteUnknown, lockPath, "cannot be locked", errno);
  const FlockHolder unlockOnExit(lock.get());

  const UniqueFd folder(::open(state.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) fail(CocoaError::fileWriteUnknown, state, "cannot be opened", errno);
  // Writers hold "state.lock", so a temporary file here is one that a writer killed mid-write
  // left; nothing else would ever remove it.
  if (const std::error_code error =
          privatefiles::removeTemporaries(folder.get(), kTemporaryNames)) {
    fail(CocoaError::fileWriteUnknown, state, "a killed writer's temporary file cannot be removed",
         error.value());
  }

  VeltraSuiteConsent record = read(registry);
  change(record);

  const std::string bytes = record.encoded();
  // Readers refuse files above the limit; writing one would lock every app out of the file
  // until someone repaired it by hand. Refuse the change instead and keep the old file.
  if (bytes.size() > kMaxConsentFileSize) {
    fail(CocoaError::fileWriteUnknown, state / kConsentFile,
         "the record would exceed 32,768 bytes");
  }
  if (const std::error_code error =
          privatefiles::replaceFile(folder.get(), kConsentFile, bytes, kTemporaryNames)) {
    fail(CocoaError::fileWriteUnknown, state / kConsentFile, "cannot be written", error.value());
  }
}

}  // namespace veltra
