// Reading a bundle's manifest, {"files":{"<path>":"<sha256>",...},"identifier":"<id>"}, without
// building a JSON document: entries go one by one to a sink as the text is read.
//
//   auto index = veltra::ManifestIndex::read(fd, size);          // streamed from the open file
//   if (index && index->identifier() == bundleId) {
//     const veltra::Digest* listed = index->find("Contents/Info.json");   // nullptr: not listed
//   }
//
// A manifest is JSON text as JsonText.h reads it holding an object with "identifier", a string,
// and "files", an object whose every value is 64 lower-case hex digits; each of the two keys once,
// other keys ignored whatever their values. Every listed path is relative and "/"-separated,
// without empty, "." or ".." components, not one of the two signature files, and listed once.
// ManifestIndex keeps about 40 bytes and the path per file, so that a check of a bundle with many
// files stays small. Thread-safe: no shared state; an index is immutable once read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VeltraSuiteSetup/bundle/FileDigest.h"

namespace veltra {

// Receives the manifest's entries as they are read. add() returning false refuses the manifest.
class ManifestSink {
 public:
  virtual ~ManifestSink() = default;
  virtual bool add(std::string&& path, const Digest& digest) = 0;
};

// Reads the manifest text `text`, or the open file `fd` from its current offset (at most `limit`
// bytes), giving each entry to `sink`. Returns the identifier, or nullopt when the text is not a
// manifest under the rules above (the sink may have received entries by then).
std::optional<std::string> readManifest(std::string_view text, ManifestSink& sink);
std::optional<std::string> readManifest(int fd, std::size_t limit, ManifestSink& sink);

class ManifestIndex final : public ManifestSink {
 public:
  // The manifest in the open file `fd` of `size` bytes (read from its current offset, at most
  // `size` bytes); nullopt when it is not a manifest under the rules above.
  static std::optional<ManifestIndex> read(int fd, std::size_t size);

  const std::string& identifier() const { return identifier_; }
  std::size_t size() const { return entries_.size(); }
  // The digest listed for `path`, or nullptr.
  const Digest* find(std::string_view path) const;

  bool add(std::string&& path, const Digest& digest) override;

 private:
  struct Entry {
    std::uint32_t offset;  // of the path in paths_
    std::uint32_t length;
    Digest digest;
  };
  std::string_view pathOf(const Entry& entry) const {
    return std::string_view(paths_).substr(entry.offset, entry.length);
  }

  std::string identifier_;
  std::string paths_;  // every path, one after the other
  std::vector<Entry> entries_;
};

}  // namespace veltra
