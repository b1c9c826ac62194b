// Build-time configuration of the GitHub side (CMake cache variables PELLOW_GITHUB_WEB_URL and
// PELLOW_GITHUB_API_URL). Nothing here is read from a file or the environment at run time.
#pragma once

#include <string_view>

namespace pellow::config {

// The GitHub web origin, https and without a trailing slash ("https://github.com").
std::string_view webBaseURL();
// The GitHub API origin ("https://api.github.com").
std::string_view apiBaseURL();
// The host names of those origins.
std::string_view webHost();
std::string_view apiHost();

// The Keychain service of the one stored credential.
inline constexpr std::string_view kKeychainService = "com.pemberhollo.pellow.github.v1";
inline constexpr std::string_view kKeychainAccount = "github-app";

}  // namespace pellow::config
