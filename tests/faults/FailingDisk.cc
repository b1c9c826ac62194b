// A failing disk for tests: a shared library that, loaded with LD_PRELOAD (or linked into a test
// program ahead of the C library), makes chosen file operations fail on chosen paths.
//
//   export FAULT_DISK_PATTERN="*/.suite-setup/*" FAULT_DISK_OPS=fsync,rename FAULT_DISK_ERRNO=28
//   LD_PRELOAD=libfailing_disk.so suite-setup-helper ...
//
// FAULT_DISK_PATTERN: an fnmatch(3) pattern ("*" also crosses "/") matched against the absolute
//   path of the file concerned: the open file behind a descriptor for write/pwrite/fsync/
//   fdatasync (from /proc/self/fd; an anonymous file reads as "<folder>/#<inode> (deleted)"),
//   either name of rename/link, the name given to open (for O_TMPFILE the folder's name, so
//   "<folder>/."), a relative name completed with its directory descriptor's path for the *at
//   forms.
// FAULT_DISK_OPS: any of the following, separated by commas; "slow:<op>" delays that operation
//   by FAULT_DISK_DELAY_MS (default 50) and then lets it go ahead, instead of failing it (a slow
//   disk, on which a test can kill a writer in mid-write). Unset or empty: all of them fail.
//   write    write, pwrite
//   fsync    fsync, fdatasync
//   rename   rename, renameat, renameat2
//   link     link, linkat (also the link that names an anonymous file)
//   create   an open that would make a new file: O_TMPFILE, or O_CREAT where nothing has the name
//   tmpfile  an open with O_TMPFILE only: a file system without anonymous files
//   unlink   unlink, unlinkat
// FAULT_DISK_ERRNO: the errno of a failure; default EIO.
// With FAULT_DISK_PATTERN unset every call goes straight to the C library. The variables are read
// on every call, so a test program that links this library can switch faults on and off.
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

template <typename Function>
Function next(const char* name) {
  // The C library's own definition, the one this library stands in front of.
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

enum class Fault { none, fail, slow };

// What FAULT_DISK_OPS asks for `operation`.
Fault faultFor(std::string_view operation) {
  const char* ops = std::getenv("FAULT_DISK_OPS");
  if (ops == nullptr || *ops == '\0') return Fault::fail;
  std::string_view list(ops);
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    const bool slow = item.starts_with("slow:");
    if (slow) item.remove_prefix(5);
    if (item == operation) return slow ? Fault::slow : Fault::fail;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return Fault::none;
}

bool matches(const char* path) {
  const char* pattern = std::getenv("FAULT_DISK_PATTERN");
  return pattern != nullptr && path != nullptr && ::fnmatch(pattern, path, 0) == 0;
}

// The path of an open descriptor; empty when it has none.
void descriptorPath(int fd, char (&path)[4096]) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = ::readlink(link, path, sizeof path - 1);
  path[length > 0 ? length : 0] = '\0';
}

bool descriptorMatches(int fd) {
  if (std::getenv("FAULT_DISK_PATTERN") == nullptr) return false;
  char path[4096];
  descriptorPath(fd, path);
  return matches(path);
}

bool nameMatches(int directory, const char* name) {
  if (std::getenv("FAULT_DISK_PATTERN") == nullptr || name == nullptr) return false;
  if (name[0] == '/' || directory == AT_FDCWD) {
    if (name[0] == '/') return matches(name);
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
    char full[8192];
    std::snprintf(full, sizeof full, "%s/%s", cwd, name);
    return matches(full);
  }
  char folder[4096];
  descriptorPath(directory, folder);
  char full[8192];
  std::snprintf(full, sizeof full, "%s/%s", folder, name);
  return matches(full);
}

// Whether a call of `operation` on a path that `pathMatches` is to fail now (errno set). A
// slow operation waits, then goes ahead.
bool strikes(std::string_view operation, bool pathMatches) {
  if (!pathMatches) return false;
  switch (faultFor(operation)) {
    case Fault::none:
      return false;
    case Fault::slow: {
      const char* delay = std::getenv("FAULT_DISK_DELAY_MS");
      ::usleep(static_cast<useconds_t>(delay != nullptr ? std::atoi(delay) : 50) * 1000);
      return false;
    }
    case Fault::fail:
      break;
  }
  const char* code = std::getenv("FAULT_DISK_ERRNO");
  errno = code != nullptr ? std::atoi(code) : EIO;
  return true;
}

