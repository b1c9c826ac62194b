// The connection alert as a desktop dialog, end to end: the real suite-setup-helper with real
// signed bundles shows it on a private Xvfb server; xdotool answers it like a user; the texts are
// read back through the accessibility bus; the answer is checked in the consent file.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/suite/SuiteTestSupport.h"
#include "tests/suite/gtk/DialogFixture.h"
#include "tests/support/desktop/AccessibleTree.h"
#include "tests/support/desktop/DesktopSession.h"
#include "tests/support/desktop/X11WindowReader.h"

namespace veltra::test {
namespace {
namespace fs = std::filesystem;
using std::chrono::seconds;

class DialogTest : public DialogFixture {
 protected:
  // One desktop per test process; this process talks to it too (accessibility, screenshots).
  static void SetUpTestSuite() { ProgramDesktop::start(); }
  static void TearDownTestSuite() { ProgramDesktop::stop(); }

  // The dialog's window once it is on screen; fails the test if the helper ends first.
  unsigned long waitForDialog(testkit::ChildProcess& helper) {
    const auto deadline = std::chrono::steady_clock::now() + seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      const testkit::ProcessResult found =
          xdotool({"search", "--onlyvisible", "--classname", "^suite-setup-helper$"});
      if (found.status == 0 && !found.out.empty()) return std::stoul(found.out);
      if (const auto status = helper.waitFor(std::chrono::milliseconds(100))) {
        ADD_FAILURE() << "the helper ended with status " << *status << " before any dialog";
        return 0;
      }
    }
    ADD_FAILURE() << "no dialog within 30 seconds";
    return 0;
  }

