// Cocoa file errors of the suite-setup operations.
//
//   throw veltra::cocoaError(veltra::CocoaError::fileReadNoPermission);
//   ...
//   catch (const std::system_error& e) {
//     if (e.code() == veltra::CocoaError::fileReadCorruptFile) { ... }
//   }
//
// An error is identified by its code alone: the category is named "NSCocoaErrorDomain" and carries
// no path and no underlying error. Thread-safe; the category is a process-wide singleton.
#pragma once

#include <system_error>

namespace veltra {

enum class CocoaError : int {
  fileReadNoPermission = 257,
  fileReadCorruptFile = 259,
  fileReadNoSuchFile = 260,
  fileWriteUnknown = 512,
  fileWriteNoPermission = 513,
};

// The category of every Cocoa file error; name() is "NSCocoaErrorDomain".
const std::error_category& cocoaCategory() noexcept;

std::error_code make_error_code(CocoaError code) noexcept;

// The exception thrown for `code`: a std::system_error in cocoaCategory().
std::system_error cocoaError(CocoaError code);

}  // namespace veltra

template <>
struct std::is_error_code_enum<veltra::CocoaError> : std::true_type {};
