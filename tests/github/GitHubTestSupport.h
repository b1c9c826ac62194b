// What the GitHub tests share: the message of the PellowError an action throws, and GitHub's
// documented example bodies (tests/fixtures/github).
//
//   EXPECT_EQ(messageOf([&] { keychain.load(); }), kKeychainMessage);
//   transport->respond(200, fixture("user.json"));
#pragma once

#include <stdexcept>
#include <string>

#include "PellowGitHub/PellowError.h"
#include "tests/support/TestFiles.h"

namespace pellow::testing {

// The message of the PellowError `action` throws, or "" when it throws none. Other
// exceptions pass through.
template <typename Action>
std::string messageOf(Action&& action) {
  try {
    action();
  } catch (const PellowError& e) {
    return std::string(e.message());
  }
  return "";
}

// The bytes of a file of tests/fixtures/github; throws std::runtime_error when it is missing.
inline std::string fixture(const std::string& name) {
  const std::string path = std::string(PELLOW_GITHUB_FIXTURES) + "/" + name;
  std::string bytes = testkit::readFile(path);
  if (bytes.empty()) throw std::runtime_error("missing fixture " + name);
  return bytes;
}

}  // namespace pellow::testing
