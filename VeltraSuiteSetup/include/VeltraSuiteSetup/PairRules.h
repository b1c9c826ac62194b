// Pair rules: the pair key, whether one app may use another now, and the changes that the user's
// answers make to the consent record. Defined in PairRules.cc.
//
//   namespace S = veltra::VeltraSuiteSetup;
//   S::pair("com.pemberhollo.sorel", "com.pemberhollo.pellow");
//                                    // "com.pemberhollo.pellow|com.pemberhollo.sorel"
//   S::approvePair("com.pemberhollo.pellow", "com.pemberhollo.sorel", registry);
//   if (S::permits(local, remote, remoteExecutable, registry)) { ... }
//
// The operations that touch the file go through the consent store (ConsentStore.h) and fail with
// its errors; thread-safety is the store's.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "VeltraSuiteSetup/ConsentStore.h"

namespace veltra::VeltraSuiteSetup {

// The two ids ascending by code point, joined by "|".
std::string pair(std::string_view a, std::string_view b);

// read + permits with the built-in team + verified(executable, remote). Never throws.
bool permits(std::string_view local, std::string_view remote,
             const std::filesystem::path& executable, const std::filesystem::path& registry);

// Throws 257 before touching anything unless both are distinct catalogue apps; otherwise
// approves the pair under the store's lock (errors of update).
void approvePair(std::string_view local, std::string_view remote,
                 const std::filesystem::path& registry);

// Records the pair as removed by the user (any ids). Errors of update.
void block(std::string_view local, std::string_view remote, const std::filesystem::path& registry);

// Whether the pair is in removedPairs (blockedPairs where removedPairs is absent). Errors of
// read.
bool isBlocked(std::string_view local, std::string_view remote,
               const std::filesystem::path& registry);

// The change that records the answer to the suite-wide alert.
ConsentChange applySuiteAnswer(bool accepted, std::string installedSetKey, bool clearBlocked);

}  // namespace veltra::VeltraSuiteSetup
