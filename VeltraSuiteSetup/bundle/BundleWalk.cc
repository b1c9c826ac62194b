#include "VeltraSuiteSetup/bundle/BundleWalk.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <memory>

namespace veltra {

using privatefiles::UniqueFd;
namespace {

// Deep enough for any real bundle, shallow enough that a hostile tree cannot exhaust the stack.
constexpr int kMaxDepth = 64;

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool walk(UniqueFd folderFd, const std::string& prefix, int depth, BundleVisitor& visitor,
          std::string& problem) {
  if (depth > kMaxDepth) {
    problem = prefix + ": folders nested too deeply";
    return false;
  }
  DirPtr dir(::fdopendir(folderFd.get()));
  if (!dir) {
    problem = prefix + ": cannot list the folder";
    return false;
  }
  // closedir now closes the descriptor.
  const int fd = folderFd.release();
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno == 0) return true;
      problem = prefix + ": cannot list the folder";
      return false;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      problem = relative + ": cannot inspect";
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      UniqueFd child(::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      // What was opened is judged, not what fstatat saw a moment before.
      if (!child || ::fstat(child.get(), &info) != 0) {
        problem = relative + ": cannot open the folder";
        return false;
      }
      if (!visitor.folder(relative, info)) {
        if (problem.empty()) problem = relative + ": refused";
        return false;
      }
      if (!walk(std::move(child), relative, depth + 1, visitor, problem)) return false;
    } else if (S_ISREG(info.st_mode)) {
      UniqueFd file(
          ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = relative + ": cannot open the file";
        return false;
      }
      if (!visitor.file(relative, file, info)) {
        if (problem.empty()) problem = relative + ": refused";
        return false;
      }
    } else {
      problem = relative + ": not a folder or regular file";
      return false;
    }
  }
}

}  // namespace

bool walkBundle(UniqueFd root, BundleVisitor& visitor, std::string& problem) {
  return walk(std::move(root), "", 0, visitor, problem);
}

}  // namespace veltra
