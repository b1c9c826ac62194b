// The folders above a bundle: whoever may rename or replace one of them chooses what the started
// app finds next to itself, so every one of them up to "/" answers to the rule that the bundle's
// own folder does, and a refusal names the folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "VeltraSuiteSetup/bundle/CodeSignature.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using namespace test::ids;

// A genuine Sorel at <folder>/up/holder/Sorel.app, `up` with `upMode`.
struct FolderCase {
  const char* name;
  fs::perms upMode;
  bool upOfAnotherUser;
  bool holderOfAnotherUser;
  // "" for a genuine bundle; else the refusal, after the temporary folder's path.
  const char* problem;
};
void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.name; }

const std::vector<FolderCase> kFolderCases{
    {"AncestorsOfTheCaller", fs::perms(0755), false, false, ""},
    {"AncestorWritableByGroup", fs::perms(0775), false, false, "/up: writable by group"},
    {"AncestorWritableByOthers", fs::perms(0777), false, false, "/up: writable by others"},
    // As /tmp is: others may add entries but move only their own.
    {"StickyAncestorAboveTheCallersFolder", fs::perms(01777), false, false, ""},
    {"StickyAncestorAboveAFolderOfAnotherUser", fs::perms(01777), false, true,
     "/up/holder: owned by another user"},
    {"StickyAncestorOfAnotherUser", fs::perms(01777), true, false, "/up: owned by another user"},
    {"AncestorOfAnotherUser", fs::perms(0755), true, false, "/up: owned by another user"},
};

class FolderRule : public testing::TestWithParam<FolderCase> {};

TEST_P(FolderRule, EveryFolderUpToTheRootIsJudged) {
  const FolderCase& c = GetParam();
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  if ((c.upOfAnotherUser || c.holderOfAnotherUser) && ::geteuid() != 0) {
    GTEST_SKIP() << "giving files away needs root";
  }
  testkit::TemporaryFolder dir;
  const fs::path up = dir / "up";
  const fs::path bundle = test::makeBundle(up / "holder", "Sorel", kSorel);
  test::codesign(bundle, test::pki().suiteTeam);
  fs::permissions(up / "holder", fs::perms(0755));
  fs::permissions(up, c.upMode);
  ASSERT_TRUE(!c.upOfAnotherUser || testkit::giveAway(up));
  ASSERT_TRUE(!c.holderOfAnotherUser || testkit::giveAway(up / "holder"));

  const SignatureVerifier* verifier = SignatureVerifier::builtIn();
  ASSERT_NE(verifier, nullptr);
  std::string problem = "left over";
  const auto checked = verifier->check(bundle, kSorel, VeltraSuiteSetup::team(), problem);
  const std::string expected = *c.problem == '\0' ? "" : dir.path().string() + c.problem;
  EXPECT_EQ(problem, expected);
  EXPECT_EQ(checked.has_value(), expected.empty());
  // The library's own check and the file inside the bundle answer alike.
  EXPECT_EQ(VeltraSuiteSetup::verified(bundle / "Contents/MacOS/Sorel", kSorel), expected.empty());
}

INSTANTIATE_TEST_SUITE_P(Ancestors, FolderRule, testing::ValuesIn(kFolderCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltra
