// HelperProcess: runs the real github-helper binary as git or the app would, for end-to-end
// tests: arguments, standard input, environment overrides; returns exit status and the exact
// bytes of standard output and standard error.
//
//   HelperRun run = runHelper({}, R"({"operation":"status"})", {{"XDG_DATA_HOME", dir}});
//   EXPECT_EQ(run.out, R"({"ok":{"signedIn":false}})");
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pellow::testing {

struct HelperRun {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out;
  std::string err;
};

// Environment entries to set (a value) or remove (nullopt) for the child; the rest is inherited.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Runs `program` (default: the github-helper under test) with `arguments`, writes `input` to its
// standard input and closes it (a child that exits without reading is fine). Throws
// std::runtime_error when the process cannot be started.
HelperRun runHelper(const std::vector<std::string>& arguments, const std::string& input,
                    const EnvironmentChanges& environment = {},
                    const std::string& program = PELLOW_HELPER_PATH);

// A fresh private temporary folder, removed when the object goes away.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace pellow::testing
