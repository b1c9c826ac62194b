#include "VeltraSuiteSetup/bundle/BundleManifest.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace veltra {

using privatefiles::UniqueFd;
namespace {

using Json = nlohmann::json;

// Deep enough for any real bundle, shallow enough that a hostile tree cannot exhaust the stack.
constexpr int kMaxDepth = 64;

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Called with the "/"-separated relative path and an open descriptor of each regular file.
// Returning false stops the walk.
using FileVisitor = std::function<bool(const std::string& relative, int fd)>;

// Walks the tree below the open directory `dirFd` through descriptors only (openat with
// O_NOFOLLOW), so that an entry swapped for a link during the walk is never followed. Returns
// false, with `problem` set, at the first link, device, FIFO, socket or unreadable entry.
bool walk(UniqueFd dirFd, const std::string& prefix, int depth, const FileVisitor& visit,
          std::string& problem) {
  if (depth > kMaxDepth) {
    problem = prefix + ": folders nested too deeply";
    return false;
  }
  DirPtr dir(::fdopendir(dirFd.get()));
  if (!dir) {
    problem = prefix + ": cannot list the folder";
    return false;
  }
  // closedir now closes the descriptor.
  const int fd = dirFd.release();
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        problem = prefix + ": cannot list the folder";
        return false;
      }
      return true;
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
      if (!child) {
        problem = relative + ": cannot open the folder";
        return false;
      }
      if (!walk(std::move(child), relative, depth + 1, visit, problem)) return false;
    } else if (S_ISREG(info.st_mode)) {
      const UniqueFd file(
          ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      struct stat opened {};
      if (!file || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        problem = relative + ": cannot open the file";
        return false;
      }
      if (!visit(relative, file.get())) {
        if (problem.empty()) problem = relative + ": rejected";
        return false;
      }
    } else {
      problem = relative + ": not a folder or regular file";
      return false;
    }
  }
}

bool walkBundle(const std::filesystem::path& bundle, const FileVisitor& visit,
                std::string& problem) {
  UniqueFd root(::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root) {
    problem = bundle.string() + ": not a folder";
    return false;
  }
  return walk(std::move(root), "", 0, visit, problem);
}

bool isSignatureFile(const std::string& relative) {
  return relative == kManifestPath || relative == kSignaturePath;
}

bool isLowerHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> sha256Hex(int fd) {
  const EvpMdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  std::array<unsigned char, 65536> buffer{};
  while (true) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) != 1) {
      return std::nullopt;
    }
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0f]);
  }
  return hex;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit) {
  const UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
      static_cast<std::size_t>(info.st_size) > limit) {
    return std::nullopt;
  }
  std::string bytes;
  std::array<char, 16384> buffer{};
  while (true) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer.data(), static_cast<std::size_t>(got));
    // The file may have grown since fstat.
    if (bytes.size() > limit) return std::nullopt;
  }
}

std::string BundleManifest::encoded() const {
  Json object = Json::object();
  object["identifier"] = identifier;
  object["files"] = Json(files);
  return object.dump();
}

std::optional<BundleManifest> BundleManifest::decoded(std::string_view bytes) {
  const Json object = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (!object.is_object()) return std::nullopt;
  const auto identifier = object.find("identifier");
  const auto files = object.find("files");
  if (identifier == object.end() || !identifier->is_string() || files == object.end() ||
      !files->is_object()) {
    return std::nullopt;
  }
  BundleManifest manifest;
  manifest.identifier = identifier->get<std::string>();
  for (const auto& [path, digest] : files->items()) {
    if (!digest.is_string() || !isLowerHexDigest(digest.get<std::string>())) return std::nullopt;
    manifest.files.emplace(path, digest.get<std::string>());
  }
  return manifest;
}

BundleManifest BundleManifest::build(const std::filesystem::path& bundle, std::string identifier) {
  BundleManifest manifest;
  manifest.identifier = std::move(identifier);
  std::string problem;
  const bool ok = walkBundle(
      bundle,
      [&manifest, &problem](const std::string& relative, int fd) {
        if (isSignatureFile(relative)) return true;
        auto digest = sha256Hex(fd);
        if (!digest) {
          problem = relative + ": cannot read";
          return false;
        }
        manifest.files.emplace(relative, std::move(*digest));
        return true;
      },
      problem);
  if (!ok) throw std::runtime_error(problem);
  return manifest;
}

bool sealIntact(const std::filesystem::path& bundle, const BundleManifest& manifest) {
  std::size_t matched = 0;
  std::string problem;
  const bool ok = walkBundle(
      bundle,
      [&manifest, &matched](const std::string& relative, int fd) {
        if (isSignatureFile(relative)) return true;
        const auto listed = manifest.files.find(relative);
        if (listed == manifest.files.end()) return false;
        const auto digest = sha256Hex(fd);
        if (!digest || *digest != listed->second) return false;
        ++matched;
        return true;
      },
      problem);
  // Each path is visited once, so equal counts mean every listed file was found.
  return ok && matched == manifest.files.size();
}

std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle) {
  const auto bytes = readSmallFile(bundle / kInfoPath, 65536);
  if (!bytes) return std::nullopt;
  const Json object = Json::parse(*bytes, nullptr, false);
  if (!object.is_object()) return std::nullopt;
  BundleInfo info;
  const auto identifier = object.find("CFBundleIdentifier");
  if (identifier != object.end() && identifier->is_string() &&
      !identifier->get<std::string>().empty()) {
    info.identifier = identifier->get<std::string>();
  }
  const auto executable = object.find("CFBundleExecutable");
  if (executable != object.end() && executable->is_string()) {
    const std::string name = executable->get<std::string>();
    if (!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos) {
      info.executable = name;
    }
  }
  return info;
}

std::optional<std::filesystem::path> enclosingBundle(const std::filesystem::path& executable) {
  const auto macos = executable.parent_path();
  const auto contents = macos.parent_path();
  const auto bundle = contents.parent_path();
  if (macos.filename() != "MacOS" || contents.filename() != "Contents" ||
      !bundle.filename().string().ends_with(".app")) {
    return std::nullopt;
  }
  return bundle;
}

}  // namespace veltra
