// The detached CMS signature of a bundle's manifest, as the signature check reads it from disk.
//
// A bundle on /dev/shm holds only its manifest (no files, identifier com.pemberhollo.sorel) and
// the fuzzed bytes as its signature. The verifier trusts a test anchor of its own, so that the
// seed signatures, made by a code-signing certificate under that anchor, lead the search
// through certificate chains, key usage and team checks, not only DER parsing. A signature only
// verifies when it signs exactly these manifest bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/CodeSignature.h"
#include "fuzz/FuzzTrustAnchor.h"

namespace {

constexpr std::string_view kManifest = R"({"files":{},"identifier":"com.pemberhollo.sorel"})";

struct Fixture {
  std::filesystem::path folder;
  std::filesystem::path bundle;
  std::unique_ptr<veltra::SignatureVerifier> verifier;
};

Fixture* fixture = nullptr;

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  const bool complete =
      ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!complete) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder = "/dev/shm/veltra-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  static Fixture instance{folder, std::filesystem::path(folder) / "Sorel.app",
                          std::make_unique<veltra::SignatureVerifier>(veltra::fuzz::kTrustAnchor)};
  fixture = &instance;
  std::filesystem::create_directories(fixture->bundle / "Contents" / "_CodeSignature");
  // Only the owner may write a genuine bundle, whatever the umask made these folders.
  for (const auto* inside : {"", "Contents", "Contents/_CodeSignature"}) {
    std::filesystem::permissions(fixture->bundle / inside, std::filesystem::perms(0755));
  }
  writeFile(fixture->bundle / veltra::kManifestPath, kManifest);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(fixture->folder, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  writeFile(fixture->bundle / veltra::kSignaturePath,
            std::string_view(reinterpret_cast<const char*>(data), size));
  const bool sorel =
      fixture->verifier->verify(fixture->bundle, "com.pemberhollo.sorel", veltra::fuzz::kTeam);
  // The manifest names one identifier: no signature can make it stand for another app.
  if (sorel &&
      fixture->verifier->verify(fixture->bundle, "com.pemberhollo.pellow", veltra::fuzz::kTeam)) {
    std::abort();
  }
  return 0;
}
