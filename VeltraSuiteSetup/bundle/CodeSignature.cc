#include "VeltraSuiteSetup/bundle/CodeSignature.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "TextKit/BoundedRead.h"
#include "VeltraSuiteSetup/bundle/BundlePath.h"
#include "VeltraSuiteSetup/bundle/ManifestReader.h"
#include "VeltraSuiteSetup/bundle/SealCheck.h"

namespace veltra {

using privatefiles::UniqueFd;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxManifestSize = 16 * 1024 * 1024;
constexpr std::size_t kMaxSignatureSize = 1024 * 1024;
// OpenSSL's level 2: 112 bits of security for every key and certificate signature of the
// chain, which leaves out SHA-1 and MD5 signatures and RSA keys below 2048 bits.
constexpr int kChainSecurityLevel = 2;

struct Target {
  fs::path bundle;
  std::optional<std::string> requiredFile;  // relative to the bundle, "/"-separated
};

std::optional<Target> locate(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
  const fs::path normal = path.lexically_normal();
  if (S_ISDIR(info.st_mode)) return Target{normal, std::nullopt};
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  for (auto folder = normal.parent_path(); folder != folder.root_path() && !folder.empty();
       folder = folder.parent_path()) {
    if (folder.filename().string().ends_with(".app")) {
      return Target{folder, normal.lexically_relative(folder).generic_string()};
    }
  }
  return std::nullopt;
}

// A signature file of the bundle, opened below it without links, judged like every entry.
UniqueFd openSignatureFile(int bundle, std::string_view relative, std::size_t limit,
                           struct stat& info) {
  UniqueFd fd = openBelow(bundle, std::string(relative), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || !sealedEntry(info) ||
      info.st_size < 0 || static_cast<std::size_t>(info.st_size) > limit) {
    return {};
  }
  return fd;
}

// The `size` bytes that fstat counted; nothing when the file holds more or fewer by now (it is
// being changed) or cannot be read.
std::optional<std::string> readAll(int fd, std::size_t size) {
  textkit::ReadResult read = textkit::readAll(fd, size, size);
  if (read.status != textkit::ReadStatus::complete || read.bytes.size() != size) {
    return std::nullopt;
  }
  return std::move(read.bytes);
}

bool isCodeSigningLeaf(X509* certificate, std::string_view team) {
  if (!hasCodeSigningUsage(certificate)) return false;
  const auto unit = singleOrganisationalUnit(certificate);
  return unit && *unit == team;
}

bool strongDigest(int nid) {
  switch (nid) {
    case NID_sha256:
    case NID_sha384:
    case NID_sha512:
    case NID_sha512_256:
    case NID_sha3_256:
    case NID_sha3_384:
    case NID_sha3_512:
      return true;
    default:
      return false;
  }
}

int algorithm(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  return OBJ_obj2nid(object);
}

// The signer's message digest, and the digest its signature algorithm names where it names one
// (ecdsa-with-SHA1, sha1WithRSAEncryption), must both be SHA-256 or stronger.
bool strongAlgorithms(CMS_SignerInfo* signer) {
  X509_ALGOR* digest = nullptr;
  X509_ALGOR* signature = nullptr;
  CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, &signature);
  if (digest == nullptr || signature == nullptr || !strongDigest(algorithm(digest))) return false;
  int signatureDigest = NID_undef;
  int key = NID_undef;
  if (OBJ_find_sigid_algs(algorithm(signature), &signatureDigest, &key) == 1 &&
      signatureDigest != NID_undef && !strongDigest(signatureDigest)) {
    return false;
  }
  return true;
}

// Leaves OpenSSL's per-thread error queue empty whatever happened.
struct ErrorQueueCleaner {
  ~ErrorQueueCleaner() { ERR_clear_error(); }
};

// The stack is ours, the certificates in it belong to the CMS object.
struct ShallowStackFree {
  void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
};

}  // namespace

std::optional<std::string> singleOrganisationalUnit(X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  const int index = X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, -1);
  if (index < 0 || X509_NAME_get_index_by_NID(subject, NID_organizationalUnitName, index) >= 0) {
    return std::nullopt;  // none, or ambiguous
  }
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, data);
  if (length < 0) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

bool hasCodeSigningUsage(X509* certificate) {
  return (X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) != 0;
}

SignatureVerifier::SignatureVerifier(std::string_view trustAnchorsPem, AnchorUse use)
    : store_(X509_STORE_new()), use_(use) {
  const ErrorQueueCleaner cleaner;
  if (!store_) throw std::runtime_error("cannot create a certificate store");
  const BioPtr bio(
      BIO_new_mem_buf(trustAnchorsPem.data(), static_cast<int>(trustAnchorsPem.size())));
  int added = 0;
  while (bio) {
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) break;
    if (X509_STORE_add_cert(store_.get(), certificate.get()) == 1) ++added;
  }
  if (added == 0) throw std::runtime_error("no trust anchor certificate");
}

const SignatureVerifier* SignatureVerifier::builtIn() {
  static const std::unique_ptr<SignatureVerifier> verifier =
      []() -> std::unique_ptr<SignatureVerifier> {
    try {
      return std::make_unique<SignatureVerifier>(builtInTrustAnchors());
    } catch (...) {
      return nullptr;  // an unusable anchor trusts nothing
    }
  }();
  return verifier.get();
}

