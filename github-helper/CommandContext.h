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

  // The run's wall clock: the desktop's clock (tests give a fake one).
  Date now() const { return desktop.clock().now(); }
};

}  // namespace pellow
