#include "VeltraSuiteSetup/bundle/BundlePath.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace veltra {

using privatefiles::UniqueFd;
namespace fs = std::filesystem;

namespace {

bool ownedByCallerOrRoot(const struct stat& info) {
  return info.st_uid == ::getuid() || info.st_uid == 0;
}

// The components of a path that stays below a folder; false with errno EINVAL otherwise.
bool splitBelow(const fs::path& relative, std::vector<std::string>& parts) {
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.has_root_path()) {
      errno = EINVAL;  // only a path that stays below the folder
      return false;
    }
    parts.push_back(part.string());
  }
  if (parts.empty()) {
    errno = EINVAL;
    return false;
  }
  return true;
}

// Whether the folder open as `fd`, shown as `shown`, passes the folder rule; sets `problem` and
// errno EACCES when it does not. The descriptor is the one the walk goes on from, so what is judged
// is what is used, whatever is renamed meanwhile.
bool folderPasses(int fd, const std::string& shown, std::string& problem) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    problem = shown + ": cannot inspect";
    return false;
  }
  const std::string_view fault = folderFault(info);
  if (fault.empty()) return true;
  problem = shown + ": " + std::string(fault);
  errno = EACCES;
  return false;
}

// Opens `parts` below `folder` one component at a time without following links. With `problem`,
// every folder the walk passes through, `folder` itself included, must pass folderFault; folders
// are then named as "/" joined with the parts so far (the walk starts at "/" in that case).
UniqueFd walk(int folder, const std::vector<std::string>& parts, int flags, UniqueFd* parent,
              std::string* problem) {
  UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (!current) return {};
  std::string shown = "/";
  if (problem != nullptr && !folderPasses(current.get(), shown, *problem)) return {};
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    // O_DIRECTORY makes a link refuse (ENOTDIR) where O_PATH | O_NOFOLLOW alone would open it.
    UniqueFd next(
        ::openat(current.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return {};
    current = std::move(next);
    if (problem != nullptr) {
      shown += (i == 0 ? "" : "/") + parts[i];
      if (!folderPasses(current.get(), shown, *problem)) return {};
    }
  }
  UniqueFd last(::openat(current.get(), parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
  if (last && parent != nullptr) *parent = std::move(current);
  return last;
}

UniqueFd openFromRoot(const fs::path& path, int flags, UniqueFd* parent, std::string* problem) {
  if (!path.is_absolute()) {
    errno = EINVAL;
    return {};
  }
  std::vector<std::string> parts;
  if (!splitBelow(path.lexically_normal().relative_path(), parts)) return {};
  const UniqueFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) return {};
  return walk(root.get(), parts, flags, parent, problem);
}

}  // namespace

fs::path absolutePath(const fs::path& path) {
  // Dropping "." and empty components changes nothing that is opened here (openWithoutLinks reads
  // a path lexically); ".." after a link means the link target's parent to the kernel, so it stays.
  std::string text = "/";
  for (const fs::path& part : fs::absolute(path).relative_path()) {
    if (part.empty() || part == ".") continue;
    if (text.size() > 1) text += '/';
    text += part.string();
  }
  return text;
}

fs::path resolvedPath(const fs::path& path) {
  const fs::path absolute = absolutePath(path);
  fs::path prefix;
  for (const fs::path& part : absolute) {
    prefix /= part;
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      // The folders on the way are resolved; the last component stays as it is, so that a
      // bundle that is itself a link is refused by the open, not followed.
      const fs::path last = absolute.filename();
      const bool keepLast = !last.empty() && last != "." && last != "..";
      std::error_code error;
      const fs::path physical =
          fs::weakly_canonical(keepLast ? absolute.parent_path() : absolute, error);
      if (error) return absolute;
      return absolutePath(keepLast ? physical / last : physical);
    }
  }
  // Without a link, ".." reads as the text does; openWithoutLinks opens this same form.
  return absolutePath(absolute.lexically_normal());
}

UniqueFd openWithoutLinks(const fs::path& path, int flags, UniqueFd* parent) {
  return openFromRoot(path, flags, parent, nullptr);
}

UniqueFd openInSafeFolders(const fs::path& path, int flags, UniqueFd* parent,
                           std::string& problem) {
  return openFromRoot(path, flags, parent, &problem);
}

UniqueFd openBelow(int folder, const fs::path& relative, int flags, UniqueFd* parent) {
  std::vector<std::string> parts;
  if (!splitBelow(relative, parts)) return {};
  return walk(folder, parts, flags, parent, nullptr);
}

bool sealedEntry(const struct stat& info) {
  return ownedByCallerOrRoot(info) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         (info.st_mode & (S_ISUID | S_ISGID)) == 0;
}

std::string_view folderFault(const struct stat& info) {
  if (!S_ISDIR(info.st_mode)) return "not a folder";
  if (!ownedByCallerOrRoot(info)) return "owned by another user";
  // A sticky folder (as /tmp is) lets only an entry's owner rename or remove the entry, and the
  // next folder down answers to this same rule, ownership included.
  if ((info.st_mode & S_ISVTX) != 0) return {};
  if ((info.st_mode & S_IWOTH) != 0) return "writable by others";
  if ((info.st_mode & S_IWGRP) != 0) return "writable by group";
  return {};
}

}  // namespace veltra
