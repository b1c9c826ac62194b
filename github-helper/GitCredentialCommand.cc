#include <stdexcept>

#include "github-helper/Commands.h"

namespace pellow {

// Not built yet: every request gets no answer.
void gitCredentialCommand(CommandContext&, std::int64_t, StandardStreams&) {}

}  // namespace pellow
