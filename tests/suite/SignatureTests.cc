#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "VeltraSuiteSetup/VeltraSuiteSetup.h"
#include "VeltraSuiteSetup/bundle/BundleManifest.h"
#include "VeltraSuiteSetup/bundle/CodeSignature.h"
#include "tests/suite/SuiteTestSupport.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
namespace S = VeltraSuiteSetup;
using namespace test::ids;

struct SignatureCase {
  const char* name;
  // Makes and signs a bundle in `folder`; returns the path to verify.
  std::function<fs::path(const fs::path& folder)> make;
  bool expected;
  const char* verifyAs = kSorel;
  bool needsRoot = false;  // gives files to another user
};
void PrintTo(const SignatureCase& c, std::ostream* out) { *out << c.name; }

fs::path signedSorel(const fs::path& folder) {
  const fs::path bundle = test::makeBundle(folder, "Sorel", kSorel);
  test::codesign(bundle, test::pki().suiteTeam);
  return bundle;
}

// A Sorel bundle signed by the openssl command line with `signer` and `digest`: openssl signs
// with any certificate and digest, where veltra-codesign refuses what would not verify.
std::function<fs::path(const fs::path&)> opensslSigned(const test::Signer& signer,
                                                       const std::string& digest = "sha256") {
  return [&signer, digest](const fs::path& f) {
    const fs::path b = test::makeBundle(f, "Sorel", kSorel);
    test::codesignWithOpensslCli(b, signer, digest);
    return b;
  };
}

// A genuine bundle, then `mode` given to `entry` (relative to the bundle).
std::function<fs::path(const fs::path&)> withMode(const std::string& entry, fs::perms mode) {
  return [entry, mode](const fs::path& f) {
    const fs::path b = signedSorel(f);
    fs::permissions(entry.empty() ? b : b / entry, mode);
    return b;
  };
}

// A genuine bundle in a folder "holder" of `mode` (and given to nobody with `giveAway`).
std::function<fs::path(const fs::path&)> inHolder(fs::perms mode, bool giveAway = false) {
  return [mode, giveAway](const fs::path& f) {
    fs::create_directory(f / "holder");
    const fs::path b = signedSorel(f / "holder");
    fs::permissions(f / "holder", mode);
    if (giveAway && !testkit::giveAway(f / "holder")) throw std::runtime_error("not root");
    return b;
  };
}

// A genuine bundle with `entry` given to the user nobody.
std::function<fs::path(const fs::path&)> givenAway(const std::string& entry) {
  return [entry](const fs::path& f) {
    const fs::path b = signedSorel(f);
    if (!testkit::giveAway(entry.empty() ? b : b / entry)) throw std::runtime_error("not root");
    return b;
  };
}

