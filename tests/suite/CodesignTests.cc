// veltra-codesign: success means a bundle that verifies, whatever an earlier run left behind.

#include <gtest/gtest.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

struct CodesignCase {
  const char* name;
  // Done to the unsigned bundle first (an interrupted earlier run, say).
  void (*prepare)(const fs::path& bundle);
  // The options naming key, certificate, chain and anchor.
  std::vector<std::string> (*options)();
  int status;
  const char* message;  // expected on standard error ("" for none)
  bool verifies;        // by the suite's own check afterwards
};
void PrintTo(const CodesignCase& c, std::ostream* out) { *out << c.name; }

void nothing(const fs::path&) {}
std::vector<std::string> signer(const test::Signer& s) {
  std::vector<std::string> options{"--key", s.key, "--cert", s.cert};
  if (!s.chain.empty()) options.insert(options.end(), {"--chain", s.chain});
  return options;
}
std::vector<std::string> suiteTeam() { return signer(test::pki().suiteTeam); }

const CodesignCase kCases[] = {
    {"Plain", nothing, suiteTeam, 0, "", true},
    {"LeftoverManifestTemporary",
     [](const fs::path& b) {
       testkit::writeFile(b / "Contents/_CodeSignature/CodeResources.json.part", "{\"files\":{");
     },
     suiteTeam, 0, "", true},
    {"LeftoverSignatureTemporary",
     [](const fs::path& b) {
       testkit::writeFile(b / "Contents/_CodeSignature/CodeResources.p7s.part", "0\x82");
     },
     suiteTeam, 0, "", true},
    {"LeftoverHiddenTemporary",
     [](const fs::path& b) {
       testkit::writeFile(b / "Contents/_CodeSignature/.0123456789abcdef.tmp", "{\"files\":{");
     },
     suiteTeam, 0, "", true},
    {"AgainstTheGivenAnchor", nothing,
     [] {
       auto options = suiteTeam();
       options.insert(options.end(), {"--anchor", VELTRA_TEST_ANCHOR_CERT});
       return options;
     },
     0, "", true},
    {"AgainstAnAnchorThatDidNotIssueIt", nothing,
     [] {
       auto options = suiteTeam();
       options.insert(options.end(), {"--anchor", test::pki().untrustedRoot.chain});
       return options;
     },
     1, "does not verify against", true},  // the suite's anchor did issue it
    {"WithAChainThatDidNotIssueIt", nothing,
     [] {
       return signer({test::pki().suiteTeam.key, test::pki().suiteTeam.cert,
                      test::pki().untrustedRoot.chain});
     },
     1, "does not verify against its signing chain", false},
    {"CertificateWithoutCodeSigning", nothing, [] { return signer(test::pki().noCodeSigning); }, 1,
     "codeSigning", false},
};

class Codesign : public testing::TestWithParam<CodesignCase> {};

