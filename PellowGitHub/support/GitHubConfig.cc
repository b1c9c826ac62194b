#include "PellowGitHub/support/GitHubConfig.h"

namespace pellow::config {
namespace {

// The host of an origin "https://host" (no user, port or path: checked by CMake).
constexpr std::string_view hostOf(std::string_view origin) {
  const auto start = origin.find("://");
  std::string_view rest = origin.substr(start == std::string_view::npos ? 0 : start + 3);
  const auto end = rest.find('/');
  return end == std::string_view::npos ? rest : rest.substr(0, end);
}

constexpr std::string_view kWeb = PELLOW_GITHUB_WEB_URL;
constexpr std::string_view kApi = PELLOW_GITHUB_API_URL;

}  // namespace

std::string_view webBaseURL() { return kWeb; }
std::string_view apiBaseURL() { return kApi; }
std::string_view webHost() { return hostOf(kWeb); }
std::string_view apiHost() { return hostOf(kApi); }

}  // namespace pellow::config
