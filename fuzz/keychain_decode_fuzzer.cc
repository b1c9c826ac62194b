// The stored credential item's bytes: decodeKeychain either gives a credential with a non-empty
// access token or throws the one "could not be read" PellowError; a decoded JSON credential
// survives its own encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "PellowGitHub/GitHubCredential.h"
#include "PellowGitHub/PellowError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pellow::GitHubCredential credential;
  try {
    credential = pellow::GitHubCredential::decodeKeychain(bytes);
  } catch (const pellow::PellowError& error) {
    if (error.message() !=
        "The saved GitHub credential could not be read. Sign in again in Settings.") {
      std::abort();
    }
    return 0;
  }
  if (credential.accessToken.empty()) std::abort();
  const auto again = pellow::GitHubCredential::decodeKeychain(credential.encoded());
  if (!(again == credential)) std::abort();
  return 0;
}