  testkit::ProcessResult xdotool(std::vector<std::string> args) {
    std::vector<std::string> argv{VELTRA_TEST_XDOTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    testkit::ProcessOptions options{.environment = ProgramDesktop::session().environment(),
                                    .cleanEnvironment = true};
    return testkit::run(argv, options, seconds(10));
  }
};

TEST_F(DialogTest, ShowsTheQuestionInFrontAndEnterConnects) {
  auto helper = startHelper(ProgramDesktop::session().environment());
  const unsigned long window = waitForDialog(*helper);
  ASSERT_NE(window, 0u);

  // The title names the program; the question is only inside, where the user reads it once.
  EXPECT_EQ(xdotool({"getwindowname", std::to_string(window)}).out, "suite-setup-helper\n");
  X11WindowReader x11;
  EXPECT_TRUE(x11.keptAbove(window));
  EXPECT_TRUE(x11.urgent(window));
  EXPECT_EQ(x11.focus(), window);

  const auto widgets = accessibleWidgets("suite-setup-helper", 2, seconds(30));
  ASSERT_FALSE(widgets.empty()) << "the dialog never appeared on the accessibility bus";
  const auto buttons = expectSpecifiedDialog(widgets, /*titleInside=*/false);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_LT(buttons[0].x + buttons[0].width, buttons[1].x + 1) << "first button left of second";

  fs::create_directories(VELTRA_GTK_ARTIFACT_DIR);
  x11.savePng(window, fs::path(VELTRA_GTK_ARTIFACT_DIR) / "alert-dialog.png");

  EXPECT_EQ(xdotool({"key", "Return"}).status, 0);
  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(true);
  EXPECT_EQ(helperStderr(), "");
}

// Runs that show no alert must not pay for GTK: the module is not even opened.
TEST_F(DialogTest, ListingAllAppsNeverLoadsTheDialogModule) {
  testkit::EnvironmentChanges env = ProgramDesktop::session().environment();
  env["LD_DEBUG"] = "files";  // the dynamic loader reports every object it opens on stderr
  EXPECT_EQ(finish(*startHelper(env, VELTRA_HELPER_PATH, {"--available", "--prompt", "--force"})),
            0);
  EXPECT_NE(helperStdout().find("com.pemberhollo.sorel"), std::string::npos);
  const std::string loaded = helperStderr();
  EXPECT_NE(loaded.find("libc.so.6"), std::string::npos) << "the loader reported nothing";
  EXPECT_EQ(loaded.find("veltra-gtk-alert"), std::string::npos);
  EXPECT_EQ(loaded.find("libgtk-3"), std::string::npos);
}

// The asking application may name its window: the dialog then stays with it. A handle of the
// other window system cannot be had on X11 and leaves the dialog on its own, as without one.
TEST_F(DialogTest, TransientForTheApplicationsWindowWhenItNamesOne) {
  X11WindowReader x11;
  const unsigned long app = x11.makeWindow();
  char hex[32];
  std::snprintf(hex, sizeof hex, "x11:0x%lx", app);
  struct Case {
    const char* name;
    std::string parentWindow;
    unsigned long expected;
  };
  const Case cases[] = {{"X11 window id", hex, app},
                        {"decimal id", "x11:" + std::to_string(app), app},
                        {"a Wayland handle", "wayland:some-handle", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(registry_ / ".suite-setup");
    testkit::EnvironmentChanges env = ProgramDesktop::session().environment();
    env["VELTRA_PARENT_WINDOW"] = c.parentWindow;
    auto helper = startHelper(env);
    const unsigned long window = waitForDialog(*helper);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(x11.transientFor(window), c.expected);
    EXPECT_EQ(xdotool({"key", "Return"}).status, 0);
    EXPECT_EQ(finish(*helper), 0);
    expectAnswer(true);
  }
}

// A Wayland display that is named but gone (a stale variable in an X11 session) leaves X11.
TEST_F(DialogTest, FallsBackToX11WhenTheWaylandDisplayIsGone) {
  testkit::EnvironmentChanges env = ProgramDesktop::session().environment();
  env["WAYLAND_DISPLAY"] = "veltra-test-no-compositor";
  auto helper = startHelper(env);
  ASSERT_NE(waitForDialog(*helper), 0u);
  EXPECT_EQ(xdotool({"key", "Return"}).status, 0);
  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(true);
  EXPECT_EQ(helperStderr(), "");
}

// Every answer but the first button declines for the current set of installed apps.
struct Decline {
  const char* name;
  void (*act)(DialogTest& test, unsigned long window, const std::vector<AccessibleWidget>&);
};

void PrintTo(const Decline& decline, std::ostream* out) { *out << decline.name; }

class DialogDecline : public DialogTest, public ::testing::WithParamInterface<Decline> {
 public:
  testkit::ProcessResult press(std::vector<std::string> args) { return xdotool(std::move(args)); }
};

TEST_P(DialogDecline, RecordsTheInstalledSet) {
  auto helper = startHelper(ProgramDesktop::session().environment());
  const unsigned long window = waitForDialog(*helper);
  ASSERT_NE(window, 0u);
  const auto widgets = accessibleWidgets("suite-setup-helper", 2, seconds(30));
  ASSERT_FALSE(widgets.empty());
  GetParam().act(*this, window, widgets);

  EXPECT_EQ(finish(*helper), 0);
  expectAnswer(false);
  EXPECT_EQ(helperStderr(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DialogDecline,
    ::testing::Values(
        Decline{"ClickKeepSeparate",
                [](DialogTest& test, unsigned long, const std::vector<AccessibleWidget>& widgets) {
                  for (const auto& w : widgets) {
                    if (w.role != "push button" || w.name != "Keep Separate") continue;
                    auto& self = static_cast<DialogDecline&>(test);
                    EXPECT_EQ(self.press({"mousemove", "--sync", std::to_string(w.x + w.width / 2),
                                          std::to_string(w.y + w.height / 2), "click", "1"})
                                  .status,
                              0);
                    return;
                  }
                  ADD_FAILURE() << "no \"Keep Separate\" button";
                }},
        Decline{"CloseTheWindow",
                [](DialogTest&, unsigned long window, const std::vector<AccessibleWidget>&) {
                  X11WindowReader().requestClose(window);
                }},
        Decline{"Escape",
                [](DialogTest& test, unsigned long, const std::vector<AccessibleWidget>&) {
                  EXPECT_EQ(static_cast<DialogDecline&>(test).press({"key", "Escape"}).status, 0);
                }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// With no way to show the alert the run fails without a word and records nothing, so that the
// next run that can show it asks.
TEST_F(DialogTest, WithoutDisplayOrTerminalFailsAndAsksLater) {
  testkit::TemporaryFolder lonely;
  const fs::path soleHelper = lonely / "suite-setup-helper";
  fs::copy_file(VELTRA_HELPER_PATH, soleHelper);
  fs::permissions(soleHelper, fs::perms::owner_all);

  const testkit::EnvironmentChanges headless = headlessEnvironment(folder_ / "session");
  testkit::EnvironmentChanges deadX11 = headless;
  deadX11["DISPLAY"] = ":4095";
  testkit::EnvironmentChanges deadWayland = headless;
  deadWayland["WAYLAND_DISPLAY"] = "veltra-test-no-compositor";
  struct Case {
    const char* name;
    testkit::EnvironmentChanges environment;
    std::string helper;
  };
  const std::vector<Case> cases{
      {"no display", headless, VELTRA_HELPER_PATH},
      {"X11 display without a server", deadX11, VELTRA_HELPER_PATH},
      {"Wayland display without a compositor", deadWayland, VELTRA_HELPER_PATH},
      {"a display but no dialog module", ProgramDesktop::session().environment(),
       soleHelper.string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto helper = startHelper(c.environment, c.helper);
    EXPECT_EQ(finish(*helper), 1);
    EXPECT_EQ(helperStdout(), "");
    EXPECT_EQ(helperStderr(), "");
    EXPECT_FALSE(consent()) << "an answer was recorded";
  }

  auto helper = startHelper(ProgramDesktop::session().environment());
  ASSERT_NE(waitForDialog(*helper), 0u);
  EXPECT_EQ(xdotool({"key", "Return"}).status, 0);
  EXPECT_EQ(finish(*helper), 0);
  ASSERT_TRUE(consent());
  EXPECT_TRUE(consent()->enabled);
}

}  // namespace
}  // namespace veltra::test
