// git's credential request as github-helper reads it: UTF-8 decoding, the attribute table, the
// GitHub check, and the whole git credential mode with a stored credential in memory.
//
// The answer, when there is one, must be exactly the "username=" and "password=" lines of the
// stored credential; a request that is not for a GitHub repository gets no output at all.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "fuzz/FuzzSupport.h"
#include "github-helper/CredentialRequest.h"
#include "github-helper/GitHubHelper.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeKeychainBackend.h"

namespace {

constexpr pellow::Date kFixedNow = pellow::Date::fromUnixSeconds(1'780'000'000.0);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pellow::fuzz::useScratchApplicationSupport();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string text = pellow::decodeUTF8WithReplacement(bytes);
  const auto attributes = pellow::parseCredentialAttributes(text);
  bool gitHub = false;
  if (attributes) {
    gitHub = pellow::isGitHubRequest(*attributes);
    if (gitHub && attributes->at("protocol") != "https") std::abort();
  }
  (void)pellow::containsLineBreakOrNUL(text);

  auto backend = std::make_shared<pellow::testing::FakeKeychainBackend>();
  pellow::GitHubCredential credential("ghu_fuzz");
  credential.accountID = 42;
  credential.login = "octocat";
  backend->put(pellow::config::kKeychainService, credential.encoded());
  auto transport = std::make_shared<pellow::fuzz::FixedTransport>(
      pellow::fuzz::FixedTransport::Mode::unreachable);
  pellow::testing::FakeClock clock(kFixedNow);
  pellow::GitHubDesktop desktop{
      transport, pellow::GitHubKeychain(std::string(pellow::config::kKeychainService), backend),
      clock};
  pellow::CommandContext context{desktop};
  pellow::fuzz::MemoryStreams streams(bytes);
  constexpr std::array<std::string_view, 3> arguments{"credential", "42", "get"};
  const int status = pellow::runGitHubHelper(arguments, streams, context);

  if (status != 0 || !streams.error.empty() || transport->sent != 0) std::abort();
  // Answered exactly when the request is a GitHub one within the size limit.
  const bool answerable = gitHub && size <= pellow::kGitCredentialInputLimit;
  const std::string_view expected =
      answerable ? "username=x-access-token\npassword=ghu_fuzz\n\n" : "";
  if (streams.output != expected) std::abort();
  return 0;
}
