// The connection alert as a GTK message dialog. Internal to veltra-gtk-alert.so.
//
//   if (veltra::gtkalert::openDisplay({"suite-setup-helper", "wayland-0", ":0", true}) !=
//       veltra::gtkalert::Backend::none) {
//     int chosen = veltra::gtkalert::runDialog({"Title?", "Details.", {"Yes", "No"}}).chosen;
//   }
//
// Single-threaded like GTK itself: call both from one thread for the life of the process.
#pragma once

#include <span>
#include <string_view>

namespace veltra::gtkalert {

enum class Backend { none, wayland, x11 };

struct Displays {
  const char* programName;     // may be null
  const char* waylandDisplay;  // null or "": not tried
  const char* x11Display;      // null or "": not tried
  bool sessionBusKnown;
};

struct DialogContent {
  const char* message;                    // primary text, UTF-8, shown literally
  const char* informative;                // secondary text, UTF-8, shown literally
  std::span<const char* const> buttons;   // labels in order; the first is the default
  const char* activationToken = nullptr;  // xdg-activation token or null
  const char* parentHandle = nullptr;     // exported handle without prefix, or null
  Backend parentBackend = Backend::none;  // the parent's window system
};

enum class ParentOutcome { none, attached, refused, otherSystem };

struct DialogAnswer {
  int chosen;  // index of the chosen button, -1 when closed any other way
  ParentOutcome parent;
};

// Initialises GTK once per process on the Wayland display, else the X11 display, without
// changing the process's locale and with the toolkit's diagnostics discarded. Returns the
// backend now open (the same on every later call), or none; a failed attempt may be retried.
Backend openDisplay(const Displays& displays) noexcept;

// Shows the dialog above other windows, gives it the input focus (with the activation token on
// Wayland), makes it transient for the parent when one of the dialog's window system is named,
// and blocks in its modal loop. The window is gone from the screen when this returns. Requires
// openDisplay() to have succeeded.
DialogAnswer runDialog(const DialogContent& content) noexcept;

}  // namespace veltra::gtkalert
