// The code-signature check of an app bundle: a detached CMS signature over the bundle's manifest,
// made by a code-signing certificate of the suite team that chains to a trusted anchor, for the
// right identifier, over an intact seal that no other user can change.
//
//   const veltra::SignatureVerifier* verifier = veltra::SignatureVerifier::builtIn();
//   bool ok = verifier->verify("/Applications/Sorel.app", "com.pemberhollo.sorel", "K4TQ7WMX2P");
//   std::optional<veltra::SealedBundle> app = verifier->check(path, bundleId, team);
//   if (app) ... app->executable ...;     // the main executable exactly as it was hashed
//
// The path is resolved once (BundlePath.h) and the bundle opened without following links; every
// folder from "/" down to the one that holds it must pass folderFault. Then, in this order (cheapest first): the CMS
// signature verifies over the manifest bytes with a store holding only the anchors
// (intermediates from the signature, validity times not checked) using SHA-256 or stronger for
// the message digest, the signature and the certificates; the signer has extended key usage
// codeSigning and one subject OU equal to the team; the manifest's identifier is the bundle id;
// and the seal is intact (SealCheck.h). A path to a file inside a bundle checks the nearest
// enclosing "*.app" folder and requires the file to be listed. Nothing is cached: each call reads
// the disk again, streaming the manifest and the files, so that memory does not grow with the
// number of files beyond a compact index. check() and verify() are const and thread-safe.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "PrivateFiles/UniqueFd.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace veltra {

// A bundle that passed the check, as it was checked.
struct SealedBundle {
  std::filesystem::path path;      // the resolved path that was checked (resolvedPath of the url)
  std::optional<BundleInfo> info;  // from the Info.json bytes that were hashed
  privatefiles::UniqueFd executable;  // the main executable that was hashed; invalid when none
};

enum class AnchorUse {
  selfSignedRoots,  // the suite's rule: a chain ends at one of the anchors, a self-signed root
  anyCertificate,   // a chain may end at any anchor, an intermediate too (a signer's own check)
};

class SignatureVerifier {
 public:
  // `trustAnchorsPem`: one or more PEM certificates; throws std::runtime_error if none parses.
  explicit SignatureVerifier(std::string_view trustAnchorsPem,
                             AnchorUse use = AnchorUse::selfSignedRoots);

  // The verifier of the trust anchor(s) built in at compile time; nullptr when they do not parse
  // (then nothing verifies).
  static const SignatureVerifier* builtIn();

  // Never throws; every failure gives nullopt.
  std::optional<SealedBundle> check(const std::filesystem::path& url, std::string_view bundleId,
                                    std::string_view team) const;
  // The same, and on failure `problem` says in a few words why, for a trace (for a folder on the
  // way, which one and what is wrong with it: "/srv/shared: writable by others"); "" on success.
  std::optional<SealedBundle> check(const std::filesystem::path& url, std::string_view bundleId,
                                    std::string_view team, std::string& problem) const;
  // Whether check() succeeds.
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