std::vector<SignatureCase> signatureCases() {
  using test::pki;
  return {
      {"SignedByTool", signedSorel, true},
      {"SignedByOpensslCli", opensslSigned(pki().suiteTeam), true},
      {"ExecutableInsideBundle",
       [](const fs::path& f) { return signedSorel(f) / "Contents/MacOS/Sorel"; }, true},
      {"SignatureFileIsNotSealed",
       [](const fs::path& f) {
         return signedSorel(f) / "Contents/_CodeSignature/CodeResources.json";
       },
       false},
      {"OtherTeam",
       [](const fs::path& f) {
         const fs::path b = test::makeBundle(f, "Sorel", kSorel);
         test::codesign(b, pki().otherTeam);
         return b;
       },
       false},
      {"UntrustedRoot",
       [](const fs::path& f) {
         const fs::path b = test::makeBundle(f, "Sorel", kSorel);
         test::codesign(b, pki().untrustedRoot);
         return b;
       },
       false},
      {"NoCodeSigningUsage", opensslSigned(pki().noCodeSigning), false},
      {"ChainMissing",
       [](const fs::path& f) {
         const fs::path b = test::makeBundle(f, "Sorel", kSorel);
         test::codesign(b, {pki().suiteTeam.key, pki().suiteTeam.cert, {}});
         return b;
       },
       false},
      {"WrongIdentifier",
       [](const fs::path& f) {
         const fs::path b = test::makeBundle(f, "Sorel", kSorel);
         test::codesign(b, pki().suiteTeam, "com.pemberhollo.kesta");
         return b;
       },
       false},
      {"ChangedResourceByte",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         std::string text = testkit::readFile(b / "Contents/Resources/strings.txt");
         text[0] ^= 1;
         testkit::writeFile(b / "Contents/Resources/strings.txt", text);
         return b;
       },
       false},
      {"AddedFile",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         testkit::writeFile(b / "Contents/Resources/extra.txt", "x");
         return b;
       },
       false},
      {"AddedEmptyFileAtTop",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         testkit::writeFile(b / ".hidden", "");
         return b;
       },
       false},
      {"RemovedFile",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::remove(b / "Contents/Resources/strings.txt");
         return b;
       },
       false},
      {"SymlinkInside",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::create_symlink("strings.txt", b / "Contents/Resources/alias.txt");
         return b;
       },
       false},
      {"ListedFileReplacedBySymlink",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::rename(b / "Contents/Resources/strings.txt", f / "outside.txt");
         fs::create_symlink(f / "outside.txt", b / "Contents/Resources/strings.txt");
         return b;
       },
       false},
      {"FifoInside",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         ::mkfifo((b / "Contents/Resources/pipe").c_str(), 0600);
         return b;
       },
       false},
      {"MissingSignature",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::remove(b / kSignaturePath);
         return b;
       },
       false},
      {"ManifestEditedAfterSigning",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         testkit::writeFile(b / "Contents/Resources/strings.txt", "changed");
         // Re-seal without re-signing.
         testkit::writeFile(b / kManifestPath, BundleManifest::build(b, kSorel).encoded());
         return b;
       },
       false},
      {"SignatureOfAnotherBundle",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::create_directory(f / "other");
         const fs::path other = test::makeBundle(f / "other", "Sorel", kSorel);
         testkit::writeFile(other / "Contents/Resources/strings.txt", "different");
         test::codesign(other, pki().suiteTeam);
         fs::copy_file(other / kSignaturePath, b / kSignaturePath,
                       fs::copy_options::overwrite_existing);
         return b;
       },
       false},
      {"BundleIsSymlink",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         fs::create_symlink(b, f / "Alias.app");
         return f / "Alias.app";
       },
       false},
      {"PathDoesNotExist", [](const fs::path& f) { return f / "Nothing.app"; }, false},
      // A digest OpenSSL cannot set up; the sanitizer build also shows that nothing leaks.
      {"UnknownDigestAlgorithm",
       [](const fs::path& f) {
         const fs::path b = signedSorel(f);
         std::string signature = testkit::readFile(b / kSignaturePath);
         const std::string sha256Oid("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01", 11);
         const auto at = signature.find(sha256Oid);
         if (at == std::string::npos) throw std::runtime_error("signature without SHA-256");
         signature[at + sha256Oid.size() - 1] = '\x63';  // 2.16.840.1.101.3.4.2.99
         testkit::writeFile(b / kSignaturePath, signature);
         return b;
       },
       false},
      {"OutsideCatalogue",
       [](const fs::path& f) {
         const fs::path b = test::makeBundle(f, "Other", "com.example.other");
         test::codesign(b, pki().suiteTeam);
         return b;
       },
       false, "com.example.other"},
      // Digests: SHA-256 or stronger, in the signature and in the certificates.
      {"CmsWithSha1", opensslSigned(pki().suiteTeam, "sha1"), false},
      {"CmsWithSha384", opensslSigned(pki().suiteTeam, "sha384"), true},
      {"LeafCertificateSignedWithSha1", opensslSigned(pki().sha1Issued), false},
      // Modes that would let another user change what runs.
      {"GroupWritableFile", withMode("Contents/Resources/strings.txt", fs::perms(0664)), false},
      {"WorldWritableExecutable", withMode("Contents/MacOS/Sorel", fs::perms(0757)), false},
      {"WorldWritableFolder", withMode("Contents/Resources", fs::perms(0777)), false},
      {"GroupWritableBundleFolder", withMode("", fs::perms(0775)), false},
      {"WritableManifest", withMode(std::string(kManifestPath), fs::perms(0666)), false},
      {"SetuidExecutable", withMode("Contents/MacOS/Sorel", fs::perms(04755)), false},
      {"SetgidFolder", withMode("Contents/MacOS", fs::perms(02755)), false},
      {"ReadOnlyForEveryone", withMode("Contents/MacOS/Sorel", fs::perms(0555)), true},
      {"HolderWritableByOthers", inHolder(fs::perms(0777)), false},
      {"HolderWritableByGroup", inHolder(fs::perms(0775)), false},
      {"HolderStickyLikeTmp", inHolder(fs::perms(01777)), true},
      {"HolderOfAnotherUser", inHolder(fs::perms(0755), true), false, kSorel, true},
      {"FileOfAnotherUser", givenAway("Contents/Resources/strings.txt"), false, kSorel, true},
      {"BundleOfAnotherUser", givenAway(""), false, kSorel, true},
      // The path is resolved once, and what it resolves to is checked.
      {"ReachedThroughALinkedFolder",
       [](const fs::path& f) {
         signedSorel(f / "real");
         fs::create_directory_symlink("real", f / "linked");
         return f / "linked/Sorel.app";
       },
       true},
      {"DotDotAfterALink",
       [](const fs::path& f) {
         // good/link/.. is evil/ for the kernel, good/ for the text.
         signedSorel(f / "good");
         test::makeBundle(f / "evil", "Sorel", kSorel);
         fs::create_directories(f / "evil/sub");
         fs::create_directory_symlink("../evil/sub", f / "good/link");
         return f / "good/link/../Sorel.app";
       },
       false},
  };
}

