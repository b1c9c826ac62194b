// Repository references: the one canonical form, owner/name, of the texts that name a GitHub
// repository: what the user types in Settings (owner/name, owner/name.git, the repository's web
// address, its SSH address), git's "path" attribute and the API's "full_name".
//
//   std::string slug = repositorySlug("  https://github.com/Octo/Hello.git/\n");  // "Octo/Hello"
//   if (!tryRepositorySlug(item["full_name"])) skip(item);
//
// Accepted forms, after trimming Unicode white space and newlines from both ends:
//   owner/name, owner/name.git
//   <web base URL>/owner/name, optionally followed by ".git" and/or one "/"
//   git@<web host>:owner/name, optionally followed by ".git"
// The owner is 1-100 of A-Z a-z 0-9 "-" "_" (managed users' logins end in "_" and the
// enterprise's short code: "mona-cat_octo"); the name 1-100 of A-Z a-z 0-9 "." "_" "-" and not "." or
// "..". Letter case is kept. One trailing "/" is removed first, then one lower-case ".git": so
// "o/n.git/" gives "o/n" while "o/n/.git" is rejected (its "/" stays and leaves a third piece).
//
// Pure functions of their input: no network, no keychain. Only a text containing "://" is
// parsed as a URL, which loads the network module (libcurl's URL parser); any other text needs
// no library. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellow {

// The slug owner/name of `reference`, or nothing when it is not an accepted form.
// Throws std::runtime_error only when a URL text needs the network module and it cannot be
// loaded.
std::optional<std::string> tryRepositorySlug(std::string_view reference);

// The slug owner/name of `reference`. Throws PellowError with
// invalidRepositoryReference when it is not an accepted form.
std::string repositorySlug(std::string_view reference);

}  // namespace pellow
