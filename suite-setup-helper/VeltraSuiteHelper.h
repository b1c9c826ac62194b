// The suite-setup helper's run: options in, the JSON answer out.
//
//   auto answer = veltra::VeltraSuiteHelper::run({argv, argv + argc}, platform);
//   if (!answer) return 1;                      // every failure: status 1, no output
//   write(1, answer->data(), answer->size());
//
// Options are looked up over the whole argument list, program path included: an option's value
// is the element right after its first occurrence (used as it is, even when it begins with "--");
// a flag is set wherever it stands. The run checks the "--app" bundle, may connect one pair
// ("--add"), lists all installed apps ("--available") or the connected ones (scan, with "--force"
// and "--prompt"), may launch one app ("--launch-destination"), reads the consent file and
// answers {"apps":[{"bundleId","name","path","added","running"}...]} compactly, every "/" written
// as "\/", without a newline. Throws nothing; returns nullopt on every failure. Runs on the
// calling thread; may block in the connection alert.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VeltraSuiteSetup/Platform.h"

namespace veltra {

struct VeltraSuiteHelper {
  VeltraSuiteHelper() = delete;

  static constexpr std::string_view kLocal = "com.pemberhollo.pellow";

  // The value of `option` in `args`, or none when it does not occur or occurs only last.
  static std::optional<std::string> value(const std::vector<std::string>& args,
                                          std::string_view option);
  // Whether any element of `args` equals `flag`.
  static bool isSet(const std::vector<std::string>& args, std::string_view flag);

  static std::optional<std::string> run(const std::vector<std::string>& args,
                                        VeltraPlatform& platform);
};

}  // namespace veltra
