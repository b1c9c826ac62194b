#include "PellowGitHub/support/LocaleTime.h"

#include <limits>
#include <stdexcept>

#include "PellowGitHub/net/NetModule.h"

namespace pellow {

std::string formatShortTime(Date date) {
  const PellowNetModule& module = netModule();
  constexpr std::size_t kFailed = std::numeric_limits<std::size_t>::max();
  std::string text(64, '\0');
  std::size_t length = module.format_short_time(date.unixSeconds(), text.data(), text.size());
  if (length != kFailed && length > text.size()) {
    text.resize(length);
    length = module.format_short_time(date.unixSeconds(), text.data(), text.size());
  }
  if (length == kFailed || length > text.size()) {
    throw std::runtime_error("cannot format the time of day");
  }
  text.resize(length);
  return text;
}

}  // namespace pellow
