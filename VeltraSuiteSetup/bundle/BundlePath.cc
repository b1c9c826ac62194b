#include "VeltraSuiteSetup/bundle/BundlePath.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace veltra {

using privatefiles::UniqueFd;
namespace fs = std::filesystem;

namespace {

bool ownedByCallerOrRoot(const struct stat& info) {
  return info.st_uid == ::getuid() || info.st_uid == 0;
}

}  // namespace

fs::path absolutePath(const fs::path& path) {
  std::string text = fs::absolute(path).string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
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
  return absolute;
}

UniqueFd openWithoutLinks(const fs::path& path, int flags, UniqueFd* parent) {
  if (!path.is_absolute()) {
    errno = EINVAL;
    return {};
  }
  const UniqueFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root) return {};
  return openBelow(root.get(), path.lexically_normal().relative_path(), flags, parent);
}

UniqueFd openBelow(int folder, const fs::path& relative, int flags, UniqueFd* parent) {
  std::vector<std::string> parts;
  for (const fs::path& part : relative) {
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.has_root_path()) {
      errno = EINVAL;  // only a path that stays below the folder
      return {};
    }
    parts.push_back(part.string());
  }
  if (parts.empty()) {
    errno = EINVAL;
    return {};
  }
  UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (!current) return {};
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    // O_DIRECTORY makes a link refuse (ENOTDIR) where O_PATH | O_NOFOLLOW alone would open it.
    UniqueFd next(
        ::openat(current.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return {};
    current = std::move(next);
  }
  UniqueFd last(::openat(current.get(), parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
  if (last && parent != nullptr) *parent = std::move(current);
  return last;
}

bool sealedEntry(const struct stat& info) {
  return ownedByCallerOrRoot(info) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         (info.st_mode & (S_ISUID | S_ISGID)) == 0;
}

bool safeHolder(const struct stat& info) {
  return ownedByCallerOrRoot(info) && S_ISDIR(info.st_mode) &&
         ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (info.st_mode & S_ISVTX) != 0);
}

}  // namespace veltra
