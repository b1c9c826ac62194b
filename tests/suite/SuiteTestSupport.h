// Shared helpers of the suite tests: temporary folders, a certificate hierarchy under the build's
// development anchor, app bundles and their signing, and running programs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltra::test {

// A private (0700) folder below /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

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
};

// Whether the build's development anchor key is available (not with a release anchor).
bool haveDevelopmentAnchor();
// The hierarchy; call only when haveDevelopmentAnchor().
const Pki& pki();

// Runs `argv` (searched in PATH), output to /dev/null unless `output`; returns the exit status.
int run(const std::vector<std::string>& argv, std::string* output = nullptr);

void writeFile(const std::filesystem::path& path, const std::string& bytes, unsigned mode = 0644);
std::string readFile(const std::filesystem::path& path);

// Makes <folder>/<name>.app with Info.json, the executable (a copy of `executableSource`, or a
// small shell script when empty) and one resource file. Returns the bundle path.
std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::string& name,
                                 const std::string& bundleId,
                                 const std::filesystem::path& executableSource = {});

// Signs with veltra-codesign; the identifier defaults to the bundle's own.
void codesign(const std::filesystem::path& bundle, const Signer& signer,
              const std::optional<std::string>& identifier = std::nullopt);
// Writes the manifest with the library and signs it with `openssl cms`.
void codesignWithOpensslCli(const std::filesystem::path& bundle, const Signer& signer);

// The pids of this user's processes whose executable lies below `folder`.
std::vector<int> processesRunningFrom(const std::filesystem::path& folder);
// Kills (SIGKILL) the processes of processesRunningFrom(folder) and waits until they are gone.
void killProcessesRunningFrom(const std::filesystem::path& folder);

// The catalogue name of a bundle id ("Sorel" for com.pemberhollo.sorel).
std::string appName(const std::string& bundleId);

}  // namespace veltra::test
