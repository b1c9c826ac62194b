// DesktopTest: a GitHubDesktop over a FakeTransport and an in-memory keychain, with the
// credential lock in a private temporary folder, for unit tests of the commands that act on
// GitHub for the user.
//
//   TEST_F(DesktopTest, ...) {
//     storeCredential(42, "octocat");
//     transport->respond(200, R"({"installations":[]})");
//     nlohmann::json payload = installationsCommand(context, request);
//     EXPECT_EQ(keychainReads(), 1u);
//   }
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "ScopedApplicationSupport.h"
#include "github-helper/CommandContext.h"
#include "tests/github/GitHubTestSupport.h"
#include "tests/support/FakeKeychainBackend.h"
#include "tests/support/FakeTransport.h"

namespace pellow::testing {

class DesktopTest : public ::testing::Test {
 protected:
  // Stores a credential of `account`, or a bare token when account is 0.
  void storeCredential(std::int64_t account, const std::string& login = "octocat",
                       const std::string& token = "ghu_stored") {
    nlohmann::json object{{"accessToken", token}};
    if (account != 0) {
      object["accountID"] = account;
      object["login"] = login;
    }
    backend->put(config::kKeychainService, object.dump());
  }

  std::size_t keychainReads() const {
    std::size_t reads = 0;
    for (const auto& call : backend->calls) {
      if (call.operation == "copyData") ++reads;
    }
    return reads;
  }

  ScopedApplicationSupport applicationSupport;  // the credential lock's folder
  std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
  std::shared_ptr<FakeKeychainBackend> backend = std::make_shared<FakeKeychainBackend>();
  GitHubDesktop desktop{transport, GitHubKeychain(std::string(config::kKeychainService), backend)};
  CommandContext context{desktop};
};

}  // namespace pellow::testing