class Signature : public testing::TestWithParam<SignatureCase> {};

TEST_P(Signature, Verifies) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  if (GetParam().needsRoot && ::geteuid() != 0) GTEST_SKIP() << "giving files away needs root";
  testkit::TemporaryFolder dir;
  const fs::path target = GetParam().make(dir.path());
  EXPECT_EQ(S::verified(target, GetParam().verifyAs), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bundles, Signature, testing::ValuesIn(signatureCases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(SignatureGate, CatalogueIsCheckedBeforeTheSignature) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  testkit::TemporaryFolder dir;
  const fs::path bundle = test::makeBundle(dir.path(), "Other", "com.example.other");
  test::codesign(bundle, test::pki().suiteTeam);
  // The signature itself is sound; only the catalogue refuses it.
  const SignatureVerifier verifier(builtInTrustAnchors());
  EXPECT_TRUE(verifier.verify(bundle, "com.example.other", S::team()));
  EXPECT_FALSE(S::verified(bundle, "com.example.other"));
}

TEST(SignatureGate, EveryCallChecksTheDiskAgain) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  testkit::TemporaryFolder dir;
  const fs::path bundle = signedSorel(dir.path());
  ASSERT_TRUE(S::verified(bundle, kSorel));
  testkit::writeFile(bundle / "Contents/MacOS/Sorel", "#!/bin/sh\nexit 1\n", 0755);
  EXPECT_FALSE(S::verified(bundle, kSorel));
}

TEST(SignatureGate, PermitsChecksTheRemoteCodeToo) {
  if (!test::haveDevelopmentAnchor()) GTEST_SKIP() << "built with a release trust anchor";
  testkit::TemporaryFolder dir;
  const fs::path registry = dir / "registry";
  fs::create_directory(registry);
  ::chmod(registry.c_str(), 0700);
  const fs::path bundle = signedSorel(dir.path());
  const fs::path executable = bundle / "Contents/MacOS/Sorel";
  const char* pellow = "com.pemberhollo.pellow";
  EXPECT_FALSE(S::permits(pellow, kSorel, executable, registry)) << "nothing approved yet";
  S::approvePair(pellow, kSorel, registry);
  EXPECT_TRUE(S::permits(pellow, kSorel, executable, registry));
  EXPECT_FALSE(S::permits(pellow, kSorel, dir / "missing", registry));
  EXPECT_FALSE(S::permits(kSorel, pellow, executable, registry)) << "remote's code is checked";
  testkit::writeFile(registry / ".suite-setup/consent-v1.json", "garbage", 0600);
  EXPECT_FALSE(S::permits(pellow, kSorel, executable, registry));
}

TEST(SignatureVerifierSetup, RefusesAnchorsWithoutCertificate) {
  EXPECT_THROW(SignatureVerifier("not a certificate"), std::runtime_error);
}

}  // namespace
}  // namespace veltra
