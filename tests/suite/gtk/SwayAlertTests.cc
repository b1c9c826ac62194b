// The connection alert under Wayland, end to end: the real suite-setup-helper shows it on a
// private headless sway (no Xwayland, no X server) as GTK's Wayland backend draws it; sway's
// tree says it is up and focused, the accessibility bus reads its texts and presses its buttons
// (synthesised keys do not reach GTK's buttons on Wayland), and the answer is checked in the
// consent file. sway and the bus start once for the whole program.

#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/suite/gtk/DialogFixture.h"
#include "tests/suite/gtk/WaylandDialogFixture.h"
#include "tests/support/desktop/AccessibleTree.h"
#include "tests/support/desktop/DesktopSession.h"

namespace veltra::test {
namespace {
namespace fs = std::filesystem;
using std::chrono::seconds;

// The helper's window in sway's tree (the node whose app_id is the program's), or null.
nlohmann::json findDialogNode(const nlohmann::json& node) {
  if (node.value("app_id", nlohmann::json()).is_string() &&
      node["app_id"] == "suite-setup-helper") {
    return node;
  }
  for (const char* key : {"nodes", "floating_nodes"}) {
    if (!node.contains(key)) continue;
    for (const auto& child : node[key]) {
      if (auto found = findDialogNode(child); !found.is_null()) return found;
    }
  }
  return nullptr;
}

class SwayDialogTest : public WaylandDialogFixture<Compositor::sway> {
 protected:
  // The dialog's node in sway's tree once it is mapped; fails the test if the helper ends first.
  nlohmann::json waitForDialog(testkit::ChildProcess& helper) {
    const auto deadline = std::chrono::steady_clock::now() + seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string tree = desktop().swayTree();
      if (!tree.empty()) {
        if (auto node = findDialogNode(nlohmann::json::parse(tree)); !node.is_null()) {
          return node;
        }
      }
      if (const auto status = helper.waitFor(std::chrono::milliseconds(100))) {
        ADD_FAILURE() << "the helper ended with status " << *status << " before any dialog";
        return nullptr;
      }
    }
    ADD_FAILURE() << "no dialog in sway's tree within 30 seconds";
    return nullptr;
  }

  // The dialog's texts and buttons, read back as a screen reader sees them.
  void expectSpecifiedTexts() {
    const auto widgets = accessibleWidgets("suite-setup-helper", 2, seconds(30));
    ASSERT_FALSE(widgets.empty()) << "the dialog never appeared on the accessibility bus";
    expectSpecifiedDialog(widgets, /*titleInside=*/true);
  }
};

// Each button, pressed as a screen reader presses it, records its answer.
struct Press {
  const char* name;
  const char* button;
  bool accepted;
};

void PrintTo(const Press& press, std::ostream* out) { *out << press.name; }

class SwayDialogAnswer : public SwayDialogTest, public ::testing::WithParamInterface<Press> {};

TEST_P(SwayDialogAnswer, ShowsTheSpecifiedDialogFocusedAndRecordsTheButton) {
  auto helper = startHelper(environment());
  const nlohmann::json node = waitForDialog(*helper);
  ASSERT_FALSE(node.is_null());
  EXPECT_EQ(node["focused"], true) << node.dump();
  // The title names the program: GTK draws it right above the question, which it must not
  // repeat.
  EXPECT_EQ(node["name"], "suite-setup-helper");
  expectSpecifiedTexts();

  const std::string shot = desktop().screenshot(fs::path(VELTRA_GTK_ARTIFACT_DIR) /
                                                (std::string("sway-") + GetParam().name + ".png"));
  EXPECT_EQ(shot, "");

  EXPECT_TRUE(pressAccessibleButton("suite-setup-helper", GetParam().button));
  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(GetParam().accepted);
  EXPECT_EQ(helperStderr(), "");
}

INSTANTIATE_TEST_SUITE_P(Buttons, SwayDialogAnswer,
                         ::testing::Values(Press{"Connect", kConnectButton, true},
                                           Press{"KeepSeparate", kKeepSeparateButton, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// With an X server named as well, the dialog still comes up on Wayland (an X11 window could not
// appear in sway's tree: it runs no Xwayland); the activation token and the parent's exported
// handle reach the compositor in the requests xdg-activation and xdg-foreign define.
TEST_F(SwayDialogTest, PrefersWaylandAndPassesTokenAndParent) {
  testkit::TemporaryFolder xFolder;
  DesktopSession x11(xFolder.path());
  testkit::EnvironmentChanges env = environment();
  env["DISPLAY"] = x11.display();
  env["XDG_ACTIVATION_TOKEN"] = "pellow-test-token";
  env["VELTRA_PARENT_WINDOW"] = "wayland:pellow-test-handle";
  env["WAYLAND_DEBUG"] = "client";  // libwayland logs each request on stderr
  env["PELLOW_TRACE"] = "1";
  auto helper = startHelper(env);
  ASSERT_FALSE(waitForDialog(*helper).is_null());
  expectSpecifiedTexts();
  EXPECT_TRUE(pressAccessibleButton("suite-setup-helper", kConnectButton));
  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(true);

  const std::string& log = helperStderr();
  EXPECT_NE(log.find("alert: WAYLAND_DISPLAY " + desktop().socket().string() + " and DISPLAY " +
                     x11.display() + " are both set: Wayland first"),
            std::string::npos)
      << log.substr(0, 2000);
  EXPECT_NE(log.find("alert: GTK's Wayland backend"), std::string::npos);
  EXPECT_NE(log.find(".activate(\"pellow-test-token\", wl_surface@"), std::string::npos)
      << "the dialog did not activate itself with the application's token";
  EXPECT_NE(log.find(".import(new id zxdg_imported_v1@"), std::string::npos);
  EXPECT_NE(log.find(", \"pellow-test-handle\")"), std::string::npos);
  EXPECT_NE(log.find(".set_parent_of(wl_surface@"), std::string::npos)
      << "the dialog was not made transient for the exported window";
  // The token is the application's one-time credential: the trace never shows it.
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" alert: ") == std::string::npos) continue;
    EXPECT_EQ(line.find("pellow-test-token"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace veltra::test
