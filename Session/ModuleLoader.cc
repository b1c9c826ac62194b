#include "Session/ModuleLoader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Session/Trace.h"

namespace pellow {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The rule of the private-file kit, for things the user runs rather than keeps: owned by the
// user or root, and no one else may write.
std::string ownershipProblem(const struct stat& info, uid_t user, std::string_view what,
                             const std::string& path) {
  if (info.st_uid != user && info.st_uid != 0) {
    return std::string(what) + " " + path + " belongs to another user";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::string(what) + " " + path + " is writable by others";
  }
  return {};
}

}  // namespace

std::string checkModuleFile(const std::filesystem::path& folder, std::string_view fileName,
                            uid_t user, int& fd) {
  fd = -1;
  const std::string folderText = folder.string();
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0) return "folder " + folderText + ": " + std::strerror(errno);
  struct stat info {};
  if (::fstat(directory.get(), &info) != 0)
    return "folder " + folderText + ": " + std::strerror(errno);
  if (std::string problem = ownershipProblem(info, user, "folder", folderText); !problem.empty()) {
    return problem;
  }
  const std::string name(fileName);
  const std::string path = (folder / name).string();
  Descriptor file(::openat(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) {
    return path +
           (errno == ELOOP ? ": is a symbolic link" : std::string(": ") + std::strerror(errno));
  }
  if (::fstat(file.get(), &info) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + ": not a regular file";
  if (std::string problem = ownershipProblem(info, user, "module", path); !problem.empty()) {
    return problem;
  }
  fd = file.release();
  return {};
}

void traceModuleVersionMismatch(const std::filesystem::path& path) {
  trace::line("module", path.string() + " was built for another interface version");
}

ModuleEntry loadModule(const Session& session, std::string_view fileName,
                       const std::filesystem::path& installedFolder, const char* entrySymbol) {
  std::vector<std::filesystem::path> folders;
  if (!session.executable.empty()) folders.push_back(session.executable.parent_path());
  if (folders.empty() || folders.front() != installedFolder) folders.push_back(installedFolder);
  return loadModuleFrom(folders, fileName, session.userID, entrySymbol);
}

ModuleEntry loadModuleFrom(const std::vector<std::filesystem::path>& folders,
                           std::string_view fileName, uid_t user, const char* entrySymbol) {
  std::string reasons;
  for (const std::filesystem::path& folder : folders) {
    int opened = -1;
    std::string problem = checkModuleFile(folder, fileName, user, opened);
    Descriptor file(opened);
    const std::string path = (folder / std::string(fileName)).string();
    if (problem.empty()) {
      // Loaded through the descriptor that was checked: a file renamed over the checked one
      // after the check is not what loads.
      const std::string viaDescriptor = "/proc/self/fd/" + std::to_string(file.get());
      // RTLD_LOCAL: the module's libraries stay out of the program's own namespace.
      void* library = ::dlopen(viaDescriptor.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (library == nullptr) {
        const char* message = ::dlerror();
        problem = path + ": " + (message != nullptr ? message : "cannot be loaded");
      } else if (void* symbol = ::dlsym(library, entrySymbol); symbol == nullptr) {
        problem = path + ": no entry point " + entrySymbol;
        ::dlclose(library);
      } else {
        trace::line("module", "loaded " + path);
        // The descriptor stays open as long as the module stays loaded (for good): the loader
        // knows objects by the name they were opened with, and a later module opened through a
        // reused descriptor number would otherwise be taken for this one.
        static_cast<void>(file.release());
        return ModuleEntry{std::filesystem::path(path), symbol};
      }
    }
    trace::line("module", "not loaded: " + problem);
    if (!reasons.empty()) reasons += "; ";
    reasons += problem;
  }
  throw ModuleLoadError("cannot load " + std::string(fileName) + ": " + reasons);
}

}  // namespace pellow
