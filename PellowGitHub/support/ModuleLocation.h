// Where this library's loadable modules ("pellow-net.so", "pellow-secret.so") are found.
//
//   const std::filesystem::path path = pellow::modulePath(kNetModuleFileName);
//   void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
//
// Beside the running executable (/proc/self/exe) when the module is there: the helpers are
// installed in the same folder as their modules, and the build tree keeps programs and modules
// side by side. Otherwise in the folder where the package installs them,
// <prefix>/libexec/pellow (fixed when the library is configured, from CMAKE_INSTALL_PREFIX), so
// that an application linking the library finds them wherever its own executable lives.
// Thread-safe; reads only the file system.
#pragma once

#include <filesystem>
#include <string_view>

namespace pellow {

// The folder the package installs the modules in.
std::filesystem::path installedModuleFolder();

// The module file to load: beside the running executable when it exists there, else in
// installedModuleFolder(). The file need not exist; loading it then fails with its name.
std::filesystem::path modulePath(std::string_view fileName);

}  // namespace pellow
