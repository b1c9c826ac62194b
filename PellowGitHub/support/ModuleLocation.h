// Where this library's loadable modules ("pellow-net.so", "pellow-secret.so") are installed:
// <prefix>/libexec/pellow, fixed when the library is configured from CMAKE_INSTALL_PREFIX. The
// session kit's loader (Session/ModuleLoader.h) looks beside the running executable first, then
// here, so that an application linking the library finds them wherever its own executable lives.
//
//   loadModule(session, kNetModuleFileName, installedModuleFolder(), PELLOW_NET_ENTRY_SYMBOL);
#pragma once

#include <filesystem>

namespace pellow {

// The folder the package installs the modules in.
std::filesystem::path installedModuleFolder();

}  // namespace pellow
