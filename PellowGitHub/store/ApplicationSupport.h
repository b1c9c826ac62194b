// The user's Application Support folder on Linux: $XDG_DATA_HOME when it is set and absolute,
// else $HOME/.local/share, with the home folder taken from the password database when HOME is
// unset, empty or relative. The folder is not created here.
//
//   std::filesystem::path lockFolder = applicationSupportDirectory() / "PellowGitHub";
#pragma once

#include <filesystem>

namespace pellow {

// Reads the environment on every call (cheap; tests change it between calls). Throws
// std::runtime_error when no home folder can be found at all.
std::filesystem::path applicationSupportDirectory();

// The helper's own private folder inside it: "PellowGitHub".
std::filesystem::path pellowGitHubDirectory();

}  // namespace pellow
