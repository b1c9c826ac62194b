#include "tests/suite/gtk/DialogFixture.h"

#include <nlohmann/json.hpp>
#include <string_view>

#include "tests/suite/SuiteTestSupport.h"

namespace veltra::test {
namespace fs = std::filesystem;
using std::chrono::seconds;

const std::string kDialogMessage = "Connect your Veltra apps automatically?";
const std::string kDialogInformative =
    "We've detected other Veltra apps are installed: Kesta, Sorel.\n\nGrant access between Veltra "
    "apps to your connected mail accounts, calendars, and current notes folder, including search, "
    "reviewed drafts, and AI use through Sorel's configured provider.\n\nWe'll also connect "
    "verified Veltra apps you install later. Sending mail and saving changes still happen in the "
    "owning app. You can disconnect any app in Connections.";
const std::string kDialogInstalledSet =
    "com.pemberhollo.kesta|com.pemberhollo.pellow|com.pemberhollo.sorel";

DialogWidgets splitWidgets(const std::vector<AccessibleWidget>& widgets) {
  DialogWidgets split;
  for (const auto& widget : widgets) {
    if (widget.role == "label") split.labels.push_back(widget.name);
    if (widget.role == "push button") split.buttons.push_back(widget);
  }
  return split;
}

std::vector<AccessibleWidget> expectSpecifiedDialog(const std::vector<AccessibleWidget>& widgets,
                                                    bool titleInside) {
  const auto [labels, buttons] = splitWidgets(widgets);
  std::vector<std::string> expected{kDialogMessage, kDialogInformative};
  if (titleInside) expected.insert(expected.begin(), "suite-setup-helper");
  EXPECT_EQ(labels, expected);
  EXPECT_EQ(buttons.size(), 2u);
  if (buttons.size() == 2) {
    EXPECT_EQ(buttons[0].name, kConnectButton);
    EXPECT_EQ(buttons[1].name, kKeepSeparateButton);
  }
  return buttons;
}

void DialogFixture::SetUp() {
  if (!haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  const fs::path apps = folder_ / "Apps";
  for (const auto& [name, id] :
       {std::pair{"Pellow", ids::kPellow}, {"Sorel", ids::kSorel}, {"Kesta", ids::kKesta}}) {
    const fs::path bundle = makeBundle(apps, name, id);
    codesign(bundle, pki().suiteTeam);
    if (std::string_view(name) == "Pellow") pellow_ = bundle;
  }
  registry_ = folder_ / "registry";
  // The consent store accepts only a private folder.
  fs::create_directories(registry_);
  fs::permissions(registry_, fs::perms::owner_all);
}

std::unique_ptr<testkit::ChildProcess> DialogFixture::startHelper(
    const testkit::EnvironmentChanges& env, const std::string& helper,
    const std::vector<std::string>& options) {
  std::vector<std::string> argv{helper, "--app", pellow_, "--registry", registry_};
  argv.insert(argv.end(), options.begin(), options.end());
  return std::make_unique<testkit::ChildProcess>(
      argv, testkit::ProcessOptions{.environment = env, .cleanEnvironment = true});
}

int DialogFixture::finish(testkit::ChildProcess& helper) {
  result_ = helper.finish(seconds(30));
  return result_.status;
}

std::optional<VeltraSuiteConsent> DialogFixture::consent() {
  const fs::path file = registry_ / ".suite-setup" / "consent-v1.json";
  if (!fs::exists(file)) return std::nullopt;
  return VeltraSuiteConsent::decoded(testkit::readFile(file));
}

void DialogFixture::expectAnswer(bool accepted) {
  const auto record = consent();
  ASSERT_TRUE(record) << "no answer was recorded";
  EXPECT_EQ(record->enabled, accepted);
  if (accepted) {
    EXPECT_FALSE(record->declinedSet);
    EXPECT_TRUE(record->approvedAt);
    const auto answer = nlohmann::json::parse(helperStdout());
    ASSERT_EQ(answer["apps"].size(), 2u);
    for (const auto& app : answer["apps"]) EXPECT_EQ(app["added"], true) << app.dump();
  } else {
    EXPECT_EQ(record->declinedSet, kDialogInstalledSet);
    EXPECT_EQ(helperStdout(), "{\"apps\":[]}");
  }
}

}  // namespace veltra::test
