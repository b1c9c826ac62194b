#include "PellowGitHub/store/KeychainFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "PrivateFiles/AtomicFile.h"
#include "PrivateFiles/PrivateCheck.h"
#include "PrivateFiles/PrivateFolder.h"
#include "TextKit/BoundedRead.h"

namespace pellow {
namespace {

using privatefiles::UniqueFd;

[[noreturn]] void fail(int error) {
  throw std::system_error(error, std::generic_category(), "keychain folder");
}

// Opens the private folder `name` inside `parent` and checks it. An empty descriptor means the
// folder does not exist (only when `create` is false).
UniqueFd openPrivateFolder(int parent, const char* name, bool create) {
  if (create) privatefiles::createPrivateFolder(parent, name);
  UniqueFd folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    if (errno == ENOENT && !create) return {};
    fail(errno);
  }
  struct stat status {};
  if (::fstat(folder.get(), &status) != 0 ||
      !privatefiles::isPrivate(status, privatefiles::FileKind::directory)) {
    fail(EPERM);
  }
  return folder;
}

}  // namespace

UniqueFd openKeychainFolder(const std::filesystem::path& applicationSupport, bool create) {
  if (create) privatefiles::createPrivateFolders(applicationSupport);
  UniqueFd root(::open(applicationSupport.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    if (errno == ENOENT && !create) return {};
    fail(errno);
  }
  UniqueFd pellow = openPrivateFolder(root.get(), "PellowGitHub", create);
  if (!pellow) return {};
  return openPrivateFolder(pellow.get(), "Keychain", create);
}

namespace keychainfiles {

void removeLeftovers(int folder) {
  if (privatefiles::removeTemporaries(folder, privatefiles::hexTemporaryNames())) fail();
}

ItemFile readItemFile(int folder, const std::string& name, std::size_t limit) {
  // O_NONBLOCK: opening a FIFO planted under the item's name must not wait for a writer; the
  // kind check below refuses it.
  UniqueFd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    if (errno == ENOENT) return {};
    fail();
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 ||
      !privatefiles::isPrivate(status, privatefiles::FileKind::regularFile)) {
    fail();
  }
  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > limit) {
    return {ItemFileState::damaged, {}};
  }
  // One read normally suffices; a file that grew since fstat is read to its end, within the limit.
  textkit::ReadResult read =
      textkit::readAll(file.get(), limit, static_cast<std::size_t>(status.st_size));
  if (read.status == textkit::ReadStatus::tooLong) return {ItemFileState::damaged, {}};
  if (read.status == textkit::ReadStatus::failed) fail();
  return {ItemFileState::present, std::move(read.bytes)};
}

}  // namespace keychainfiles
}  // namespace pellow
