#include "PellowGitHub/net/NetModule.h"

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "PellowGitHub/support/ModuleLocation.h"

namespace pellow {
namespace {

std::atomic<bool> gLoaded{false};

struct LibraryCloser {
  void operator()(void* handle) const noexcept { dlclose(handle); }
};

std::string loaderError() {
  const char* message = dlerror();
  return message == nullptr ? std::string("unknown error") : std::string(message);
}

const PellowNetModule* load() {
  const std::filesystem::path path = modulePath(kNetModuleFileName);
  // RTLD_LOCAL: the module's libcurl and ICU symbols stay out of the helper's own namespace.
  std::unique_ptr<void, LibraryCloser> library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!library) throw std::runtime_error("cannot load " + path.string() + ": " + loaderError());
  void* symbol = dlsym(library.get(), PELLOW_NET_ENTRY_SYMBOL);
  if (symbol == nullptr) {
    throw std::runtime_error(path.string() + " has no entry point: " + loaderError());
  }
  // POSIX guarantees that a function's address survives the round trip through void*.
  const auto entry = reinterpret_cast<PellowNetEntry>(symbol);
  const PellowNetModule* module = entry();
  if (module == nullptr || module->abi_version != PELLOW_NET_ABI_VERSION) {
    throw std::runtime_error(path.string() + " was built for another interface version");
  }
  // Never unloaded: libcurl and ICU keep process-wide state that outlives any one caller.
  static_cast<void>(library.release());
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
