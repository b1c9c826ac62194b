// A failing disk for tests: a shared library that, loaded with LD_PRELOAD (or linked into a test
// program ahead of the C library), makes chosen file operations fail on chosen paths.
//
//   export FAULT_DISK_PATTERN="*/.suite-setup/*" FAULT_DISK_OPS=fsync,rename FAULT_DISK_ERRNO=28
//   LD_PRELOAD=libfailing_disk.so suite-setup-helper ...
//
// FAULT_DISK_PATTERN: an fnmatch(3) pattern ("*" also crosses "/") matched against the absolute
//   path of the file concerned: the open file behind a descriptor for write/pwrite/fsync/
//   fdatasync (from /proc/self/fd), either name of rename/link, a relative name completed with
//   its directory descriptor's path for the *at forms.
// FAULT_DISK_OPS: any of write, fsync, rename, link, separated by commas ("fsync" also covers
//   fdatasync). Unset or empty: all four.
// FAULT_DISK_ERRNO: the errno of a failure; default EIO.
// With FAULT_DISK_PATTERN unset every call goes straight to the C library. The variables are read
// on every call, so a test program that links this library can switch faults on and off.
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <cerrno>
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

bool selected(std::string_view operation) {
  const char* ops = std::getenv("FAULT_DISK_OPS");
  if (ops == nullptr || *ops == '\0') return true;
  std::string_view list(ops);
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (list.substr(0, comma) == operation) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
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

int fail() {
  const char* code = std::getenv("FAULT_DISK_ERRNO");
  errno = code != nullptr ? std::atoi(code) : EIO;
  return -1;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
  if (selected("write") && descriptorMatches(fd)) return fail();
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (selected("write") && descriptorMatches(fd)) return fail();
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  return real(fd, buffer, count, offset);
}

int fsync(int fd) {
  if (selected("fsync") && descriptorMatches(fd)) return fail();
  static const auto real = next<int (*)(int)>("fsync");
  return real(fd);
}

int fdatasync(int fd) {
  if (selected("fsync") && descriptorMatches(fd)) return fail();
  static const auto real = next<int (*)(int)>("fdatasync");
  return real(fd);
}

int rename(const char* from, const char* to) {
  if (selected("rename") && (nameMatches(AT_FDCWD, from) || nameMatches(AT_FDCWD, to))) {
    return fail();
  }
  static const auto real = next<int (*)(const char*, const char*)>("rename");
  return real(from, to);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
  if (selected("rename") && (nameMatches(fromDirectory, from) || nameMatches(toDirectory, to))) {
    return fail();
  }
  static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
  return real(fromDirectory, from, toDirectory, to);
}

int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to,
              unsigned flags) {
  if (selected("rename") && (nameMatches(fromDirectory, from) || nameMatches(toDirectory, to))) {
    return fail();
  }
  static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(fromDirectory, from, toDirectory, to, flags);
}

int link(const char* from, const char* to) {
  if (selected("link") && (nameMatches(AT_FDCWD, from) || nameMatches(AT_FDCWD, to))) {
    return fail();
  }
  static const auto real = next<int (*)(const char*, const char*)>("link");
  return real(from, to);
}

int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
  if (selected("link") && (nameMatches(fromDirectory, from) || nameMatches(toDirectory, to))) {
    return fail();
  }
  static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
  return real(fromDirectory, from, toDirectory, to, flags);
}

}  // extern "C"
