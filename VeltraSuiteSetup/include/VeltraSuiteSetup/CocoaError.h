// Cocoa file errors of the suite-setup operations.
//
//   throw veltra::cocoaError(veltra::CocoaError::fileReadNoPermission);
//   ...
//   catch (const std::system_error& e) {
//     if (e.code() == veltra::CocoaError::fileReadCorruptFile) { ... }
//   }
//
// An error is identified by its code alone: callers compare codes, and the category is named
// "NSCocoaErrorDomain". Where the library knows why, it throws a CocoaFileError, which keeps the
// path, the reason and the underlying errno for diagnostics (the trace shows them):
//
//   catch (const veltra::CocoaFileError& e) { log(e.path(), e.reason(), e.underlying()); }
//
// Thread-safe; the category is a process-wide singleton.
#pragma once

#include <filesystem>
#include <string>
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

// A Cocoa file error that keeps its cause. what() reads "<path>: <reason>[: <errno text>]: <the
// code's message>".
class CocoaFileError : public std::system_error {
 public:
  CocoaFileError(CocoaError code, std::filesystem::path path, std::string reason,
                 int underlyingErrno = 0);

  const std::filesystem::path& path() const noexcept { return path_; }
  const std::string& reason() const noexcept { return reason_; }
  // The operating system's error, or a default (0) error_code when there was none.
  std::error_code underlying() const noexcept { return underlying_; }

 private:
  std::filesystem::path path_;
  std::string reason_;
  std::error_code underlying_;
};

// The same as cocoaError(code), with its cause.
CocoaFileError cocoaError(CocoaError code, const std::filesystem::path& path, std::string reason,
                          int underlyingErrno = 0);

}  // namespace veltra

template <>
struct std::is_error_code_enum<veltra::CocoaError> : std::true_type {};
