// Where and how the desktop alert shows itself, decided from the session alone: which displays
// to try and in what order, the parent window the asking application named, and the activation
// token it handed over. Pure: it opens nothing, so the rules are the same for the dialog module
// and for tests.
//
//   const veltra::AlertDisplayPlan plan = veltra::planAlertDisplay(pellow::Session::current());
//   for (const std::string& why : plan.notes) pellow::trace::line("alert", why);
//
// The application may name its window in VELTRA_PARENT_WINDOW as "wayland:<handle>" (a handle
// from xdg-foreign's exporter, as GTK's gdk_wayland_window_export_handle gives it) or
// "x11:<window id>" (decimal or 0x-hexadecimal), the form the desktop portals use for parent
// windows, and pass its xdg-activation token in XDG_ACTIVATION_TOKEN.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PellowSession/Session.h"

namespace veltra {

enum class WindowSystem { wayland, x11 };

struct ParentWindow {
  WindowSystem system;
  std::string handle;  // without the prefix; for X11 the id exactly as given
  bool operator==(const ParentWindow&) const = default;
};

// The parent named by `value`, or nullopt when it is empty or not of either form (an empty
// handle, a handle with spaces or control characters, an X11 id that is not a number of 1 to
// 0xffffffff). Never throws.
std::optional<ParentWindow> parseParentWindow(std::string_view value);

// Whether `token` can be passed on as an xdg-activation token: 1 to 1024 printable ASCII
// characters without spaces. Anything else is dropped rather than sent to the compositor.
bool usableActivationToken(std::string_view token);

struct AlertDisplayPlan {
  std::string waylandDisplay;  // tried first; empty: not tried
  std::string x11Display;      // tried when Wayland is not or fails; empty: not tried
  std::optional<ParentWindow> parent;
  std::string activationToken;     // empty: none usable
  std::vector<std::string> notes;  // why, one trace line each (no token, which is a credential)
};

// The plan for `session`: Wayland before X11 when both are named (as GTK prefers), the parent
// and the token when usable. Never throws but std::bad_alloc.
AlertDisplayPlan planAlertDisplay(const pellow::Session& session);

}  // namespace veltra
