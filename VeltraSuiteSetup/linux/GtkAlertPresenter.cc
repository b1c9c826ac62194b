#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"

#include <dlfcn.h>

#include <string>
#include <system_error>
#include <vector>

#include "VeltraSuiteSetup/linux/gtk/GtkAlertModuleABI.h"

namespace veltra {
namespace fs = std::filesystem;
namespace {

class GtkAlertPresenter final : public AlertPresenter {
 public:
  explicit GtkAlertPresenter(const VeltraGtkAlertModule& module) : module_(module) {}

  int runModal(const AlertContent& alert) override {
    std::vector<const char*> buttons;
    buttons.reserve(alert.buttons.size());
    for (const std::string& title : alert.buttons) buttons.push_back(title.c_str());
    const int chosen = module_.run_modal(alert.messageText.c_str(), alert.informativeText.c_str(),
                                         buttons.data(), buttons.size());
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= buttons.size()) {
      return kGtkAlertClosedReturn;
    }
    return kAlertFirstButtonReturn + chosen;
  }

 private:
  const VeltraGtkAlertModule& module_;
};

// Loads the module and checks its interface version; null when it cannot be used. A module
// that loaded is kept for the life of the process: GTK and GLib register types and threads that
// cannot be torn down.
const VeltraGtkAlertModule* loadModule(const fs::path& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  void* symbol = dlsym(library, VELTRA_GTK_ALERT_ENTRY_SYMBOL);
  // POSIX guarantees that a function's address survives the round trip through void*.
  const auto entry = reinterpret_cast<VeltraGtkAlertEntry>(symbol);
  const VeltraGtkAlertModule* module = entry != nullptr ? entry() : nullptr;
  if (module == nullptr || module->abi_version != VELTRA_GTK_ALERT_ABI_VERSION) {
    dlclose(library);
    return nullptr;
  }
  return module;
}

}  // namespace

std::unique_ptr<AlertPresenter> makeGtkAlertPresenter(const fs::path& module) {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  const VeltraGtkAlertModule* loaded = loadModule(module);
  if (loaded == nullptr) return nullptr;
  const std::string programName = error ? std::string() : executable.filename().string();
  if (loaded->open_display(programName.c_str()) != 0) return nullptr;
  return std::make_unique<GtkAlertPresenter>(*loaded);
}

std::unique_ptr<AlertPresenter> makeGtkAlertPresenter() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return nullptr;
  return makeGtkAlertPresenter(executable.parent_path() / kGtkAlertModuleFileName);
}

}  // namespace veltra
