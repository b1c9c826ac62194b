// CheckedRepository: what the repository check (GitHubDesktop::checkRepository) found about the
// repository the user entered. A plain value.
//
//   CheckedRepository repo = desktop.checkRepository("octo/notes");
//   git.setRemote(repo.remote);   // "https://github.com/Octo/Notes.git"
#pragma once

#include <cstdint>
#include <string>

#include "PellowGitHub/GitHubCredential.h"

namespace pellow {

struct CheckedRepository {
  std::int64_t id = 0;
  std::string slug;             // "full_name" exactly as GitHub returned it (GitHub's letter case)
  std::string defaultBranch;    // "default_branch"
  bool isPrivate = false;       // "private"
  std::string remote;           // web base URL + "/" + slug + ".git"
  GitHubCredential credential;  // the credential the check used (for the account summary)
};

}  // namespace pellow
