#include "PellowGitHub/store/ApplicationSupport.h"

#include <stdexcept>

namespace pellow {

std::filesystem::path applicationSupportDirectory(const Session& session) {
  if (session.dataHome.empty()) throw std::runtime_error("no home folder");
  return session.dataHome;
}

std::filesystem::path pellowGitHubDirectory(const Session& session) {
  return applicationSupportDirectory(session) / "PellowGitHub";
}

}  // namespace pellow
