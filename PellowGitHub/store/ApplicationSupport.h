// The user's Application Support folder on Linux: the session's data home ($XDG_DATA_HOME when
// it is set and absolute, else <home>/.local/share, the home folder taken from the password
// database when HOME is unset, empty or relative). The folder is not created here.
//
//   std::filesystem::path items = pellowGitHubDirectory(session);
#pragma once

#include <filesystem>

#include "PellowSession/Session.h"

namespace pellow {

// Throws std::runtime_error when the session knows no home folder at all.
std::filesystem::path applicationSupportDirectory(const Session& session = Session::current());

// The helper's own private folder inside it: "PellowGitHub".
std::filesystem::path pellowGitHubDirectory(const Session& session = Session::current());

}  // namespace pellow
