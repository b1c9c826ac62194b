// The host side of the desktop alert: when the dialog module or a display cannot be had, the
// factory answers null (the caller then falls back to the terminal) instead of failing.

#include <gtest/gtest.h>

#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra::test {
namespace {
namespace fs = std::filesystem;

TEST(GtkAlertPresenterFactory, NullWhenTheModuleOrDisplayCannotBeHad) {
  testkit::TemporaryFolder folder;
  // The displays come from the session alone, whatever this process's environment names.
  const pellow::Session noDisplay = pellow::Session::fromEnvironment({});
  pellow::Session deadDisplays = noDisplay;
  deadDisplays.waylandDisplay = (folder / "no-compositor").string();
  deadDisplays.display = ":4095";
  testkit::writeFile(folder / "text.so", "not a shared object\n");
  struct Case {
    const char* name;
    fs::path module;
    const pellow::Session& session;
  };
  const Case cases[] = {
      {"missing file", folder / "veltra-gtk-alert.so", noDisplay},
      {"not a shared object", folder / "text.so", noDisplay},
      {"a library without the entry point", "libm.so.6", noDisplay},
      // Last: they load GTK into this process, which then fails to open a display.
      {"the real module without a display", VELTRA_GTK_MODULE_PATH, noDisplay},
      {"the real module, no server behind either display", VELTRA_GTK_MODULE_PATH, deadDisplays},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(makeGtkAlertPresenter(c.module, c.session), nullptr);
  }
}

}  // namespace
}  // namespace veltra::test
