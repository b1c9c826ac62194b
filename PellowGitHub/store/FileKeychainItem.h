// The on-disk form of one item of the private file store (FileKeychainBackend), and the name of
// its file. Pure functions, no I/O.
//
// An item file is a short text header followed by the secret's bytes, exactly as given:
//
//   pellow-keychain-item 1\n
//   service <text>\n
//   account <text>\n
//   label <text>\n
//   accessible whenUnlockedThisDeviceOnly\n
//   data <decimal byte count>\n
//   <that many bytes, then the end of the file>
//
// Header texts are percent-encoded: every byte outside "!" .. "~" and every "%" is written as
// "%" and two upper-case hex digits, so a header line never holds a space, a line end or a
// control byte. The data needs no encoding (its length is given), so any bytes survive.
//
//   std::string bytes = encodeKeychainItem(item);
//   std::optional<KeychainItemRecord> back = decodeKeychainItem(bytes);   // == item
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/KeychainBackend.h"

namespace pellow {

struct KeychainItemRecord {
  std::string service;
  std::string account;
  std::string label;
  KeychainAccessibility accessibility = KeychainAccessibility::whenUnlockedThisDeviceOnly;
  std::string data;

  friend bool operator==(const KeychainItemRecord&, const KeychainItemRecord&) = default;
};

// The largest secret the store keeps (a credential is a few hundred bytes), and the largest
// header it accepts.
inline constexpr std::size_t kMaxKeychainItemData = 1024 * 1024;
inline constexpr std::size_t kMaxKeychainItemHeader = 16 * 1024;

std::string encodeKeychainItem(const KeychainItemRecord& item);

// The item, or nothing when `bytes` is not exactly one item in the form above (wrong magic line,
// a missing or misplaced header line, bad percent-encoding, an unknown accessibility, a data
// length that disagrees with the bytes that follow, oversized parts).
std::optional<KeychainItemRecord> decodeKeychainItem(std::string_view bytes);

// The file name of an item: the percent-encoded service, "+", the percent-encoded account, then
// ".item". Here only "A-Z a-z 0-9 . _ -" stay as they are, and a leading "." is encoded too, so
// the name is never hidden (hidden names are the store's temporary files), never "." or "..",
// and different keys never share a name. Example: "com.example.v1+github-app.item".
std::string keychainItemFileName(const KeychainItemKey& key);

}  // namespace pellow
