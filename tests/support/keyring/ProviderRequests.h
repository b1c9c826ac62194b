// The requests and answers that the keyring provider tests send github-helper and expect back,
// for the account 4242 "octocat".
//
//   runHelper({}, save("ghu_a"), environment)   // answers kSignedIn
//   runHelper({}, kStatus, environment)          // kSignedIn, kSignedOut or kKeychainError
#pragma once

#include <string>
#include <vector>

#include "PellowGitHub/PellowError.h"

namespace pellow::testing {

inline const std::string kKeychainError = R"({"error":")" + std::string(kKeychainMessage) + "\"}";
inline const std::string kSignedOut = R"({"ok":{"signedIn":false}})";
inline const std::string kSignedIn = R"({"ok":{"id":4242,"login":"octocat","signedIn":true}})";
inline const std::string kStatus = R"({"operation":"status"})";
inline const std::string kDisconnect = R"({"operation":"disconnect"})";
// git's credential request for a repository of the account, and the arguments it runs us with.
inline const std::vector<std::string> kGitGet{"credential", "4242", "get"};
inline const std::string kGitRequest = "protocol=https\nhost=github.com\npath=octo/notes.git\n";

// The "save" request of a credential holding `token`.
inline std::string save(const std::string& token) {
  return R"({"operation":"save","credential":{"accessToken":")" + token +
         R"(","accountID":4242,"login":"octocat"}})";
}

}  // namespace pellow::testing
