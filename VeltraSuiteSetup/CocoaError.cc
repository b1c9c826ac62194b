#include "VeltraSuiteSetup/CocoaError.h"

#include <string>

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

}  // namespace veltra
