// What every test of the connection alert on a desktop needs, whatever the window system: three
// signed suite bundles and a private registry, the real suite-setup-helper started against them,
// its answer, and the consent it recorded.
//
//   class MyDialogTest : public veltra::test::DialogFixture {};
//   auto helper = startHelper(environment);          // shows the alert
//   ...                                              // answer it
//   EXPECT_EQ(finish(*helper), 0);
//   EXPECT_TRUE(consent()->enabled);
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VeltraSuiteSetup/VeltraSuiteConsent.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/desktop/AccessibleTree.h"

namespace veltra::test {

// The alert's texts for the bundles the fixture makes.
extern const std::string kDialogMessage;
extern const std::string kDialogInformative;
extern const std::string kDialogInstalledSet;
inline constexpr const char* kConnectButton = "Connect Veltra Apps";
inline constexpr const char* kKeepSeparateButton = "Keep Separate";

// The labels and push buttons of an accessibility snapshot, in tree order.
struct DialogWidgets {
  std::vector<std::string> labels;
  std::vector<AccessibleWidget> buttons;
};
DialogWidgets splitWidgets(const std::vector<AccessibleWidget>& widgets);

// Checks that `widgets` show the alert's specified texts and buttons in order and returns its
// buttons. `titleInside`: GTK draws the title bar itself (Wayland), so its title label comes
// first, and it must name the program, not repeat the question.
std::vector<AccessibleWidget> expectSpecifiedDialog(const std::vector<AccessibleWidget>& widgets,
                                                    bool titleInside);

class DialogFixture : public ::testing::Test {
 protected:
  // Skips when built with a release trust anchor (the bundles cannot be signed then).
  void SetUp() override;

  // The helper with "--app" and "--registry" of this fixture and `options`, in a session of its
  // own without a controlling terminal: the dialog is the only way to ask.
  std::unique_ptr<testkit::ChildProcess> startHelper(const testkit::EnvironmentChanges& env,
                                                     const std::string& helper = VELTRA_HELPER_PATH,
                                                     const std::vector<std::string>& options = {
                                                         "--prompt"});

  // Waits (30 s at most) for the helper's end and keeps what it wrote; returns its status.
  int finish(testkit::ChildProcess& helper);

  // The consent file, or nullopt when none was written.
  std::optional<VeltraSuiteConsent> consent();

  // Checks the record and answer of a run that accepted (`accepted`) or declined.
  void expectAnswer(bool accepted);

  const std::string& helperStdout() const { return result_.out; }
  const std::string& helperStderr() const { return result_.err; }

  testkit::TemporaryFolder folder_;
  testkit::ProcessResult result_;
  std::filesystem::path pellow_;
  std::filesystem::path registry_;
};

}  // namespace veltra::test
