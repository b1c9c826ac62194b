// The time of day as the user reads it: short time style, user's locale and time zone.
//
//   std::string text = formatShortTime(Date::fromUnixSeconds(1767225600));  // "1:05 PM", "13:05"
//
// The locale and time zone are the environment's (LC_ALL / LC_MESSAGES / LANG, TZ or
// /etc/localtime), read once per process by ICU in the network module.
#pragma once

#include <string>

#include "PellowGitHub/GitHubDate.h"

namespace pellow {

// The time of day of `date` without the date. Loads the network module; throws
// std::runtime_error when it cannot be loaded or cannot format.
std::string formatShortTime(Date date);

}  // namespace pellow