bool isTemporaryFile(int flags) { return (flags & O_TMPFILE) == O_TMPFILE; }

// Whether an open of `name` with `flags` is to fail: one that would make a new file.
bool openFails(int directory, const char* name, int flags) {
  if (isTemporaryFile(flags)) {
    const bool inFolder = nameMatches(directory, name);
    return strikes("tmpfile", inFolder) || strikes("create", inFolder);
  }
  if ((flags & O_CREAT) == 0) return false;
  struct stat existing {};
  const bool makesFile =
      ::fstatat(directory, name, &existing, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
  return strikes("create", makesFile && nameMatches(directory, name));
}

// The mode argument of open, present only with O_CREAT or O_TMPFILE.
mode_t modeArgument(int flags, va_list arguments) {
  return (flags & O_CREAT) != 0 || isTemporaryFile(flags) ? va_arg(arguments, mode_t) : 0;
}

// Every open goes to the C library's openat (open(name) is openat(AT_FDCWD, name)).
int openAt(int directory, const char* name, int flags, mode_t mode) {
  if (openFails(directory, name, flags)) return -1;
  static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
  return real(directory, name, flags, mode);
}

}  // namespace

extern "C" {

// The four names of open: the mode argument comes only with O_CREAT or O_TMPFILE.
int open(const char* name, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openAt(AT_FDCWD, name, flags, mode);
}

int open64(const char* name, int flags, ...) __attribute__((alias("open")));

int openat(int directory, const char* name, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openAt(directory, name, flags, mode);
}

int openat64(int directory, const char* name, int flags, ...) __attribute__((alias("openat")));

ssize_t write(int fd, const void* buffer, size_t count) {
  if (strikes("write", descriptorMatches(fd))) return -1;
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (strikes("write", descriptorMatches(fd))) return -1;
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return real(fd, buffer, count, offset);
}

int fsync(int fd) {
  if (strikes("fsync", descriptorMatches(fd))) return -1;
  static const auto real = next<int (*)(int)>("fsync");
  return real(fd);
}

int fdatasync(int fd) {
  if (strikes("fsync", descriptorMatches(fd))) return -1;
  static const auto real = next<int (*)(int)>("fdatasync");
  return real(fd);
}

int rename(const char* from, const char* to) {
  if (strikes("rename", nameMatches(AT_FDCWD, from) || nameMatches(AT_FDCWD, to))) return -1;
  static const auto real = next<int (*)(const char*, const char*)>("rename");
  return real(from, to);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
  if (strikes("rename", nameMatches(fromDirectory, from) || nameMatches(toDirectory, to)))
    return -1;
  static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
  return real(fromDirectory, from, toDirectory, to);
}

int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to,
              unsigned flags) {
  if (strikes("rename", nameMatches(fromDirectory, from) || nameMatches(toDirectory, to)))
    return -1;
  static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(fromDirectory, from, toDirectory, to, flags);
}

int link(const char* from, const char* to) {
  if (strikes("link", nameMatches(AT_FDCWD, from) || nameMatches(AT_FDCWD, to))) return -1;
  static const auto real = next<int (*)(const char*, const char*)>("link");
  return real(from, to);
}

int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
  if (strikes("link", nameMatches(fromDirectory, from) || nameMatches(toDirectory, to))) return -1;
  static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
  return real(fromDirectory, from, toDirectory, to, flags);
}

int unlink(const char* name) {
  if (strikes("unlink", nameMatches(AT_FDCWD, name))) return -1;
  static const auto real = next<int (*)(const char*)>("unlink");
  return real(name);
}

int unlinkat(int directory, const char* name, int flags) {
  if (strikes("unlink", nameMatches(directory, name))) return -1;
  static const auto real = next<int (*)(int, const char*, int)>("unlinkat");
  return real(directory, name, flags);
}

}  // extern "C"
