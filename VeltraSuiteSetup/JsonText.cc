#include "VeltraSuiteSetup/JsonText.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <iterator>

#include "TextKit/JsonText.h"

namespace veltra {
namespace {

constexpr const char* kNulProblem = "a NUL byte in the JSON text";

// The bytes of a text or of an open file, handed out a piece at a time. A NUL byte, a read error
// or more than the limit end the bytes early and mark them failed, so that a parser that found a
// complete value before that point is still overruled. Texts and files go through this one type,
// so that the program holds one copy of nlohmann's reader, not one per kind of input.
class Bytes {
 public:
  explicit Bytes(std::string_view text) : limit_(text.size()), text_(text) {}
  Bytes(int fd, std::size_t limit) : fd_(fd), limit_(limit) {}

  bool available() {
    if (position_ < piece_.size()) return true;
    if (done_) return false;
    std::string_view piece;
    if (!nextPiece(piece)) {
      done_ = true;
      return false;
    }
    total_ += piece.size();
    if (total_ > limit_ || textkit::holdsNul(piece)) {
      failed_ = done_ = true;
      return false;
    }
    piece_ = piece;
    position_ = 0;
    return true;
  }
  char peek() const { return piece_[position_]; }
  void advance() { ++position_; }
  bool failed() const { return failed_; }

 private:
  bool nextPiece(std::string_view& piece) {
    if (fd_ < 0) {
      if (textGiven_ || text_.empty()) return false;
      textGiven_ = true;
      piece = text_;
      return true;
    }
    while (true) {
      const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got < 0 && errno == EINTR) continue;
      failed_ = got < 0;
      if (got <= 0) return false;
      piece = std::string_view(buffer_.data(), static_cast<std::size_t>(got));
      return true;
    }
  }

  int fd_ = -1;  // -1: the bytes are text_
  std::size_t limit_;
  std::string_view text_;
  bool textGiven_ = false;
  std::array<char, 16384> buffer_{};
  std::string_view piece_;
  std::size_t position_ = 0;
  std::size_t total_ = 0;
  bool done_ = false;
  bool failed_ = false;
};

// The input iterator nlohmann's reader pulls characters through; a default one is the end.
class ByteIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  ByteIterator() = default;
  explicit ByteIterator(Bytes& bytes) : bytes_(&bytes) {}

  char operator*() const { return bytes_->peek(); }
  ByteIterator& operator++() {
    bytes_->advance();
    return *this;
  }
  ByteIterator operator++(int) {
    ByteIterator before = *this;
    bytes_->advance();
    return before;
  }
  bool operator==(const ByteIterator& other) const { return atEnd() == other.atEnd(); }

 private:
  bool atEnd() const { return bytes_ == nullptr || !bytes_->available(); }
  Bytes* bytes_ = nullptr;
};

}  // namespace

nlohmann::json parseJsonText(std::string_view text, std::string* problem) {
  Bytes bytes(text);
  try {
    // Strict: anything but white space after the value is a syntax error.
    nlohmann::json value = nlohmann::json::parse(ByteIterator(bytes), ByteIterator());
    if (!bytes.failed()) return value;
    if (problem != nullptr) *problem = kNulProblem;
  } catch (const nlohmann::json::exception& error) {
    if (problem != nullptr) *problem = bytes.failed() ? kNulProblem : error.what();
  }
  return nlohmann::json(nlohmann::json::value_t::discarded);
}

bool parseJsonText(std::string_view text, JsonSax& sax) {
  Bytes bytes(text);
  return nlohmann::json::sax_parse(ByteIterator(bytes), ByteIterator(), &sax) && !bytes.failed();
}

bool parseJsonFile(int fd, std::size_t limit, JsonSax& sax) {
  Bytes bytes(fd, limit);
  return nlohmann::json::sax_parse(ByteIterator(bytes), ByteIterator(), &sax) && !bytes.failed();
}

}  // namespace veltra
