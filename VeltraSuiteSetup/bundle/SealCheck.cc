#include "VeltraSuiteSetup/bundle/SealCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "VeltraSuiteSetup/bundle/BundlePath.h"
#include "VeltraSuiteSetup/bundle/BundleWalk.h"

namespace veltra {

using privatefiles::UniqueFd;
namespace {

constexpr int kFileFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// A file read before the walk; the walk must then meet the very same file at its path.
struct Hashed {
  std::string relative;
  dev_t device = 0;
  ino_t inode = 0;
  Digest digest{};
  bool met = false;
};

bool sameFile(const Hashed& file, const struct stat& info) {
  return file.device == info.st_dev && file.inode == info.st_ino;
}

// Info.json, hashed as it is read; its bytes are kept when it is small enough to be the info.
std::optional<Hashed> readInfo(int bundle, FileDigester& digester,
                               std::optional<BundleInfo>& info) {
  const UniqueFd fd = openBelow(bundle, std::string(kInfoPath), kFileFlags);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (!digester.start()) return std::nullopt;
  std::string bytes;
  bool tooLarge = false;
  std::array<char, 16384> buffer{};
  while (true) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
    if (!digester.update(piece)) return std::nullopt;
    if (!tooLarge && bytes.size() + piece.size() <= kMaxInfoSize) {
      bytes.append(piece);
    } else {
      tooLarge = true;
      bytes.clear();
    }
  }
  const auto digest = digester.finish();
  if (!digest) return std::nullopt;
  if (!tooLarge) info = parseBundleInfo(bytes);
  return Hashed{std::string(kInfoPath), status.st_dev, status.st_ino, *digest};
}

// The main executable, hashed through the descriptor that is kept for starting it.
std::optional<Hashed> openExecutable(int bundle, const std::string& name, FileDigester& digester,
                                     UniqueFd& executable) {
  const std::string relative = "Contents/MacOS/" + name;
  UniqueFd fd = openBelow(bundle, relative, kFileFlags);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const auto digest = digester.digest(fd.get());
  if (!digest) return std::nullopt;
  executable = std::move(fd);
  return Hashed{relative, status.st_dev, status.st_ino, *digest};
}

bool isSignatureFile(const std::string& relative) {
  return relative == kManifestPath || relative == kSignaturePath;
}

class SealVisitor final : public BundleVisitor {
 public:
  SealVisitor(const ManifestIndex& manifest, std::vector<Hashed>& hashed, FileDigester& digester,
              std::string& problem)
      : manifest_(manifest), hashed_(hashed), digester_(digester), problem_(problem) {}

  std::size_t matched() const { return matched_; }

  bool folder(const std::string& relative, const struct stat& info) override {
    return sealed(relative, info);
  }

  bool file(const std::string& relative, UniqueFd& fd, const struct stat& info) override {
    if (!sealed(relative, info)) return false;
    if (isSignatureFile(relative)) return true;
    const Digest* listed = manifest_.find(relative);
    if (listed == nullptr) return fault(relative, "not sealed");
    std::optional<Digest> digest;
    const auto early = std::find_if(hashed_.begin(), hashed_.end(), [&relative](const Hashed& h) {
      return h.relative == relative;
    });
    if (early != hashed_.end()) {
      if (!sameFile(*early, info)) return fault(relative, "replaced during the check");
      early->met = true;
      digest = early->digest;
    } else {
      digest = digester_.digest(fd.get());
    }
    if (!digest || *digest != *listed) return fault(relative, "changed");
    ++matched_;
    return true;
  }

 private:
  bool sealed(const std::string& relative, const struct stat& info) {
    return sealedEntry(info) || fault(relative, "may be changed by another user");
  }
  bool fault(const std::string& relative, const char* what) {
    problem_ = relative + ": " + what;
    return false;
  }

  const ManifestIndex& manifest_;
  std::vector<Hashed>& hashed_;
  FileDigester& digester_;
  std::string& problem_;
  std::size_t matched_ = 0;
};

}  // namespace

std::optional<SealedContents> checkSeal(UniqueFd bundle, const ManifestIndex& manifest,
                                        std::string& problem) {
  struct stat root {};
  if (::fstat(bundle.get(), &root) != 0 || !sealedEntry(root)) {
    problem = "the bundle folder may be changed by another user";
    return std::nullopt;
  }
  FileDigester digester;
  SealedContents contents;
  std::vector<Hashed> hashed;
  if (auto info = readInfo(bundle.get(), digester, contents.info)) hashed.push_back(*info);
  if (contents.info && contents.info->executable) {
    if (auto executable = openExecutable(bundle.get(), *contents.info->executable, digester,
                                         contents.executable)) {
      hashed.push_back(*executable);
    }
  }

  SealVisitor visitor(manifest, hashed, digester, problem);
  if (!walkBundle(std::move(bundle), visitor, problem)) return std::nullopt;
  for (const Hashed& file : hashed) {
    if (!file.met) {
      problem = file.relative + ": gone during the check";
      return std::nullopt;
    }
  }
  // Every path is visited once and listed once, so equal counts mean nothing listed is missing.
  if (visitor.matched() != manifest.size()) {
    problem = "a sealed file is missing";
    return std::nullopt;
  }
  return contents;
}

}  // namespace veltra
