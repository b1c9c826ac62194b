#include "VeltraSuiteSetup/JsonText.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <iterator>

namespace veltra {
namespace {

constexpr const char* kNulProblem = "a NUL byte in the JSON text";

bool holdsNul(std::string_view bytes) { return bytes.find('\0') != std::string_view::npos; }

// The bytes of an open file, read a piece at a time. A NUL byte, a read error or more than the
// limit end the bytes early and mark them failed, so that a parser that found a complete value
// before that point is still overruled.
class FileBytes {
 public:
  FileBytes(int fd, std::size_t limit) : fd_(fd), limit_(limit) {}

  bool available() {
    if (position_ < length_) return true;
    if (done_) return false;
    while (true) {
      const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        failed_ = got < 0;
        done_ = true;
        return false;
      }
      total_ += static_cast<std::size_t>(got);
      const std::string_view piece(buffer_.data(), static_cast<std::size_t>(got));
      if (total_ > limit_ || holdsNul(piece)) {
        failed_ = done_ = true;
        return false;
      }
      position_ = 0;
      length_ = piece.size();
      return true;
    }
  }
  char peek() const { return buffer_[position_]; }
  void advance() { ++position_; }
  bool failed() const { return failed_; }

 private:
  int fd_;
  std::size_t limit_;
  std::array<char, 16384> buffer_{};
  std::size_t position_ = 0;
  std::size_t length_ = 0;
  std::size_t total_ = 0;
  bool done_ = false;
  bool failed_ = false;
};

// The input iterator nlohmann's reader pulls characters through; a default one is the end.
class FileByteIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  FileByteIterator() = default;
  explicit FileByteIterator(FileBytes& bytes) : bytes_(&bytes) {}

  char operator*() const { return bytes_->peek(); }
  FileByteIterator& operator++() {
    bytes_->advance();
    return *this;
  }
  FileByteIterator operator++(int) {
    FileByteIterator before = *this;
    bytes_->advance();
    return before;
  }
  bool operator==(const FileByteIterator& other) const { return atEnd() == other.atEnd(); }

 private:
  bool atEnd() const { return bytes_ == nullptr || !bytes_->available(); }
  FileBytes* bytes_ = nullptr;
};

}  // namespace

nlohmann::json parseJsonText(std::string_view text, std::string* problem) {
  if (holdsNul(text)) {
    if (problem != nullptr) *problem = kNulProblem;
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  try {
    // Strict: anything but white space after the value is a syntax error.
    return nlohmann::json::parse(text.begin(), text.end());
  } catch (const nlohmann::json::exception& error) {
    if (problem != nullptr) *problem = error.what();
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
}

bool parseJsonText(std::string_view text, JsonSax& sax) {
  if (holdsNul(text)) return false;
  return nlohmann::json::sax_parse(text.begin(), text.end(), &sax);
}

bool parseJsonFile(int fd, std::size_t limit, JsonSax& sax) {
  FileBytes bytes(fd, limit);
  const bool parsed = nlohmann::json::sax_parse(FileByteIterator(bytes), FileByteIterator(), &sax);
  return parsed && !bytes.failed();
}

}  // namespace veltra
