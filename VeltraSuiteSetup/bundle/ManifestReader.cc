#include "VeltraSuiteSetup/bundle/ManifestReader.h"

#include <algorithm>
#include <limits>

#include "VeltraSuiteSetup/JsonText.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"

namespace veltra {
namespace {

// The shortest entry the text can hold: "a":"<64 digits>" and a separator.
constexpr std::size_t kShortestEntry = 70;

bool validPath(std::string_view path) {
  if (path == kManifestPath || path == kSignaturePath) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// Follows the text's nesting and passes the entries of "files" on; everything else at the top
// level is skipped whatever it holds.
class ManifestSax final : public JsonSax {
 public:
  explicit ManifestSax(ManifestSink& sink) : sink_(sink) {}

  std::optional<std::string> identifier() const {
    if (!identifier_ || !sawFiles_) return std::nullopt;
    return identifier_;
  }

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t) override { return scalar(); }
  bool number_unsigned(number_unsigned_t) override { return scalar(); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool binary(binary_t&) override { return false; }

  bool string(string_t& value) override {
    if (depth_ == 1) {
      if (slot_ == Slot::kFiles) return false;
      if (slot_ == Slot::kIdentifier) {
        if (identifier_) return false;
        identifier_ = std::move(value);
      }
      return true;
    }
    if (depth_ == 2 && inFiles_) {
      const auto digest = fromHex(value);
      return digest && validPath(path_) && sink_.add(std::move(path_), *digest);
    }
    return depth_ > 0;
  }

  bool start_object(std::size_t) override {
    if (depth_ == 1 && slot_ != Slot::kOther) {
      if (slot_ == Slot::kIdentifier || sawFiles_) return false;
      inFiles_ = sawFiles_ = true;
    } else if (depth_ == 2 && inFiles_) {
      return false;
    }
    ++depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ == 0 || (depth_ == 1 && slot_ != Slot::kOther) || (depth_ == 2 && inFiles_)) {
      return false;
    }
    ++depth_;
    return true;
  }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& key) override {
    if (depth_ == 1) {
      slot_ = key == "files"        ? Slot::kFiles
              : key == "identifier" ? Slot::kIdentifier
                                    : Slot::kOther;
    } else if (depth_ == 2 && inFiles_) {
      path_ = std::move(key);
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class Slot { kIdentifier, kFiles, kOther };

  bool scalar() const {
    if (depth_ == 1) return slot_ == Slot::kOther;
    return depth_ > 0 && !(depth_ == 2 && inFiles_);
  }
  bool close() {
    --depth_;
    if (depth_ == 1) inFiles_ = false;
    return true;
  }

  ManifestSink& sink_;
  int depth_ = 0;  // 1: inside the top-level object
  Slot slot_ = Slot::kOther;
  bool inFiles_ = false;
  bool sawFiles_ = false;
  std::optional<std::string> identifier_;
  std::string path_;
};

}  // namespace

std::optional<std::string> readManifest(std::string_view text, ManifestSink& sink) {
  ManifestSax sax(sink);
  if (!parseJsonText(text, sax)) return std::nullopt;
  return sax.identifier();
}

std::optional<std::string> readManifest(int fd, std::size_t limit, ManifestSink& sink) {
  ManifestSax sax(sink);
  if (!parseJsonFile(fd, limit, sax)) return std::nullopt;
  return sax.identifier();
}

std::optional<ManifestIndex> ManifestIndex::read(int fd, std::size_t size) {
  ManifestIndex index;
  // The text bounds both: the paths are shorter than the text, and each entry takes at least
  // kShortestEntry bytes of it. Reserving spares the copies of growing; the pages that are never
  // written cost address space, not memory.
  index.paths_.reserve(size);
  index.entries_.reserve(size / kShortestEntry + 1);
  auto identifier = readManifest(fd, size, index);
  if (!identifier) return std::nullopt;
  index.identifier_ = std::move(*identifier);
  std::sort(index.entries_.begin(), index.entries_.end(),
            [&index](const Entry& a, const Entry& b) { return index.pathOf(a) < index.pathOf(b); });
  const auto twice = std::adjacent_find(
      index.entries_.begin(), index.entries_.end(),
      [&index](const Entry& a, const Entry& b) { return index.pathOf(a) == index.pathOf(b); });
  if (twice != index.entries_.end()) return std::nullopt;
  return index;
}

bool ManifestIndex::add(std::string&& path, const Digest& digest) {
  if (paths_.size() + path.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  entries_.push_back(
      {static_cast<std::uint32_t>(paths_.size()), static_cast<std::uint32_t>(path.size()), digest});
  paths_ += path;
  return true;
}

const Digest* ManifestIndex::find(std::string_view path) const {
  const auto it = std::lower_bound(
      entries_.begin(), entries_.end(), path,
      [this](const Entry& entry, std::string_view wanted) { return pathOf(entry) < wanted; });
  if (it == entries_.end() || pathOf(*it) != path) return nullptr;
  return &it->digest;
}

}  // namespace veltra
