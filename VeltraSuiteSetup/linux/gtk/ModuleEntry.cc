// The exported entry point of veltra-gtk-alert.so: the C table of GtkAlertModuleABI.h over the
// dialog code.

#include <span>

#include "VeltraSuiteSetup/linux/gtk/GtkAlertDialog.h"
#include "VeltraSuiteSetup/linux/gtk/GtkAlertModuleABI.h"

namespace {

using veltra::gtkalert::Backend;
using veltra::gtkalert::ParentOutcome;

int toCode(Backend backend) noexcept {
  switch (backend) {
    case Backend::wayland:
      return VELTRA_GTK_ALERT_BACKEND_WAYLAND;
    case Backend::x11:
      return VELTRA_GTK_ALERT_BACKEND_X11;
    case Backend::none:
      break;
  }
  return VELTRA_GTK_ALERT_BACKEND_NONE;
}

Backend fromCode(int code) noexcept {
  if (code == VELTRA_GTK_ALERT_BACKEND_WAYLAND) return Backend::wayland;
  if (code == VELTRA_GTK_ALERT_BACKEND_X11) return Backend::x11;
  return Backend::none;
}

int toCode(ParentOutcome outcome) noexcept {
  switch (outcome) {
    case ParentOutcome::attached:
      return VELTRA_GTK_ALERT_PARENT_ATTACHED;
    case ParentOutcome::refused:
      return VELTRA_GTK_ALERT_PARENT_REFUSED;
    case ParentOutcome::otherSystem:
      return VELTRA_GTK_ALERT_PARENT_OTHER_SYSTEM;
    case ParentOutcome::none:
      break;
  }
  return VELTRA_GTK_ALERT_PARENT_NONE;
}

int openDisplay(const VeltraGtkAlertDisplays* displays) noexcept {
  if (displays == nullptr) return VELTRA_GTK_ALERT_BACKEND_NONE;
  return toCode(
      veltra::gtkalert::openDisplay({displays->program_name, displays->wayland_display,
                                     displays->x11_display, displays->session_bus_known != 0}));
}

int runModal(VeltraGtkAlertRequest* request) noexcept {
  if (request == nullptr) return VELTRA_GTK_ALERT_CLOSED;
  const veltra::gtkalert::DialogContent content{
      request->message != nullptr ? request->message : "",
      request->informative != nullptr ? request->informative : "",
      std::span<const char* const>(request->buttons,
                                   request->buttons != nullptr ? request->button_count : 0),
      request->activation_token,
      request->parent_handle,
      fromCode(request->parent_backend)};
  const veltra::gtkalert::DialogAnswer answer = veltra::gtkalert::runDialog(content);
  request->parent_status = toCode(answer.parent);
  return answer.chosen;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const VeltraGtkAlertModule*
veltra_gtk_alert_module_v1(void) {
  static const VeltraGtkAlertModule module{VELTRA_GTK_ALERT_ABI_VERSION, &openDisplay, &runModal};
  return &module;
}
