// The code-signature check of an app bundle: a detached CMS signature over the bundle's manifest,
// made by a code-signing certificate of the suite team that chains to a trusted anchor, for the
// right identifier, over an intact seal.
//
//   const veltra::SignatureVerifier verifier(veltra::builtInTrustAnchors());
//   bool ok = verifier.verify("/Applications/Sorel.app", "com.pemberhollo.sorel", "K4TQ7WMX2P");
//
// A bundle verifies when, in this order (cheapest first): the CMS signature verifies over the
// manifest bytes with a store holding only the anchors (intermediates from the signature,
// validity times not checked); the signer has extended key usage codeSigning and one subject OU
// equal to the team; the manifest's identifier is the bundle id; and the seal is intact (see
// sealIntact). A path to a file inside a bundle checks the nearest enclosing "*.app" folder and
// requires the file to be listed. Nothing is cached: each call reads the disk again.
// verify() is const and thread-safe.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace veltra {

enum class AnchorUse {
  selfSignedRoots,  // the suite's rule: a chain ends at one of the anchors, a self-signed root
  anyCertificate,   // a chain may end at any anchor, an intermediate too (a signer's own check)
};

class SignatureVerifier {
 public:
  // `trustAnchorsPem`: one or more PEM certificates; throws std::runtime_error if none parses.
  explicit SignatureVerifier(std::string_view trustAnchorsPem,
                             AnchorUse use = AnchorUse::selfSignedRoots);

  // Never throws; every failure gives false.
  bool verify(const std::filesystem::path& url, std::string_view bundleId,
              std::string_view team) const;

 private:
  X509StorePtr store_;
  AnchorUse use_;
};

// The subject OU of `certificate` when it has exactly one (the signing team); nullopt otherwise.
std::optional<std::string> singleOrganisationalUnit(X509* certificate);
// Whether `certificate` carries extended key usage codeSigning.
bool hasCodeSigningUsage(X509* certificate);

// The PEM text of the trust anchor(s) built in at compile time.
std::string_view builtInTrustAnchors() noexcept;

}  // namespace veltra
