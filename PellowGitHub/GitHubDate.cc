#include "PellowGitHub/GitHubDate.h"

#include <chrono>

namespace pellow {

Date Date::now() {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return fromUnixSeconds(std::chrono::duration<double>(since1970).count());
}

}  // namespace pellow
