// Which display the desktop alert tries first, and what of the asking application's parent
// window and activation token it passes on, decided from the session alone.

#include <gtest/gtest.h>

#include "VeltraSuiteSetup/linux/AlertDisplayPlan.h"

namespace veltra {
namespace {

TEST(ParentWindowOption, AcceptsThePortalFormsOnly) {
  struct Case {
    const char* value;
    std::optional<ParentWindow> expected;
  };
  const Case cases[] = {
      {"wayland:2c6d0b1e-handle", ParentWindow{WindowSystem::wayland, "2c6d0b1e-handle"}},
      {"x11:0x3a00007", ParentWindow{WindowSystem::x11, "0x3a00007"}},
      {"x11:60817415", ParentWindow{WindowSystem::x11, "60817415"}},
      {"x11:0xffffffff", ParentWindow{WindowSystem::x11, "0xffffffff"}},
      {"", std::nullopt},
      {"wayland:", std::nullopt},
      {"wayland:two words", std::nullopt},
      {"wayland:tab\there", std::nullopt},
      {"Wayland:handle", std::nullopt},
      {"handle-without-system", std::nullopt},
      {"x11:", std::nullopt},
      {"x11:0", std::nullopt},  // None
      {"x11:0x", std::nullopt},
      {"x11:0x100000000", std::nullopt},  // wider than an X resource id
      {"x11:-5", std::nullopt},
      {"x11:12ab", std::nullopt},
      {"x11:0x12 ", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(parseParentWindow(c.value), c.expected);
  }
  EXPECT_FALSE(parseParentWindow("wayland:" + std::string(1025, 'h')));
  EXPECT_TRUE(parseParentWindow("wayland:" + std::string(1024, 'h')));
}

TEST(AlertDisplayPlan, WaylandFirstAndOnlyUsableValuesPassedOn) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    std::string wayland, x11;
    std::optional<ParentWindow> parent;
    std::string token;
    std::string firstNote;
  };
  const Case cases[] = {
      {"X11 only", {{"DISPLAY", ":0"}}, "", ":0", std::nullopt, "", "DISPLAY :0 is set"},
      {"Wayland only",
       {{"WAYLAND_DISPLAY", "wayland-1"}},
       "wayland-1",
       "",
       std::nullopt,
       "",
       "WAYLAND_DISPLAY wayland-1 is set"},
      {"both, with parent and token",
       {{"WAYLAND_DISPLAY", "wayland-0"},
        {"DISPLAY", ":1"},
        {"VELTRA_PARENT_WINDOW", "wayland:abc"},
        {"XDG_ACTIVATION_TOKEN", "sway-token_42"}},
       "wayland-0",
       ":1",
       ParentWindow{WindowSystem::wayland, "abc"},
       "sway-token_42",
       "WAYLAND_DISPLAY wayland-0 and DISPLAY :1 are both set: Wayland first"},
      {"malformed parent and token dropped",
       {{"DISPLAY", ":0"},
        {"VELTRA_PARENT_WINDOW", "x11:window"},
        {"XDG_ACTIVATION_TOKEN", "a token\nwith lines"}},
       "",
       ":0",
       std::nullopt,
       "",
       "DISPLAY :0 is set"},
      {"none", {}, "", "", std::nullopt, "", "neither WAYLAND_DISPLAY nor DISPLAY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const pellow::Session session = pellow::Session::fromEnvironment(c.environment);
    const AlertDisplayPlan plan = planAlertDisplay(session);
    EXPECT_EQ(plan.waylandDisplay, c.wayland);
    EXPECT_EQ(plan.x11Display, c.x11);
    EXPECT_EQ(plan.parent, c.parent);
    EXPECT_EQ(plan.activationToken, c.token);
    ASSERT_FALSE(plan.notes.empty());
    EXPECT_TRUE(plan.notes[0].starts_with(c.firstNote)) << plan.notes[0];
    // The token is a one-time credential of the asking application: never traced.
    for (const auto& note : plan.notes) {
      EXPECT_EQ(note.find("sway-token"), std::string::npos) << note;
    }
  }
}

TEST(AlertDisplayPlan, ActivationTokenBounds) {
  EXPECT_TRUE(usableActivationToken("a"));
  EXPECT_TRUE(usableActivationToken(std::string(1024, 't')));
  EXPECT_FALSE(usableActivationToken(""));
  EXPECT_FALSE(usableActivationToken(std::string(1025, 't')));
  EXPECT_FALSE(usableActivationToken("caf\xc3\xa9"));
  EXPECT_FALSE(usableActivationToken(std::string("nul\0inside", 10)));
}

}  // namespace
}  // namespace veltra
