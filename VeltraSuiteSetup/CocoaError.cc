#include "VeltraSuiteSetup/CocoaError.h"

#include <string>
#include <utility>

namespace veltra {
namespace {

class CocoaCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "NSCocoaErrorDomain"; }
  std::string message(int code) const override {
    return "The operation couldn\u2019t be completed. (NSCocoaErrorDomain error " +
           std::to_string(code) + ".)";
  }
};

}  // namespace

const std::error_category& cocoaCategory() noexcept {
  static const CocoaCategory category;
  return category;
}

std::error_code make_error_code(CocoaError code) noexcept {
  return {static_cast<int>(code), cocoaCategory()};
}

std::system_error cocoaError(CocoaError code) { return std::system_error(make_error_code(code)); }

namespace {

std::string describe(const std::filesystem::path& path, const std::string& reason, int error) {
  std::string text = path.string() + ": " + reason;
  if (error != 0) text += ": " + std::generic_category().message(error);
  return text;
}

}  // namespace

CocoaFileError::CocoaFileError(CocoaError code, std::filesystem::path path, std::string reason,
                               int underlyingErrno)
    : std::system_error(make_error_code(code), describe(path, reason, underlyingErrno)),
      path_(std::move(path)),
      reason_(std::move(reason)),
      underlying_(underlyingErrno != 0 ? std::error_code(underlyingErrno, std::generic_category())
                                       : std::error_code()) {}

CocoaFileError cocoaError(CocoaError code, const std::filesystem::path& path, std::string reason,
                          int underlyingErrno) {
  return CocoaFileError(code, path, std::move(reason), underlyingErrno);
}

}  // namespace veltra
