// CommandContext: what every command of the helper works with during one run.
//
//   CommandContext context{desktop};
//   nlohmann::json payload = statusCommand(context, request);
#pragma once

#include "PellowGitHub/GitHubDate.h"
#include "PellowGitHub/GitHubDesktop.h"

namespace pellow {

struct CommandContext {
  GitHubDesktop& desktop;
  // The wall clock; tests give a fixed one.
  Date (*now)() = &Date::now;
};

}  // namespace pellow
