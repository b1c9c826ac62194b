// The connection alert drawn by GTK's Wayland backend on a headless weston as this process's
// user (root in CI): the other compositor family, and the drawing path with pixman. weston's
// headless backend has no seat, so the dialog never gets the keyboard; the accessibility bus
// still reads and presses it.

#include <gtest/gtest.h>

#include "tests/suite/gtk/DialogFixture.h"
#include "tests/suite/gtk/WaylandDialogFixture.h"
#include "tests/support/desktop/AccessibleTree.h"

namespace veltra::test {
namespace {
namespace fs = std::filesystem;
using std::chrono::seconds;

class WestonDialogTest : public WaylandDialogFixture<Compositor::weston> {};

TEST_F(WestonDialogTest, DrawsTheSpecifiedDialogAndRecordsTheAnswer) {
  // weston offers no xdg-foreign: a parent handle cannot be had, and the dialog shows alone.
  testkit::EnvironmentChanges env = environment();
  env["VELTRA_PARENT_WINDOW"] = "wayland:pellow-test-handle";
  env["PELLOW_TRACE"] = (folder_ / "trace.log").string();
  auto helper = startHelper(env);
  const auto widgets = accessibleWidgets("suite-setup-helper", 2, seconds(30));
  ASSERT_FALSE(widgets.empty()) << "the dialog never appeared on the accessibility bus";
  const auto buttons = expectSpecifiedDialog(widgets, /*titleInside=*/true);
  // Laid out: both buttons have a size (positions are window-relative on Wayland).
  for (const auto& button : buttons) EXPECT_GT(button.width * button.height, 0) << button.name;

  const fs::path png = fs::path(VELTRA_GTK_ARTIFACT_DIR) / "weston-dialog.png";
  EXPECT_EQ(desktop().screenshot(png), "");
  EXPECT_GT(fs::exists(png) ? fs::file_size(png) : 0, 1000u) << "an empty screenshot";

  EXPECT_TRUE(pressAccessibleButton("suite-setup-helper", kConnectButton));
  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(true);
  EXPECT_EQ(helperStderr(), "");
  const std::string trace = testkit::readFile(folder_ / "trace.log");
  EXPECT_NE(trace.find("alert: GTK's Wayland backend"), std::string::npos) << trace;
  EXPECT_NE(trace.find("alert: the Wayland display could not attach the dialog to the parent "
                       "window: shown on its own"),
            std::string::npos)
      << trace;
}

}  // namespace
}  // namespace veltra::test
