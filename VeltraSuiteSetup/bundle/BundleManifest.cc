#include "VeltraSuiteSetup/bundle/BundleManifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/JsonText.h"
#include "VeltraSuiteSetup/bundle/BundleWalk.h"
#include "VeltraSuiteSetup/bundle/FileDigest.h"
#include "VeltraSuiteSetup/bundle/ManifestReader.h"

namespace veltra {

using privatefiles::UniqueFd;
namespace {

using Json = nlohmann::json;

bool isSignatureFile(const std::string& relative) {
  return relative == kManifestPath || relative == kSignaturePath;
}

class ManifestBuilder final : public BundleVisitor {
 public:
  explicit ManifestBuilder(BundleManifest& manifest, std::string& problem)
      : manifest_(manifest), problem_(problem) {}
  bool folder(const std::string&, const struct stat&) override { return true; }
  bool file(const std::string& relative, UniqueFd& fd, const struct stat&) override {
    if (isSignatureFile(relative)) return true;
    const auto digest = digester_.digest(fd.get());
    if (!digest) {
      problem_ = relative + ": cannot read";
      return false;
    }
    manifest_.files.emplace(relative, toHex(*digest));
    return true;
  }

 private:
  BundleManifest& manifest_;
  std::string& problem_;
  FileDigester digester_;
};

class ManifestMap final : public ManifestSink {
 public:
  explicit ManifestMap(std::map<std::string, std::string>& files) : files_(files) {}
  bool add(std::string&& path, const Digest& digest) override {
    return files_.emplace(std::move(path), toHex(digest)).second;
  }

 private:
  std::map<std::string, std::string>& files_;
};

}  // namespace

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
  BundleManifest manifest;
  ManifestMap files(manifest.files);
  auto identifier = readManifest(bytes, files);
  if (!identifier) return std::nullopt;
  manifest.identifier = std::move(*identifier);
  return manifest;
}

BundleManifest BundleManifest::build(const std::filesystem::path& bundle, std::string identifier) {
  BundleManifest manifest;
  manifest.identifier = std::move(identifier);
  std::string problem;
  UniqueFd root(::open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root) throw std::runtime_error(bundle.string() + ": not a folder");
  ManifestBuilder builder(manifest, problem);
  if (!walkBundle(std::move(root), builder, problem)) throw std::runtime_error(problem);
  return manifest;
}

std::optional<BundleInfo> parseBundleInfo(std::string_view bytes) {
  const Json object = parseJsonText(bytes);
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
    if (!name.empty() && name != "." && name != ".." &&
        name.find_first_of(std::string_view("/\0", 2)) == std::string::npos) {
      info.executable = name;
    }
  }
  return info;
}

std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle) {
  const auto bytes = readSmallFile(bundle / kInfoPath, kMaxInfoSize);
  if (!bytes) return std::nullopt;
  return parseBundleInfo(*bytes);
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
