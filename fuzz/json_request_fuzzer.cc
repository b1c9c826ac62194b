// The JSON request path of github-helper, from the bytes on standard input up to and through
// dispatch, with an in-memory keychain and a transport that answers one fixed way.
//
// Input: one selector byte (keychain state and transport answer), then the request bytes.
// Whatever the request, the run must end with status 0 and exactly one JSON answer that is
// either {"ok":...} or {"error":"..."}.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/GitHubDesktop.h"
#include "PellowGitHub/support/GitHubConfig.h"
#include "fuzz/FuzzSupport.h"
#include "github-helper/GitHubHelper.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeKeychainBackend.h"

namespace {

constexpr pellow::Date kFixedNow = pellow::Date::fromUnixSeconds(1'780'000'000.0);

std::string storedCredential(bool expiring) {
  pellow::GitHubCredential credential("ghu_fuzz");
  credential.accountID = 42;
  credential.login = "octocat";
  if (expiring) {
    credential.refreshToken = "ghr_fuzz";
    credential.expiresAt = kFixedNow;
    credential.clientID = "Iv1.fuzz";
  }
  return credential.encoded();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pellow::fuzz::useScratchApplicationSupport();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  const std::string_view request(reinterpret_cast<const char*>(data + 1), size - 1);

  auto backend = std::make_shared<pellow::testing::FakeKeychainBackend>();
  switch (selector & 3U) {
    case 0:
      break;  // nothing stored
    case 1:
      backend->put(pellow::config::kKeychainService, storedCredential(false));
      break;
    case 2:
      backend->put(pellow::config::kKeychainService, storedCredential(true));
      break;
    default:
      backend->failing[pellow::testing::FakeKeychainBackend::Operation::copyData] =
          pellow::KeychainStatus::interactionNotAllowed;
      backend->failing[pellow::testing::FakeKeychainBackend::Operation::add] =
          pellow::KeychainStatus::ioError;
      break;
  }
  const auto mode = static_cast<pellow::fuzz::FixedTransport::Mode>((selector >> 2U) % 5U);
  auto transport = std::make_shared<pellow::fuzz::FixedTransport>(mode);

  pellow::testing::FakeClock clock(kFixedNow);
  pellow::GitHubDesktop desktop{
      transport, pellow::GitHubKeychain(std::string(pellow::config::kKeychainService), backend),
      clock};
  pellow::CommandContext context{desktop};
  pellow::fuzz::MemoryStreams streams(request);
  const int status = pellow::runGitHubHelper({}, streams, context);

  if (status != 0 || !streams.error.empty()) std::abort();
  const auto answer = nlohmann::json::parse(streams.output, nullptr, false);
  if (!answer.is_object() || answer.size() != 1) std::abort();
  if (!answer.contains("ok") && !(answer.contains("error") && answer["error"].is_string())) {
    std::abort();
  }
  return 0;
}
