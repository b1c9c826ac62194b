#include "PellowGitHub/support/ModuleLocation.h"

#ifndef PELLOW_INSTALLED_MODULE_DIR
#error "PELLOW_INSTALLED_MODULE_DIR names the installed module folder (set by CMake)"
#endif

namespace pellow {

std::filesystem::path installedModuleFolder() { return PELLOW_INSTALLED_MODULE_DIR; }

}  // namespace pellow
