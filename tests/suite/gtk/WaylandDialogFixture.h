// The dialog tests' fixture on a headless Wayland desktop shared by the whole test program.
//
//   class SwayDialogTest : public veltra::test::WaylandDialogFixture<Compositor::sway> {};
//   TEST_F(SwayDialogTest, ...) { auto helper = startHelper(environment()); ... desktop(); }
//
// The compositor and its bus start once, for the first suite that needs them, whichever it is:
// this process's accessibility connection stays with the first bus it met. They stop when the
// program ends. This process's DBUS_SESSION_BUS_ADDRESS points at their bus and DISPLAY is
// removed, so that the accessibility tree read here is the desktop's. Cases skip, with the
// reason, when the desktop cannot start.
#pragma once

#include <memory>
#include <string>

#include "tests/suite/gtk/DialogFixture.h"
#include "tests/suite/gtk/WaylandDesktop.h"

namespace veltra::test {

template <Compositor kCompositor>
class WaylandDialogFixture : public DialogFixture {
 protected:
  static void SetUpTestSuite() {
    const char* name = kCompositor == Compositor::sway ? "sway" : "weston";
    desktop_ = programWaylandDesktop(
        kCompositor, std::filesystem::path(VELTRA_GTK_ARTIFACT_DIR) / (std::string(name) + "-logs"),
        why_);
  }

  void SetUp() override {
    if (desktop_ == nullptr) GTEST_SKIP() << "no headless Wayland desktop: " << why_;
    DialogFixture::SetUp();
  }

  WaylandDesktop& desktop() { return *desktop_; }
  // The helper's environment on this desktop, with a home and runtime folder of this case.
  testkit::EnvironmentChanges environment() { return desktop_->environment(folder_ / "session"); }

 private:
  static inline WaylandDesktop* desktop_ = nullptr;
  static inline std::string why_;
};

}  // namespace veltra::test
