#include "PellowGitHub/net/NetModule.h"

#include <atomic>
#include <stdexcept>
#include <string>

#include "PellowGitHub/support/ModuleLocation.h"
#include "PellowSession/Session.h"
#include "Session/ModuleLoader.h"

namespace pellow {
namespace {

std::atomic<bool> gLoaded{false};

const PellowNetModule* load() {
  // Never unloaded: libcurl and ICU keep process-wide state that outlives any one caller.
  const ModuleEntry found = loadModule(Session::current(), kNetModuleFileName,
                                       installedModuleFolder(), PELLOW_NET_ENTRY_SYMBOL);
  // POSIX guarantees that a function's address survives the round trip through void*.
  const auto entry = reinterpret_cast<PellowNetEntry>(found.symbol);
  const PellowNetModule* module = entry();
  if (module == nullptr || module->abi_version != PELLOW_NET_ABI_VERSION) {
    throw std::runtime_error(found.path.string() + " was built for another interface version");
  }
  gLoaded.store(true);
  return module;
}

}  // namespace

const PellowNetModule& netModule() {
  // A failed load throws out of the initialiser, which leaves it to run again next time.
  static const PellowNetModule* const module = load();
  return *module;
}

bool netModuleLoaded() noexcept { return gLoaded.load(); }

}  // namespace pellow
