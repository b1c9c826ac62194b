// The GitHub helper's main body: selects the mode from the arguments, reads and checks the
// request, dispatches it and writes the one answer, or reports the one failure.
//
//   PosixStandardStreams streams;
//   GitHubDesktop desktop(transport, keychain);
//   CommandContext context{desktop};
//   return runGitHubHelper(arguments, streams, context);   // e.g. "credential", "42", "get"
//
// Modes: no arguments is JSON request mode (answer {"ok":…} or {"error":…} on standard output,
// status 0); exactly "credential", an account id, "get" is git credential mode (failures: one
// line "Pellow GitHub: <message>\n" on standard error, status 1); any other "credential" call
// ends silently with status 0; any other first argument is the failure "Invalid GitHub helper
// operation." answered in JSON without reading standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "github-helper/CommandContext.h"
#include "github-helper/StandardStreams.h"

namespace pellow {

inline constexpr std::size_t kJSONRequestLimit = 65536;

// Runs one request and returns the exit status. Never throws.
int runGitHubHelper(std::span<const std::string_view> arguments, StandardStreams& streams,
                    CommandContext& context);

// An account id: an optional "+" or "-", then only the digits 0-9 (not empty, no spaces),
// within a signed 64-bit integer, and at least 1.
std::optional<std::int64_t> parseAccountID(std::string_view text);

}  // namespace pellow
