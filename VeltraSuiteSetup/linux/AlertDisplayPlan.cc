#include "VeltraSuiteSetup/linux/AlertDisplayPlan.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace veltra {
namespace {

constexpr std::string_view kWaylandPrefix = "wayland:";
constexpr std::string_view kX11Prefix = "x11:";

bool printableWithoutSpaces(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// X11 window ids are 32-bit resource ids; 0 is None. The portals' form allows decimal and hex.
bool windowID(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  return error == std::errc() && end == text.data() + text.size() && id != 0 && id <= 0xffffffffu;
}

}  // namespace

std::optional<ParentWindow> parseParentWindow(std::string_view value) {
  if (value.starts_with(kWaylandPrefix)) {
    const std::string_view handle = value.substr(kWaylandPrefix.size());
    // xdg-foreign handles are opaque strings; a Wayland string argument ends at the first NUL,
    // and the length bound keeps it well inside one protocol message.
    if (handle.empty() || handle.size() > 1024 || !printableWithoutSpaces(handle)) {
      return std::nullopt;
    }
    return ParentWindow{WindowSystem::wayland, std::string(handle)};
  }
  if (value.starts_with(kX11Prefix)) {
    const std::string_view id = value.substr(kX11Prefix.size());
    if (!windowID(id)) return std::nullopt;
    return ParentWindow{WindowSystem::x11, std::string(id)};
  }
  return std::nullopt;
}

bool usableActivationToken(std::string_view token) {
  return !token.empty() && token.size() <= 1024 && printableWithoutSpaces(token);
}

AlertDisplayPlan planAlertDisplay(const pellow::Session& session) {
  AlertDisplayPlan plan;
  plan.waylandDisplay = session.waylandDisplay;
  plan.x11Display = session.display;
  if (!plan.waylandDisplay.empty() && !plan.x11Display.empty()) {
    plan.notes.push_back("WAYLAND_DISPLAY " + plan.waylandDisplay + " and DISPLAY " +
                         plan.x11Display + " are both set: Wayland first, as GTK prefers");
  } else if (!plan.waylandDisplay.empty()) {
    plan.notes.push_back("WAYLAND_DISPLAY " + plan.waylandDisplay + " is set, DISPLAY is not");
  } else if (!plan.x11Display.empty()) {
    plan.notes.push_back("DISPLAY " + plan.x11Display + " is set, WAYLAND_DISPLAY is not");
  } else {
    plan.notes.push_back("neither WAYLAND_DISPLAY nor DISPLAY is set");
  }

  if (!session.parentWindow.empty()) {
    plan.parent = parseParentWindow(session.parentWindow);
    // The handle is the application's window name, not a secret: it may be traced.
    plan.notes.push_back(plan.parent ? "parent window " + session.parentWindow
                                     : "VELTRA_PARENT_WINDOW ignored: not \"wayland:<handle>\" "
                                       "or \"x11:<window id>\"");
  }
  if (!session.activationToken.empty()) {
    if (usableActivationToken(session.activationToken)) {
      plan.activationToken = session.activationToken;
      plan.notes.push_back("an activation token was handed over");
    } else {
      plan.notes.push_back("XDG_ACTIVATION_TOKEN ignored: not printable ASCII of 1 to 1024 bytes");
    }
  }
  return plan;
}

}  // namespace veltra
