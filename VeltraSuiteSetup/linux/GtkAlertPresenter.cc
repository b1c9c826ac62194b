#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"

#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Session/ModuleLoader.h"
#include "Session/Trace.h"
#include "VeltraSuiteSetup/linux/AlertDisplayPlan.h"
#include "VeltraSuiteSetup/linux/gtk/GtkAlertModuleABI.h"

namespace veltra {
namespace fs = std::filesystem;
namespace {

const char* nameOf(int backend) {
  return backend == VELTRA_GTK_ALERT_BACKEND_WAYLAND ? "Wayland" : "X11";
}

int backendCode(WindowSystem system) {
  return system == WindowSystem::wayland ? VELTRA_GTK_ALERT_BACKEND_WAYLAND
                                         : VELTRA_GTK_ALERT_BACKEND_X11;
}

void traceParentOutcome(int status, int backend) {
  switch (status) {
    case VELTRA_GTK_ALERT_PARENT_ATTACHED:
      pellow::trace::line("alert", "the dialog was transient for the parent window");
      break;
    case VELTRA_GTK_ALERT_PARENT_REFUSED:
      pellow::trace::line("alert", std::string("the ") + nameOf(backend) +
                                       " display could not attach the dialog to the parent "
                                       "window: shown on its own");
      break;
    case VELTRA_GTK_ALERT_PARENT_OTHER_SYSTEM:
      pellow::trace::line("alert", std::string("the parent window is not a ") + nameOf(backend) +
                                       " window: shown on its own");
      break;
    default:
      break;
  }
}

class GtkAlertPresenter final : public AlertPresenter {
 public:
  GtkAlertPresenter(const VeltraGtkAlertModule& module, AlertDisplayPlan plan, int backend)
      : module_(module), plan_(std::move(plan)), backend_(backend) {}

  int runModal(const AlertContent& alert) override {
    std::vector<const char*> buttons;
    buttons.reserve(alert.buttons.size());
    for (const std::string& title : alert.buttons) buttons.push_back(title.c_str());
    VeltraGtkAlertRequest request{};
    request.message = alert.messageText.c_str();
    request.informative = alert.informativeText.c_str();
    request.buttons = buttons.data();
    request.button_count = buttons.size();
    // A token is good for one activation: only the first dialog of a run brings it.
    if (!tokenUsed_ && !plan_.activationToken.empty()) {
      request.activation_token = plan_.activationToken.c_str();
      tokenUsed_ = true;
    }
    if (plan_.parent) {
      request.parent_handle = plan_.parent->handle.c_str();
      request.parent_backend = backendCode(plan_.parent->system);
    }
    const int chosen = module_.run_modal(&request);
    traceParentOutcome(request.parent_status, backend_);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= buttons.size()) {
      return kGtkAlertClosedReturn;
    }
    return kAlertFirstButtonReturn + chosen;
  }

 private:
  const VeltraGtkAlertModule& module_;
  AlertDisplayPlan plan_;
  int backend_;
  bool tokenUsed_ = false;
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
  AlertDisplayPlan plan = planAlertDisplay(session);
  for (const std::string& note : plan.notes) pellow::trace::line("alert", note);
  const std::string programName = session.executable.filename().string();
  const VeltraGtkAlertDisplays displays{programName.c_str(), plan.waylandDisplay.c_str(),
                                        plan.x11Display.c_str(), session.sessionBusKnown() ? 1 : 0};
  const int backend = loaded->open_display(&displays);
  if (backend != VELTRA_GTK_ALERT_BACKEND_WAYLAND && backend != VELTRA_GTK_ALERT_BACKEND_X11) {
    pellow::trace::line("alert", "no display could be opened");
    return nullptr;
  }
  if (backend == VELTRA_GTK_ALERT_BACKEND_X11 && !plan.waylandDisplay.empty()) {
    pellow::trace::line("alert", "the Wayland display could not be opened: GTK's X11 backend");
  } else {
    pellow::trace::line("alert", std::string("GTK's ") + nameOf(backend) + " backend");
  }
  return std::make_unique<GtkAlertPresenter>(*loaded, std::move(plan), backend);
}

std::unique_ptr<AlertPresenter> makeGtkAlertPresenter() {
  const pellow::Session& session = pellow::Session::current();
  if (session.executable.empty()) return nullptr;
  return makeGtkAlertPresenter(session.executable.parent_path() / kGtkAlertModuleFileName, session);
}

}  // namespace veltra
