#include "PellowGitHub/api/LinkHeader.h"

#include <optional>
#include <string>

namespace pellow {
namespace {

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerASCII(a[i]) != lowerASCII(b[i])) return false;
  }
  return true;
}

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// A cursor over one header value. Every step stops at the end of the text, so a truncated or
// malformed value can never read past it.
class LinkReader {
 public:
  explicit LinkReader(std::string_view text) : text_(text) {}

  bool atEnd() const { return i_ >= text_.size(); }
  char peek() const { return text_[i_]; }
  void skipSpaces() {
    while (!atEnd() && isSpace(peek())) ++i_;
  }
  bool take(char c) {
    if (atEnd() || peek() != c) return false;
    ++i_;
    return true;
  }

  // "<URI>": the URI is skipped; commas and semicolons inside it belong to it.
  bool skipTarget() {
    if (!take('<')) return false;
    while (!atEnd() && peek() != '>') ++i_;
    return take('>');
  }

  // A parameter name or bare value: everything up to a delimiter or white space.
  std::string_view token() {
    const std::size_t start = i_;
    while (!atEnd() && !isSpace(peek()) && peek() != ';' && peek() != ',' && peek() != '=' &&
           peek() != '"') {
      ++i_;
    }
    return text_.substr(start, i_ - start);
  }

  // A quoted string with backslash escapes, unquoted; nothing when it is not closed.
  std::optional<std::string> quoted() {
    if (!take('"')) return std::nullopt;
    std::string out;
    while (!atEnd()) {
      const char c = text_[i_++];
      if (c == '"') return out;
      if (c == '\\' && !atEnd()) {
        out.push_back(text_[i_++]);
      } else {
        out.push_back(c);
      }
    }
    return std::nullopt;
  }

  // Moves past the rest of a malformed entry: to the next comma that is outside a URI and
  // outside a quoted string.
  void skipEntry() {
    while (!atEnd() && peek() != ',') {
      if (peek() == '<') {
        skipTarget();
      } else if (peek() == '"') {
        if (!quoted()) return;
      } else {
        ++i_;
      }
    }
  }

 private:
  std::string_view text_;
  std::size_t i_ = 0;
};

bool listsNext(std::string_view relations) {
  std::size_t i = 0;
  while (i < relations.size()) {
    while (i < relations.size() && isSpace(relations[i])) ++i;
    const std::size_t start = i;
    while (i < relations.size() && !isSpace(relations[i])) ++i;
    if (i > start && equalsIgnoringASCIICase(relations.substr(start, i - start), "next")) {
      return true;
    }
  }
  return false;
}

// Reads one entry's parameters after its target. Returns whether its first "rel" names "next";
// stops at the comma that ends the entry (or at a malformation, which it leaves to the caller).
bool entryHasNext(LinkReader& reader, bool& malformed) {
  bool sawRel = false;
  bool next = false;
  while (true) {
    reader.skipSpaces();
    if (reader.atEnd() || reader.peek() == ',') return next;
    if (!reader.take(';')) {
      malformed = true;
      return next;
    }
    reader.skipSpaces();
    const std::string_view name = reader.token();
    reader.skipSpaces();
    std::string value;
    if (reader.take('=')) {
      reader.skipSpaces();
      if (!reader.atEnd() && reader.peek() == '"') {
        std::optional<std::string> text = reader.quoted();
        if (!text) {
          malformed = true;
          return next;
        }
        value = std::move(*text);
      } else {
        value = std::string(reader.token());
      }
    }
    // RFC 8288: a "rel" after the first one in the same entry is ignored.
    if (!sawRel && equalsIgnoringASCIICase(name, "rel")) {
      sawRel = true;
      next = listsNext(value);
    }
  }
}

}  // namespace

bool linkValueHasNext(std::string_view value) {
  LinkReader reader(value);
  while (true) {
    // Empty entries (",," or a leading comma) are allowed by the list syntax.
    reader.skipSpaces();
    while (reader.take(',')) reader.skipSpaces();
    if (reader.atEnd()) return false;
    bool malformed = false;
    if (!reader.skipTarget()) {
      malformed = true;
    } else if (entryHasNext(reader, malformed) && !malformed) {
      return true;
    }
    if (malformed) reader.skipEntry();
  }
}

bool hasNextPageLink(const HTTPResponse& response) {
  for (const auto& [name, value] : response.headers) {
    if (equalsIgnoringASCIICase(name, "Link") && linkValueHasNext(value)) return true;
  }
  return false;
}

}  // namespace pellow
