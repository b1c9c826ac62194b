#include "PrivateFiles/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "PrivateFiles/UniqueFd.h"
#include "PrivateFiles/WriteAll.h"

namespace privatefiles {
namespace {

// Random names practically never collide; a few attempts cover the case that they do.
constexpr int kNameAttempts = 8;

std::error_code lastError() { return {errno, std::generic_category()}; }

// Nothing gets a name before its bytes are on the disk.
std::error_code fill(int fd, std::string_view bytes) {
  if (std::error_code error = writeAll(fd, bytes)) return error;
  if (::fsync(fd) != 0) return lastError();
  return {};
}

// An anonymous file in `folder`, or an empty descriptor where the file system makes none.
UniqueFd openAnonymous(int folder, mode_t mode) {
  UniqueFd fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  // The umask applies to O_TMPFILE as it does to O_CREAT.
  if (fd && ::fchmod(fd.get(), mode) != 0) fd.reset();
  return fd;
}

// linkat with AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH; the descriptor's /proc link serves every
// user, as long as the file was not opened with O_EXCL.
bool linkAnonymous(int fd, int folder, const char* name) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW) == 0;
}

// A name this process gave a temporary file; removed when this object goes away unless kept.
class TemporaryName {
 public:
  TemporaryName(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName() {
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }

  const char* c_str() const { return name_.c_str(); }
  // The file went on under another name (renamed), or the name must stay.
  void keep() { name_.clear(); }

 private:
  int folder_;
  std::string name_;
};

// The way without O_TMPFILE: a hidden temporary file made with O_EXCL, written, synced and
// closed, then handed to `publish`, which gives it its final name. The temporary name is removed
// afterwards unless `publish` kept it.
template <typename Publish>
std::error_code writeNamed(int folder, std::string_view bytes, const TemporaryNames& names,
                           mode_t mode, Publish publish) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = names.make();
    UniqueFd fd(
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd) {
      if (errno == EEXIST) continue;
      return lastError();
    }
    TemporaryName temporary(folder, std::move(name));
    if (::fchmod(fd.get(), mode) != 0) return lastError();
    if (std::error_code error = fill(fd.get(), bytes)) return error;
    // A late write error of some file systems (NFS) surfaces only at close.
    if (!fd.closeChecked()) return lastError();
    return publish(temporary);
  }
  return std::make_error_code(std::errc::file_exists);
}

std::string randomHexName() {
  unsigned char random[8] = {};
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Uniqueness is all that matters here (O_EXCL and EEXIST guard the rest), so the clock will
    // do.
    auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    ticks ^= static_cast<std::uint64_t>(::getpid()) << 40;
    for (std::size_t i = 0; i < sizeof random; ++i) {
      random[i] = static_cast<unsigned char>(ticks >> (i * 8));
    }
  }
  constexpr char kHex[] = "0123456789abcdef";
  std::string name = ".";
  for (const unsigned char byte : random) {
    name.push_back(kHex[byte >> 4]);
    name.push_back(kHex[byte & 0xF]);
  }
  return name + ".tmp";
}

bool isRandomHexName(std::string_view name) {
  constexpr std::size_t kDigits = 16;
  if (name.size() != 1 + kDigits + 4 || name.front() != '.' || !name.ends_with(".tmp")) {
    return false;
  }
  const std::string_view digits = name.substr(1, kDigits);
  return std::all_of(digits.begin(), digits.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

struct DirectoryCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

const TemporaryNames& hexTemporaryNames() noexcept {
  static constexpr TemporaryNames kNames{&randomHexName, &isRandomHexName};
  return kNames;
}

std::error_code replaceFile(int folder, const char* name, std::string_view bytes,
                            const TemporaryNames& names, mode_t mode) {
  if (const UniqueFd fd = openAnonymous(folder, mode)) {
    if (std::error_code error = fill(fd.get(), bytes)) return error;
    // rename cannot move an anonymous file: it gets a temporary name first. A writer killed
    // right here leaves that name for the next sweep.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string temporaryName = names.make();
      if (linkAnonymous(fd.get(), folder, temporaryName.c_str())) {
        TemporaryName temporary(folder, std::move(temporaryName));
        if (::renameat(folder, temporary.c_str(), folder, name) != 0) return lastError();
        temporary.keep();
        return {};
      }
      if (errno != EEXIST) break;
    }
  }
  return writeNamed(folder, bytes, names, mode, [&](TemporaryName& temporary) -> std::error_code {
    if (::renameat(folder, temporary.c_str(), folder, name) != 0) return lastError();
    temporary.keep();
    return {};
  });
}

std::error_code addFile(int folder, const char* name, std::string_view bytes,
                        const TemporaryNames& names, mode_t mode) {
  if (const UniqueFd fd = openAnonymous(folder, mode)) {
    if (std::error_code error = fill(fd.get(), bytes)) return error;
    // A link never replaces an existing name.
    if (linkAnonymous(fd.get(), folder, name)) return {};
    if (errno == EEXIST) return lastError();
  }
  return writeNamed(folder, bytes, names, mode, [&](TemporaryName& temporary) -> std::error_code {
    if (::renameat2(folder, temporary.c_str(), folder, name, RENAME_NOREPLACE) == 0) {
      temporary.keep();
      return {};
    }
    // File systems without RENAME_NOREPLACE: a hard link, which never replaces either; the
    // temporary name then goes.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return lastError();
    if (::linkat(folder, temporary.c_str(), folder, name, 0) != 0) return lastError();
    return {};
  });
}

std::error_code removeTemporaries(int folder, const TemporaryNames& names) {
  UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing) return lastError();
  const std::unique_ptr<DIR, DirectoryCloser> dir(::fdopendir(listing.get()));
  if (!dir) return lastError();
  listing.release();

  std::error_code first;
  const auto note = [&first] {
    if (!first) first = lastError();
  };
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) note();
      break;
    }
    if (!names.matches(entry->d_name)) continue;
    // Only regular files hold what a writer wrote; a folder or link of such a name is not ours.
    struct stat info {};
    if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) note();
      continue;
    }
    if (!S_ISREG(info.st_mode)) continue;
    if (::unlinkat(folder, entry->d_name, 0) != 0 && errno != ENOENT) note();
  }
  return first;
}

}  // namespace privatefiles
