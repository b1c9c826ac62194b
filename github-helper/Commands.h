// The operations of JSON request mode and git credential mode.
//
// Each JSON operation takes the whole request object (keys it does not read are ignored) and
// returns the payload that the answer carries under "ok". Every failure is an exception: a
// PellowError carries the message to show, anything else is shown as the generic failure message.
//
//   nlohmann::json payload = disconnectCommand(context, request);   // {"signedIn":false}
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "github-helper/CommandContext.h"
#include "github-helper/StandardStreams.h"

namespace pellow {

// Sign-in and account commands.
nlohmann::json statusCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json beginCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json pollCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json saveCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json disconnectCommand(CommandContext& context, const nlohmann::json& request);

// Repository check and listings.
nlohmann::json repositoryCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json installationsCommand(CommandContext& context, const nlohmann::json& request);
nlohmann::json repositoriesCommand(CommandContext& context, const nlohmann::json& request);

// git credential mode for `account` (at least 1): reads git's request from `streams` and writes
// the answer lines, or nothing. Throws on a failure of the credential access, which the caller
// reports as the error line.
void gitCredentialCommand(CommandContext& context, std::int64_t account, StandardStreams& streams);

// The account summary of an optional credential: {"signedIn":false}, or
// {"id":…,"login":…,"signedIn":true} when it has both accountID and login.
nlohmann::json accountSummary(const GitHubCredential* credential);

}  // namespace pellow
