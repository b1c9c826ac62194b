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
//   VeltraGtkAlertDisplays displays{"suite-setup-helper", "wayland-0", ":0", 1};
//   if (module->abi_version == VELTRA_GTK_ALERT_ABI_VERSION &&
//       module->open_display(&displays) != VELTRA_GTK_ALERT_BACKEND_NONE) {
//     const char* buttons[] = {"OK", "Cancel"};
//     VeltraGtkAlertRequest request{"Title", "Details", buttons, 2, NULL, NULL, 0};
//     int chosen = module->run_modal(&request);   // 0, 1 or VELTRA_GTK_ALERT_CLOSED
//   }
//
// The module reads no environment variable to decide anything: the caller names the displays,
// the activation token and the parent window. (GTK itself still reads its own settings, such as
// GDK_BACKEND, which may only narrow the choice.)
//
// Threading: GTK is single-threaded. Both functions must be called from one thread, the same for
// the life of the process (the helper's main thread).
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VELTRA_GTK_ALERT_ABI_VERSION 3
#define VELTRA_GTK_ALERT_ENTRY_SYMBOL "veltra_gtk_alert_module_v1"

// run_modal's answer when the dialog was closed other than through one of its buttons (Escape,
// the window manager's close button, the window being destroyed).
#define VELTRA_GTK_ALERT_CLOSED (-1)

// open_display's answers: the window system the dialogs are shown on.
#define VELTRA_GTK_ALERT_BACKEND_NONE 0
#define VELTRA_GTK_ALERT_BACKEND_WAYLAND 1
#define VELTRA_GTK_ALERT_BACKEND_X11 2

// run_modal's report on the parent window (VeltraGtkAlertRequest.parent_status).
#define VELTRA_GTK_ALERT_PARENT_NONE 0          // no parent was asked for
#define VELTRA_GTK_ALERT_PARENT_ATTACHED 1      // the dialog was made transient for it
#define VELTRA_GTK_ALERT_PARENT_REFUSED 2       // the display cannot attach to it (no xdg-foreign)
#define VELTRA_GTK_ALERT_PARENT_OTHER_SYSTEM 3  // its window system is not the dialog's

typedef struct VeltraGtkAlertDisplays {
  // Names the program to the window system and the accessibility tree (its window class and
  // Wayland app id); may be NULL.
  const char* program_name;
  // The displays to try, in this order; NULL or "" leaves one out. A Wayland display is a socket
  // name in the runtime folder or an absolute socket path; an X11 display is "host:N.S".
  const char* wayland_display;
  const char* x11_display;
  // Whether the caller's session names a session bus (non-zero); without one, the accessibility
  // bridge is not started.
  int session_bus_known;
} VeltraGtkAlertDisplays;

typedef struct VeltraGtkAlertRequest {
  // `message` is the primary text, `informative` the secondary text (both UTF-8, shown
  // literally, no markup); `buttons` are the button labels (UTF-8, no mnemonics) in order, the
  // first being the default that Enter activates.
  const char* message;
  const char* informative;
  const char* const* buttons;
  size_t button_count;
  // The xdg-activation token handed over by the application that asked, or NULL/"": used on
  // Wayland to take the focus (a token is good for one activation); ignored on X11.
  const char* activation_token;
  // The parent's exported handle without its "wayland:"/"x11:" prefix, or NULL/"", and its
  // window system (VELTRA_GTK_ALERT_BACKEND_*).
  const char* parent_handle;
  int parent_backend;
  // Out: what became of the parent (VELTRA_GTK_ALERT_PARENT_*).
  int parent_status;
} VeltraGtkAlertRequest;

typedef struct VeltraGtkAlertModule {
  int abi_version;  // VELTRA_GTK_ALERT_ABI_VERSION

  // Initialises GTK once per process on the first of the named displays that can be opened
  // (Wayland before X11, as GTK itself prefers) and returns its VELTRA_GTK_ALERT_BACKEND_*;
  // VELTRA_GTK_ALERT_BACKEND_NONE when none could be opened. A failed attempt may be repeated
  // later; once one succeeded, later calls return the same backend. The toolkit's own
  // diagnostics are discarded, never written to stderr.
  int (*open_display)(const VeltraGtkAlertDisplays* displays);

  // Shows a modal message dialog in front of the user's windows (attached to the parent when
  // one is named and can be had) and blocks until it is answered. The window's title is the
  // program's name, never the message. Returns the index of the chosen button, or
  // VELTRA_GTK_ALERT_CLOSED. Requires a successful open_display.
  int (*run_modal)(VeltraGtkAlertRequest* request);
} VeltraGtkAlertModule;

typedef const VeltraGtkAlertModule* (*VeltraGtkAlertEntry)(void);

#ifdef __cplusplus
}
#endif
