// The connection alert as a desktop dialog (GTK 3), for sessions with a display.
//
//   veltra::SystemAlertPresenter::installGraphicalPresenter(&veltra::makeGtkAlertPresenter);
//   ...
//   if (auto dialog = veltra::makeGtkAlertPresenter()) int answer = dialog->runModal(alert);
//
// The dialog lives in the module "veltra-gtk-alert.so" beside the running executable, which is
// loaded with dlopen by the factory, that is only when an alert is about to be shown: runs that
// never ask load no GTK at all. The module is never unloaded once it has been loaded.
//
// The factory returns null, and the caller falls back to another presenter, when the module is
// missing or unusable (not built, GTK not installed, another interface version) or when no
// display connection can be opened (WAYLAND_DISPLAY or DISPLAY unset, or naming no server). It
// never throws and never writes to stdout or stderr.
//
// The display is the session's Wayland display, else (or when it cannot be opened) its X11
// display (AlertDisplayPlan.h); the trace's "alert" lines say which and why.
//
// runModal shows a modal message dialog: the message text as primary and the informative text as
// secondary text, the buttons in order with the first as the default (Enter answers it), kept
// above other windows, focused and marked urgent (on Wayland the compositor alone decides
// stacking and focus: the first dialog of a run brings the session's activation token for it),
// transient for the session's parent window when it names one of the dialog's window system and
// the display can attach to it. The window's title is the program's name, not the message. Returns kAlertFirstButtonReturn + the index of the chosen button, or
// kGtkAlertClosedReturn when the window was closed any other way (Escape, the window manager's
// close button), which callers count as declined. If the display connection is lost while the
// dialog is up, GTK ends the process with status 1.
//
// Threading: GTK is single-threaded. Make the presenter and call runModal on one thread only, the
// same for the life of the process (the helper's main thread).
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "PellowSession/Session.h"
#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

inline constexpr std::string_view kGtkAlertModuleFileName = "veltra-gtk-alert.so";

// runModal's answer for a dialog closed without a button: no button's value.
inline constexpr int kGtkAlertClosedReturn = 0;

// The presenter of the module beside the running executable (the process's session), or null
// (see above).
std::unique_ptr<AlertPresenter> makeGtkAlertPresenter();

// The same with an explicit module file and session. The module is loaded only when its folder
// and file belong to the user or root and no one else may write them (the session kit's loader).
std::unique_ptr<AlertPresenter> makeGtkAlertPresenter(
    const std::filesystem::path& module,
    const pellow::Session& session = pellow::Session::current());

}  // namespace veltra
