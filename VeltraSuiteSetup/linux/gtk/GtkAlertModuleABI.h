// The C interface of the desktop alert module ("veltra-gtk-alert.so").
//
// Most runs of suite-setup-helper never show the connection alert, so they must not pay for
// loading GTK and everything it pulls in (GLib, Pango, Cairo, the X11 and Wayland clients). The
// dialog therefore lives in this module, which GtkAlertPresenter.h loads with dlopen only when an
// alert is about to be shown. The boundary is plain C so that the module and the helper may each
// carry their own copy of the C++ runtime: no C++ object, exception or allocation crosses it.
//
//   void* library = dlopen("veltra-gtk-alert.so", RTLD_NOW | RTLD_LOCAL);
//   void* symbol = dlsym(library, VELTRA_GTK_ALERT_ENTRY_SYMBOL);
//   const VeltraGtkAlertModule* module = reinterpret_cast<VeltraGtkAlertEntry>(symbol)();
//   if (module->abi_version == VELTRA_GTK_ALERT_ABI_VERSION &&
//       module->open_display("suite-setup-helper", /*session_bus_known=*/1) == 0) {
//     const char* buttons[] = {"OK", "Cancel"};
//     int chosen = module->run_modal("Title", "Details", buttons, 2);   // 0, 1 or -1
//   }
//
// Threading: GTK is single-threaded. Both functions must be called from one thread, the same for
// the life of the process (the helper's main thread).
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELTRA_GTK_ALERT_ABI_VERSION 2
#define VELTRA_GTK_ALERT_ENTRY_SYMBOL "veltra_gtk_alert_module_v1"

// run_modal's answer when the dialog was closed other than through one of its buttons (Escape,
// the window manager's close button, the window being destroyed).
#define VELTRA_GTK_ALERT_CLOSED (-1)

typedef struct VeltraGtkAlertModule {
  int abi_version;  // VELTRA_GTK_ALERT_ABI_VERSION

  // Initialises GTK on the session's display (WAYLAND_DISPLAY or DISPLAY, as GTK chooses) once
  // per process. `program_name` names the program to the window system and the accessibility
  // tree (its window class); it may be NULL. Returns 0 when the display is open and dialogs can
  // be shown, non-zero when no display connection could be made; a failed attempt may be
  // repeated later. The toolkit's own diagnostics are discarded, never written to stderr.
  // `session_bus_known`: whether the caller's session names a session bus (non-zero); without
  // one, the accessibility bridge is not started.
  int (*open_display)(const char* program_name, int session_bus_known);

  // Shows a modal message dialog in front of the user's windows and blocks until it is
  // answered. `message` is the primary text, `informative` the secondary text (both UTF-8, shown
  // literally, no markup); `buttons` are the button labels (UTF-8, no mnemonics) in order, the
  // first being the default that Enter activates. Returns the index of the chosen button, or
  // VELTRA_GTK_ALERT_CLOSED. Requires a successful open_display.
  int (*run_modal)(const char* message, const char* informative, const char* const* buttons,
                   size_t button_count);
} VeltraGtkAlertModule;

typedef const VeltraGtkAlertModule* (*VeltraGtkAlertEntry)(void);

#ifdef __cplusplus
}
#endif
