#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"

#include <string>
#include <system_error>
#include <vector>

#include "Session/ModuleLoader.h"
#include "Session/Trace.h"
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
const VeltraGtkAlertModule* loadGtkModule(const fs::path& path, const pellow::Session& session) {
  try {
    const pellow::ModuleEntry found =
        pellow::loadModuleFrom({path.parent_path()}, path.filename().string(), session.userID,
                               VELTRA_GTK_ALERT_ENTRY_SYMBOL);
    // POSIX guarantees that a function's address survives the round trip through void*.
    const auto entry = reinterpret_cast<VeltraGtkAlertEntry>(found.symbol);
    const VeltraGtkAlertModule* module = entry();
    if (module == nullptr || module->abi_version != VELTRA_GTK_ALERT_ABI_VERSION) {
      pellow::trace::line("module", path.string() + " was built for another interface version");
      return nullptr;
    }
    return module;
  } catch (const pellow::ModuleLoadError&) {
    return nullptr;  // the loader traced why
  }
}

}  // namespace

std::unique_ptr<AlertPresenter> makeGtkAlertPresenter(const fs::path& module,
                                                      const pellow::Session& session) {
  const VeltraGtkAlertModule* loaded = loadGtkModule(module, session);
  if (loaded == nullptr) return nullptr;
  const std::string programName = session.executable.filename().string();
  if (loaded->open_display(programName.c_str(), session.sessionBusKnown() ? 1 : 0) != 0) {
    pellow::trace::line("alert", "the display cannot be opened");
    return nullptr;
  }
  return std::make_unique<GtkAlertPresenter>(*loaded);
}

std::unique_ptr<AlertPresenter> makeGtkAlertPresenter() {
  const pellow::Session& session = pellow::Session::current();
  if (session.executable.empty()) return nullptr;
  return makeGtkAlertPresenter(session.executable.parent_path() / kGtkAlertModuleFileName, session);
}

}  // namespace veltra
