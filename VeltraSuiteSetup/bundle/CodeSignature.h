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
#include <string_view>

#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace veltra {

class SignatureVerifier {
 public:
  // `trustAnchorsPem`: one or more PEM certificates; throws std::runtime_error if none parses.
  explicit SignatureVerifier(std::string_view trustAnchorsPem);

  // Never throws; every failure gives false.
  bool verify(const std::filesystem::path& url, std::string_view bundleId,
              std::string_view team) const;

 private:
  X509StorePtr store_;
};

// The PEM text of the trust anchor(s) built in at compile time.
std::string_view builtInTrustAnchors() noexcept;

}  // namespace veltra