TEST_P(Codesign, SucceedsOnlyForABundleThatVerifies) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  testkit::TemporaryFolder dir;
  const fs::path bundle = test::makeBundle(dir.path(), "Sorel", kSorel);
  fs::create_directories(bundle / "Contents/_CodeSignature");
  GetParam().prepare(bundle);

  std::vector<std::string> argv{VELTRA_CODESIGN_PATH};
  for (auto& option : GetParam().options()) argv.push_back(std::move(option));
  argv.push_back(bundle);
  const testkit::ProcessResult run = testkit::run(argv);

  EXPECT_EQ(run.status, GetParam().status) << run.err;
  if (*GetParam().message == '\0') {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  }
  EXPECT_EQ(S::verified(bundle, kSorel), GetParam().verifies);
  for (const auto& entry : fs::directory_iterator(bundle / "Contents/_CodeSignature")) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "CodeResources.json" || name == "CodeResources.p7s")
        << name << " left behind";
  }
  if (run.status == 0) {
    const auto manifest = BundleManifest::decoded(
        testkit::readFile(bundle / "Contents/_CodeSignature/CodeResources.json"));
    ASSERT_TRUE(manifest);
    for (const auto& [file, hash] : manifest->files) {
      EXPECT_FALSE(file.starts_with("Contents/_CodeSignature/")) << file << " sealed";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Codesign, testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// What the command line answers before it signs anything: the usage where it was asked for, and
// a bundle that is not there named as missing rather than as a bundle without an identifier.
TEST(CodesignCommandLine, AnswersHelpAndAMissingBundleExactly) {
  testkit::TemporaryFolder dir;
  const std::string missing = (dir.path() / "Missing.app").string();
  const std::string file = (dir.path() / "File.app").string();
  testkit::writeFile(file, "not a folder");
  const std::string usage =
      "usage: veltra-codesign --key KEY.pem --cert CERT.pem [--chain CHAIN.pem] "
      "[--anchor ANCHOR.pem] [--identifier ID] BUNDLE.app\n";
  const test::Signer& team = test::pki().suiteTeam;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{}, 2, "", usage},
      {{"--help", "Sorel.app"}, 2, "", usage},
      {{"--key", team.key, "--cert", team.cert, missing},
       1,
       "",
       "veltra-codesign: " + missing + ": no such bundle\n"},
      {{"--key", team.key, "--cert", team.cert, file},
       1,
       "",
       "veltra-codesign: " + file + ": not a bundle (a bundle is a folder)\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{VELTRA_CODESIGN_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const testkit::ProcessResult run = testkit::run(argv);
    const std::string shown = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(run.status, c.status) << shown;
    EXPECT_EQ(run.out, c.out) << shown;
    EXPECT_EQ(run.err, c.err) << shown;
  }
  EXPECT_FALSE(fs::exists(missing));
}

// The development identity that app developers make (tools/veltra-dev-identity.sh) signs a
// bundle that this build's suite takes for genuine, for the team it was made for only.
TEST(DevelopmentIdentity, SignsABundleTheSuiteAccepts) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  testkit::TemporaryFolder dir;
  const fs::path identity = dir.path() / "identity";
  const std::string anchorFolder = fs::path(VELTRA_TEST_ANCHOR_CERT).parent_path().string();
  const testkit::ProcessResult made =
      testkit::run({"bash", VELTRA_DEV_IDENTITY_SCRIPT, anchorFolder, std::string(S::team()),
                    identity.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  for (const char* name : {"team.key", "team.pem", "chain.pem", "root.pem"}) {
    EXPECT_TRUE(fs::is_regular_file(identity / name)) << name;
  }
  EXPECT_EQ(fs::status(identity / "team.key").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const fs::path bundle = test::makeBundle(dir.path(), "Sorel", kSorel);
  const testkit::ProcessResult signedRun =
      testkit::run({VELTRA_CODESIGN_PATH, "--key", (identity / "team.key").string(), "--cert",
                    (identity / "team.pem").string(), "--chain", (identity / "chain.pem").string(),
                    "--anchor", (identity / "root.pem").string(), bundle.string()});
  EXPECT_EQ(signedRun.status, 0) << signedRun.err;
  EXPECT_TRUE(S::verified(bundle, kSorel));

  // Another team's identity signs, but the suite's check refuses it.
  const fs::path other = dir.path() / "other";
  ASSERT_EQ(
      testkit::run({"bash", VELTRA_DEV_IDENTITY_SCRIPT, anchorFolder, "OTHERTEAM1", other.string()})
          .status,
      0);
  const testkit::ProcessResult otherRun = testkit::run(
      {VELTRA_CODESIGN_PATH, "--key", (other / "team.key").string(), "--cert",
       (other / "team.pem").string(), "--chain", (other / "chain.pem").string(), bundle.string()});
  EXPECT_EQ(otherRun.status, 0) << otherRun.err;
  EXPECT_FALSE(S::verified(bundle, kSorel));
}

}  // namespace
}  // namespace veltra
