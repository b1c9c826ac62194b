#include <memory>

#include "PellowGitHub/FileKeychainBackend.h"
#include "PellowGitHub/KeychainBackend.h"

namespace pellow {

std::unique_ptr<KeychainBackend> makeDefaultKeychainBackend() {
  return std::make_unique<FileKeychainBackend>();
}

}  // namespace pellow
