// NetModule: the helper's access to its network module, "pellow-net.so" (NetModuleABI.h).
//
// The module is loaded the first time a run needs it, from the folder of the running executable
// when it is there (so an installed helper finds the module installed beside it, whatever the
// current folder or PATH), else from the folder the package installed it in (an application
// that links the library; support/ModuleLocation.h), and stays loaded until the process ends.
//
//   const PellowNetModule& net = netModule();  // loads on first use; throws std::runtime_error
//   void* transport = net.transport_create(...);
//
// Thread-safe. Runs that never call netModule() load neither libcurl nor ICU.
#pragma once

#include "PellowGitHub/net/NetModuleABI.h"

namespace pellow {

// The file name of the module (found by the session kit's loader, Session/ModuleLoader.h).
inline constexpr const char* kNetModuleFileName = "pellow-net.so";

// Returns the module's function table, loading the module on the first call (RTLD_NOW,
// RTLD_LOCAL) through the session kit's loader, with the process's session. Throws
// std::runtime_error (ModuleLoadError for a refused or missing file) when the module cannot be found or loaded, lacks its
// entry point or was built for another interface version; a later call tries again.
const PellowNetModule& netModule();

// Whether this process has loaded the module. Never loads it.
bool netModuleLoaded() noexcept;

}  // namespace pellow
