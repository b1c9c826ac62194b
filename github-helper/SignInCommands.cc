#include <stdexcept>

#include "github-helper/Commands.h"

namespace pellow {

// Not built yet: answered with the generic failure message.
nlohmann::json statusCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("statusCommand");
}
nlohmann::json beginCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("beginCommand");
}
nlohmann::json pollCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("pollCommand");
}
nlohmann::json saveCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("saveCommand");
}
nlohmann::json disconnectCommand(CommandContext&, const nlohmann::json&) {
  throw std::logic_error("disconnectCommand");
}

}  // namespace pellow
