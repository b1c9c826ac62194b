// The exported entry point of veltra-gtk-alert.so: the C table of GtkAlertModuleABI.h over the
// dialog code.

#include <span>

#include "VeltraSuiteSetup/linux/gtk/GtkAlertDialog.h"
#include "VeltraSuiteSetup/linux/gtk/GtkAlertModuleABI.h"

namespace {

int openDisplay(const char* programName, int sessionBusKnown) noexcept {
  return veltra::gtkalert::openDisplay(programName, sessionBusKnown != 0) ? 0 : 1;
}

int runModal(const char* message, const char* informative, const char* const* buttons,
             size_t buttonCount) noexcept {
  const veltra::gtkalert::DialogContent content{
      message != nullptr ? message : "", informative != nullptr ? informative : "",
      std::span<const char* const>(buttons, buttons != nullptr ? buttonCount : 0)};
  return veltra::gtkalert::runDialog(content);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const VeltraGtkAlertModule*
veltra_gtk_alert_module_v1(void) {
  static const VeltraGtkAlertModule module{VELTRA_GTK_ALERT_ABI_VERSION, &openDisplay, &runModal};
  return &module;
}