bool SignatureVerifier::verify(const fs::path& url, std::string_view bundleId,
                               std::string_view team) const {
  return check(url, bundleId, team).has_value();
}

std::optional<SealedBundle> SignatureVerifier::check(const fs::path& url, std::string_view bundleId,
                                                     std::string_view team) const {
  std::string problem;
  return check(url, bundleId, team, problem);
}

std::optional<SealedBundle> SignatureVerifier::check(const fs::path& url, std::string_view bundleId,
                                                     std::string_view team,
                                                     std::string& problem) const {
  const ErrorQueueCleaner cleaner;
  problem.clear();
  try {
    // One path from here on: the one resolved now is what is opened, checked and reported.
    fs::path path = resolvedPath(url);
    const auto target = locate(path);
    if (!target) {
      problem = path.string() + ": not a bundle or a file in one";
      return std::nullopt;
    }
    // Every folder above the bundle, not only its holder: an app finds its own files relative to
    // its folder after it starts, and whoever can swap a folder on the way chooses those files.
    UniqueFd bundle = openInSafeFolders(target->bundle, O_RDONLY | O_DIRECTORY, nullptr, problem);
    if (!bundle) {
      if (problem.empty()) problem = target->bundle.string() + ": cannot open";
      return std::nullopt;
    }
    // The reason for the quieter refusals below; the others name their own.
    problem = "the signature is unreadable or malformed";
    struct stat manifestInfo {};
    struct stat signatureInfo {};
    const UniqueFd manifest =
        openSignatureFile(bundle.get(), kManifestPath, kMaxManifestSize, manifestInfo);
    const UniqueFd signatureFile =
        openSignatureFile(bundle.get(), kSignaturePath, kMaxSignatureSize, signatureInfo);
    if (!manifest || !signatureFile) {
      problem = "signature files missing or open to others";
      return std::nullopt;
    }
    const auto signatureBytes =
        readAll(signatureFile.get(), static_cast<std::size_t>(signatureInfo.st_size));
    if (!signatureBytes) return std::nullopt;

    // 1. The signature over the manifest, and the signer's chain to a built-in anchor.
    const BioPtr signatureBio(
        BIO_new_mem_buf(signatureBytes->data(), static_cast<int>(signatureBytes->size())));
    if (!signatureBio) return std::nullopt;
    const CmsPtr cms(d2i_CMS_bio(signatureBio.get(), nullptr));
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        CMS_is_detached(cms.get()) != 1 ||
        sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1 ||
        !strongAlgorithms(sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0))) {
      return std::nullopt;
    }
    // The manifest is streamed from its descriptor, never held whole.
    const BioPtr content(BIO_new_fd(manifest.get(), BIO_NOCLOSE));
    if (!content) return std::nullopt;
    // The chain is checked below against our store alone, with validity times ignored.
    if (CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
      problem = "the signature does not verify over the manifest";
      return std::nullopt;
    }
    const std::unique_ptr<STACK_OF(X509), ShallowStackFree> signers(CMS_get0_signers(cms.get()));
    if (!signers || sk_X509_num(signers.get()) != 1) return std::nullopt;
    X509* leaf = sk_X509_value(signers.get(), 0);
    const X509StackPtr untrusted(CMS_get1_certs(cms.get()));
    const X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store_.get(), leaf, untrusted.get()) != 1) {
      return std::nullopt;
    }
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_flags(parameters,
                                use_ == AnchorUse::anyCertificate
                                    ? X509_V_FLAG_NO_CHECK_TIME | X509_V_FLAG_PARTIAL_CHAIN
                                    : X509_V_FLAG_NO_CHECK_TIME);
    X509_VERIFY_PARAM_set_auth_level(parameters, kChainSecurityLevel);
    if (X509_verify_cert(context.get()) != 1) {
      problem = "the signer does not chain to a trusted anchor";
      return std::nullopt;
    }

    // 2. A code-signing certificate of the team.
    if (!isCodeSigningLeaf(leaf, team)) {
      problem = "the signer is not a code-signing certificate of the team";
      return std::nullopt;
    }

    // 3. Signed for this app. The manifest is read again from the same descriptor; only its
    // owner or root could have changed it in between (openSignatureFile judged it), and either
    // could change the bundle at will anyway.
    if (::lseek(manifest.get(), 0, SEEK_SET) != 0) return std::nullopt;
    const auto index =
        ManifestIndex::read(manifest.get(), static_cast<std::size_t>(manifestInfo.st_size));
    if (!index || index->identifier() != bundleId) {
      problem = "the manifest is not signed for this app";
      return std::nullopt;
    }
    if (target->requiredFile && index->find(*target->requiredFile) == nullptr) {
      problem = *target->requiredFile + ": not sealed";
      return std::nullopt;
    }

    // 4. Nothing added, removed, changed, linked or open to others.
    auto sealed = checkSeal(std::move(bundle), *index, problem);
    if (!sealed) return std::nullopt;
    problem.clear();
    return SealedBundle{std::move(path), std::move(sealed->info), std::move(sealed->executable)};
  } catch (...) {
    problem = "the check failed";
    return std::nullopt;
  }
}

}  // namespace veltra
