// App bundles on disk: the layout, the manifest that seals them, and the bundle info.
//
//   <Name>.app/Contents/Info.json                          CFBundleIdentifier, CFBundleExecutable
//   <Name>.app/Contents/MacOS/<CFBundleExecutable>         the main executable
//   <Name>.app/Contents/_CodeSignature/CodeResources.json  the manifest
//   <Name>.app/Contents/_CodeSignature/CodeResources.p7s   detached DER CMS signature of its bytes
//
//   auto manifest = veltra::BundleManifest::build(bundle, "com.pemberhollo.sorel");  // signing
//   std::string bytes = manifest.encoded();
//
// The manifest maps every regular file except the two signature files ("/"-separated path
// relative to the bundle) to its lower-case hex SHA-256 (ManifestReader.h states the rules a
// manifest follows). Files are streamed, never read whole. The signature check itself is in
// CodeSignature.h. All functions are thread-safe and keep no state.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace veltra {

inline constexpr std::string_view kManifestPath = "Contents/_CodeSignature/CodeResources.json";
inline constexpr std::string_view kSignaturePath = "Contents/_CodeSignature/CodeResources.p7s";
inline constexpr std::string_view kInfoPath = "Contents/Info.json";

// The largest Info.json that is read.
inline constexpr std::size_t kMaxInfoSize = 65536;

struct BundleManifest {
  std::string identifier;
  std::map<std::string, std::string> files;  // relative path → lower-case hex SHA-256

  // Compact JSON {"files":{...},"identifier":"..."}.
  std::string encoded() const;
  // nullopt for anything that is not a manifest under the rules of ManifestReader.h.
  static std::optional<BundleManifest> decoded(std::string_view bytes);
  // Hashes every regular file of `bundle`. Throws std::runtime_error naming the entry when the
  // bundle holds a symbolic link, device, FIFO or socket, or a file cannot be read.
  static BundleManifest build(const std::filesystem::path& bundle, std::string identifier);
};

// The bytes of the regular file `path` (not followed if a link) when it is at most `limit`
// bytes; nullopt otherwise.
std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t limit);

// The bundle info: identifier and executable name, each present only when a non-empty string.
// The executable name must be a single path component.
struct BundleInfo {
  std::optional<std::string> identifier;
  std::optional<std::string> executable;
};
// From the bytes of an Info.json; nullopt when they are not a JSON object (JsonText.h rules).
std::optional<BundleInfo> parseBundleInfo(std::string_view bytes);
// From `bundle`/Contents/Info.json, read by path (at most kMaxInfoSize bytes).
std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle);

// The bundle whose main executable folder (Contents/MacOS) holds `executable`, i.e. the folder
// two levels above it when that folder's name ends in ".app"; nullopt otherwise.
std::optional<std::filesystem::path> enclosingBundle(const std::filesystem::path& executable);

}  // namespace veltra
