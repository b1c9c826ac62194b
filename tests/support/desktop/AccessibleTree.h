// Reads a running program's widgets back through the accessibility bus (AT-SPI), the way a
// screen reader sees them: role, name (a label's text, a button's title) and place on screen.
//
//   setenv("DBUS_SESSION_BUS_ADDRESS", desktop.busAddress().c_str(), 1);   // before the first call
//   auto widgets = veltra::test::accessibleWidgets("suite-setup-helper", std::chrono::seconds(20));
//
// The first call connects this process to the bus of DBUS_SESSION_BUS_ADDRESS and DISPLAY as
// they are then; later calls reuse that connection. Not thread-safe.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace veltra::test {

struct AccessibleWidget {
  std::string role;  // AT-SPI role name: "label", "push button", "alert", ...
  std::string name;
  int x = 0, y = 0, width = 0, height = 0;  // screen coordinates
};

// The widgets of the newest application called `application` in tree order, once it shows at
// least `minButtons` push buttons; empty when it does not within `limit`.
std::vector<AccessibleWidget> accessibleWidgets(const std::string& application,
                                                std::size_t minButtons,
                                                std::chrono::milliseconds limit);

// Presses the push button named `name` of the newest application called `application` through
// its accessible action, as a screen reader or switch device would: no pointer or keyboard
// needed, so it works where input cannot be synthesised (Wayland). Returns whether a button
// was found and its action accepted. Call it after accessibleWidgets(), which connects.
bool pressAccessibleButton(const std::string& application, const std::string& name);

}  // namespace veltra::test
