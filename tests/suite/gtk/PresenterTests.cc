// The host side of the desktop alert: when the dialog module or a display cannot be had, the
// factory answers null (the caller then falls back to the terminal) instead of failing.

#include <gtest/gtest.h>

#include <cstdlib>

#include "VeltraSuiteSetup/linux/GtkAlertPresenter.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra::test {
namespace {
namespace fs = std::filesystem;

TEST(GtkAlertPresenterFactory, NullWhenTheModuleOrDisplayCannotBeHad) {
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  testkit::TemporaryFolder folder;
  testkit::writeFile(folder / "text.so", "not a shared object\n");
  struct Case {
    const char* name;
    fs::path module;
  };
  const Case cases[] = {
      {"missing file", folder / "veltra-gtk-alert.so"},
      {"not a shared object", folder / "text.so"},
      {"a library without the entry point", "libm.so.6"},
      // Last: it loads GTK into this process, which then fails to open a display.
      {"the real module without a display", VELTRA_GTK_MODULE_PATH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(makeGtkAlertPresenter(c.module), nullptr);
  }
}

}  // namespace
}  // namespace veltra::test
