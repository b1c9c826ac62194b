#include "tests/support/desktop/AccessibleTree.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace veltra::test {
namespace {

struct ObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, ObjectUnref>;

std::string takeString(gchar* text) {
  std::string result = text != nullptr ? text : "";
  g_free(text);
  return result;
}

void collect(AtspiAccessible* node, int depth, std::vector<AccessibleWidget>& out) {
  if (depth > 40) return;
  AccessibleWidget widget;
  widget.role = takeString(atspi_accessible_get_role_name(node, nullptr));
  widget.name = takeString(atspi_accessible_get_name(node, nullptr));
  if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
    if (AtspiRect* rect =
            atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
      widget = {widget.role, widget.name, rect->x, rect->y, rect->width, rect->height};
      g_free(rect);
    }
    g_object_unref(component);
  }
  out.push_back(widget);
  const gint count = atspi_accessible_get_child_count(node, nullptr);
  for (gint i = 0; i < count; ++i) {
    Accessible child(atspi_accessible_get_child_at_index(node, i, nullptr));
    if (child) collect(child.get(), depth + 1, out);
  }
}

// The newest application called `application`, or null. Newest last: an application of an
// earlier run may linger until the bus notices it left.
Accessible newestApplication(const std::string& application) {
  Accessible desktop(atspi_get_desktop(0));
  if (!desktop) return nullptr;
  atspi_accessible_clear_cache(desktop.get());
  const gint count = atspi_accessible_get_child_count(desktop.get(), nullptr);
  for (gint i = count - 1; i >= 0; --i) {
    Accessible app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
    if (app && takeString(atspi_accessible_get_name(app.get(), nullptr)) == application) {
      return app;
    }
  }
  return nullptr;
}

std::vector<AccessibleWidget> snapshot(const std::string& application) {
  std::vector<AccessibleWidget> widgets;
  if (Accessible app = newestApplication(application)) collect(app.get(), 0, widgets);
  return widgets;
}

bool pressIn(AtspiAccessible* node, const std::string& name, int depth) {
  if (depth > 40) return false;
  if (takeString(atspi_accessible_get_role_name(node, nullptr)) == "push button" &&
      takeString(atspi_accessible_get_name(node, nullptr)) == name) {
    std::unique_ptr<AtspiAction, ObjectUnref> action(atspi_accessible_get_action_iface(node));
    return action && atspi_action_do_action(action.get(), 0, nullptr) != FALSE;
  }
  const gint count = atspi_accessible_get_child_count(node, nullptr);
  for (gint i = 0; i < count; ++i) {
    Accessible child(atspi_accessible_get_child_at_index(node, i, nullptr));
    if (child && pressIn(child.get(), name, depth + 1)) return true;
  }
  return false;
}

}  // namespace

std::vector<AccessibleWidget> accessibleWidgets(const std::string& application,
                                                std::size_t minButtons,
                                                std::chrono::milliseconds limit) {
  static const bool initialised = [] {
    atspi_init();
    // Every call on the bus is bounded: a hung application must not hang the test.
    atspi_set_timeout(2000, 10000);
    return true;
  }();
  static_cast<void>(initialised);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    auto widgets = snapshot(application);
    const auto buttons = std::count_if(widgets.begin(), widgets.end(),
                                       [](const auto& w) { return w.role == "push button"; });
    if (static_cast<std::size_t>(buttons) >= minButtons) return widgets;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return {};
}

}  // namespace veltra::test

namespace veltra::test {

bool pressAccessibleButton(const std::string& application, const std::string& name) {
  const Accessible app = newestApplication(application);
  return app && pressIn(app.get(), name, 0);
}

}  // namespace veltra::test
