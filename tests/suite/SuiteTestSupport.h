// What the suite tests share: the suite's bundle ids, the cocoa error code an action throws, a
// certificate hierarchy under the build's development anchor, app bundles and their signing, the
// helper under test and the processes that run from a folder.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

namespace veltra::test {

// The bundle ids of the suite's apps, for `using namespace veltra::test::ids;`.
namespace ids {
inline constexpr const char* kPellow = "com.pemberhollo.pellow";
inline constexpr const char* kSorel = "com.pemberhollo.sorel";
inline constexpr const char* kKesta = "com.pemberhollo.kesta";
inline constexpr const char* kMure = "com.pemberhollo.mure";
inline constexpr const char* kTollis = "com.pemberhollo.tollis";
}  // namespace ids

// The code of the cocoa error `action` throws, or 0 when it throws none; an error of another
// category fails the test.
int cocoaCode(const std::function<void()>& action);

struct Signer {
  std::filesystem::path key;
  std::filesystem::path cert;
  std::filesystem::path chain;  // intermediates, may be empty
};

// Certificates made once per test process. The suite leaves chain to the build's development
// anchor through an intermediate; `foreignRoot` leaves chain to a root the library does not
// trust.
struct Pki {
  Signer suiteTeam;      // codeSigning, OU K4TQ7WMX2P
  Signer otherTeam;      // codeSigning, OU Z9ZZZZZZZ9
  Signer noCodeSigning;  // emailProtection only, OU K4TQ7WMX2P
  Signer untrustedRoot;  // codeSigning, OU K4TQ7WMX2P, under a root of its own
  Signer sha1Issued;     // as suiteTeam, but its certificate is signed with SHA-1
};

// Whether the build's development anchor key is available (not with a release anchor).
bool haveDevelopmentAnchor();
// The hierarchy; call only when haveDevelopmentAnchor().
const Pki& pki();

// Makes <folder>/<name>.app with Info.json, the executable (a copy of `executableSource`, or a
// small shell script when empty) and one resource file. Returns the bundle path.
std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
                                 const std::string& bundleId,
                                 const std::filesystem::path& executableSource = {});

// Signs with veltra-codesign; the identifier defaults to the bundle's own.
void codesign(const std::filesystem::path& bundle, const Signer& signer,
              const std::optional<std::string>& identifier = std::nullopt);
// Writes the manifest with the library and signs it with `openssl cms -md <digest>`.
void codesignWithOpensslCli(const std::filesystem::path& bundle, const Signer& signer,
                            const std::string& digest = "sha256");

// Starts the suite-setup-helper under test with `args`, HOME at `home` and no display; with
// `terminal` on a pseudo-terminal of its own (its controlling terminal).
testkit::ChildProcess startHelper(const std::vector<std::string>& args,
                                  const std::filesystem::path& home, bool terminal = false);
// Runs it to its end without a terminal.
testkit::ProcessResult runHelper(const std::vector<std::string>& args,
                                 const std::filesystem::path& home);

// The pids of this user's processes whose executable lies below `folder`.
std::vector<int> processesRunningFrom(const std::filesystem::path& folder);
// Kills (SIGKILL) the processes of processesRunningFrom(folder) and waits until they are gone.
void killProcessesRunningFrom(const std::filesystem::path& folder);

// How a test app (veltra-test-app) was started, from the report it writes into the folder
// "reports" beside its bundle when that folder exists.
struct LaunchReport {
  std::string cwd;
  std::string umask;                     // four octal digits
  std::vector<std::string> environment;  // NAME=VALUE, in the app's order
};
// Waits up to five seconds for a report in `reports` and reads the first one found.
std::optional<LaunchReport> waitForLaunchReport(const std::filesystem::path& reports);

// The catalogue name of a bundle id ("Sorel" for com.pemberhollo.sorel).
std::string appName(const std::string& bundleId);

}  // namespace veltra::test
