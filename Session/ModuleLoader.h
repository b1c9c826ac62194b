// The one loader of the helpers' own modules (pellow-net.so, pellow-secret.so,
// veltra-gtk-alert.so): it finds, checks, opens and keeps a module, and says why one did not
// load.
//
//   const ModuleEntry found = loadModule(session, "pellow-net.so", installedFolder,
//                                        "pellow_net_module_v1");
//   const auto entry = reinterpret_cast<PellowNetEntry>(found.symbol);
//
// Where: beside the running executable (session.executable's folder), else in
// `installedFolder`, the folder the package installs them in. A module's constructor runs with
// the caller's rights, so a module is loaded only when no other account could have written it:
// the folder and the file must belong to the user or root and be writable by neither group nor
// others, the file must be a regular file and is opened without following a link in its last
// component, then loaded through that descriptor (/proc/self/fd/<n>), so what was checked is
// what loads. A candidate that fails the check is passed over with its reason in the trace, and
// the next one is tried: an application in a shared folder still gets the installed module.
//
// A module that loaded is kept for the life of the process (GLib, GTK, libcurl and ICU keep
// process-wide state), and so is the close-on-exec descriptor it was loaded through; one whose
// entry point is missing is closed again.
// Thread-safe (callers keep the result in a function-local static).
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "PellowSession/Session.h"

namespace pellow {

// Why no module could be loaded: one reason per candidate, e.g.
// "/opt/app/pellow-net.so: folder /opt/app is writable by others".
class ModuleLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ModuleEntry {
  std::filesystem::path path;  // the file that was loaded
  void* symbol = nullptr;      // the address of the entry symbol
};

// Throws ModuleLoadError when no candidate passes the check, loads and has `entrySymbol`.
ModuleEntry loadModule(const Session& session, std::string_view fileName,
                       const std::filesystem::path& installedFolder, const char* entrySymbol);

// Writes the trace line of a module built for another interface version.
void traceModuleVersionMismatch(const std::filesystem::path& path);

// The same over the given folders, in order, for `user`.
ModuleEntry loadModuleFrom(const std::vector<std::filesystem::path>& folders,
                           std::string_view fileName, uid_t user, const char* entrySymbol);

// The function table of a module whose entry point is `const Table* entry(void)` and whose
// table starts with `int abi_version`: loadModule() and the version check, nullptr (with the
// reason in the trace) when either fails. Never throws ModuleLoadError.
//
//   static const PellowSecretModule* const module = loadModuleTable<PellowSecretModule>(
//       session, "pellow-secret.so", installedModuleFolder(), "pellow_secret_module_v1", 1);
template <typename Table>
const Table* loadModuleTable(const Session& session, std::string_view fileName,
                             const std::filesystem::path& installedFolder, const char* entrySymbol,
                             int abiVersion) {
  try {
    const ModuleEntry found = loadModule(session, fileName, installedFolder, entrySymbol);
    // POSIX guarantees that a function's address survives the round trip through void*.
    const auto entry = reinterpret_cast<const Table* (*)()>(found.symbol);
    const Table* table = entry();
    if (table == nullptr || table->abi_version != abiVersion) {
      traceModuleVersionMismatch(found.path);
      return nullptr;
    }
    return table;
  } catch (const ModuleLoadError&) {
    return nullptr;  // the loader traced why
  }
}

// The check alone, for one candidate: an empty string when `folder`/`fileName` may be loaded,
// else the reason. `fd` receives the opened file (close-on-exec) when the check passes.
std::string checkModuleFile(const std::filesystem::path& folder, std::string_view fileName,
                            uid_t user, int& fd);

}  // namespace pellow
