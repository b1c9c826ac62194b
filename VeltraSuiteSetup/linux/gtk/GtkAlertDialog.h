// The connection alert as a GTK message dialog. Internal to veltra-gtk-alert.so.
//
//   if (veltra::gtkalert::openDisplay("suite-setup-helper", /*sessionBusKnown=*/true)) {
//     int chosen = veltra::gtkalert::runDialog({"Title?", "Details.", {"Yes", "No"}});
//   }
//
// Single-threaded like GTK itself: call both from one thread for the life of the process.
#pragma once

#include <span>
#include <string_view>

namespace veltra::gtkalert {

struct DialogContent {
  const char* message;                   // primary text, UTF-8, shown literally
  const char* informative;               // secondary text, UTF-8, shown literally
  std::span<const char* const> buttons;  // labels in order; the first is the default
};

// Initialises GTK on the session's display once per process, without changing the process's
// locale and with the toolkit's diagnostics discarded. Returns whether a display is open; a
// failed attempt may be retried.
bool openDisplay(const char* programName, bool sessionBusKnown) noexcept;

// Shows the dialog above other windows, gives it the input focus, and blocks in its modal loop.
// Returns the index of the chosen button, or -1 when the dialog was closed any other way. The
// window is gone from the screen when this returns. Requires openDisplay() to have succeeded.
int runDialog(const DialogContent& content) noexcept;

}  // namespace veltra::gtkalert
