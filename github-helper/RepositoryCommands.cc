#include <stdexcept>

#include "github-helper/Commands.h"

namespace pellow {

// Not built yet: answered with the generic failure message.
nlohmann::json repositoryCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("repositoryCommand");
}
nlohmann::json installationsCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("installationsCommand");
}
nlohmann::json repositoriesCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("repositoriesCommand");
}

}  // namespace pellow
