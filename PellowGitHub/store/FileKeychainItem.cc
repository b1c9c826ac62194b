#include "PellowGitHub/store/FileKeychainItem.h"

#include <charconv>

#include "TextKit/PercentEncoding.h"

namespace pellow {
namespace {

constexpr std::string_view kMagicLine = "pellow-keychain-item 1\n";
constexpr std::string_view kAccessibleWhenUnlockedThisDeviceOnly = "whenUnlockedThisDeviceOnly";

bool keepsInHeader(unsigned char c, std::size_t) { return c > ' ' && c <= '~' && c != '%'; }

// Reads one "<name> <value>\n" line from the front of `rest` and returns the raw value.
std::optional<std::string_view> takeLine(std::string_view& rest, std::string_view name) {
  if (rest.size() < name.size() + 1 || rest.substr(0, name.size()) != name ||
      rest[name.size()] != ' ') {
    return std::nullopt;
  }
  rest.remove_prefix(name.size() + 1);
  const std::size_t end = rest.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view value = rest.substr(0, end);
  rest.remove_prefix(end + 1);
  return value;
}

std::optional<std::string> takeText(std::string_view& rest, std::string_view name) {
  const std::optional<std::string_view> raw = takeLine(rest, name);
  if (!raw) return std::nullopt;
  // Written with upper-case digits and only header bytes between escapes: read back the same way.
  return textkit::percentDecode(*raw, textkit::HexDigits::upper, keepsInHeader);
}

}  // namespace

std::string encodeKeychainItem(const KeychainItemRecord& item) {
  std::string out(kMagicLine);
  out += "service " + textkit::percentEncode(item.service, keepsInHeader) + "\n";
  out += "account " + textkit::percentEncode(item.account, keepsInHeader) + "\n";
  out += "label " + textkit::percentEncode(item.label, keepsInHeader) + "\n";
  out += "accessible ";
  out += kAccessibleWhenUnlockedThisDeviceOnly;
  out += "\ndata " + std::to_string(item.data.size()) + "\n";
  out += item.data;
  return out;
}

std::optional<KeychainItemRecord> decodeKeychainItem(std::string_view bytes) {
  if (bytes.substr(0, kMagicLine.size()) != kMagicLine) return std::nullopt;
  // Only the header is searched for line ends; the data may hold any bytes.
  std::string_view rest = bytes.substr(kMagicLine.size());
  KeychainItemRecord item;
  std::optional<std::string> text;
  if (!(text = takeText(rest, "service"))) return std::nullopt;
  item.service = std::move(*text);
  if (!(text = takeText(rest, "account"))) return std::nullopt;
  item.account = std::move(*text);
  if (!(text = takeText(rest, "label"))) return std::nullopt;
  item.label = std::move(*text);

  const std::optional<std::string_view> accessible = takeLine(rest, "accessible");
  if (!accessible || *accessible != kAccessibleWhenUnlockedThisDeviceOnly) return std::nullopt;
  item.accessibility = KeychainAccessibility::whenUnlockedThisDeviceOnly;

  const std::optional<std::string_view> length = takeLine(rest, "data");
  if (!length || length->empty() || length->size() > 8) return std::nullopt;
  std::size_t size = 0;
  const auto [end, error] = std::from_chars(length->data(), length->data() + length->size(), size);
  if (error != std::errc() || end != length->data() + length->size()) return std::nullopt;
  if (size > kMaxKeychainItemData || rest.size() != size) return std::nullopt;
  if (bytes.size() - size > kMaxKeychainItemHeader) return std::nullopt;
  item.data.assign(rest);
  return item;
}

std::string keychainItemFileName(const KeychainItemKey& key) {
  const auto keepsInName = [](unsigned char c, std::size_t index) {
    if (c == '.') return index > 0;
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  };
  return textkit::percentEncode(key.service, keepsInName) + "+" +
         textkit::percentEncode(key.account, keepsInName) + ".item";
}

}  // namespace pellow
