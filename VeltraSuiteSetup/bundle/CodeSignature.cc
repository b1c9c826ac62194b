#include "VeltraSuiteSetup/bundle/CodeSignature.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "VeltraSuiteSetup/bundle/BundleManifest.h"

namespace veltra {
namespace {

constexpr std::size_t kMaxManifestSize = 16 * 1024 * 1024;
constexpr std::size_t kMaxSignatureSize = 1024 * 1024;

struct Target {
  std::filesystem::path bundle;
  std::optional<std::string> requiredFile;  // relative to the bundle, "/"-separated
};

std::optional<Target> locate(const std::filesystem::path& url) {
  struct stat info {};
  if (::lstat(url.c_str(), &info) != 0) return std::nullopt;
  const std::filesystem::path normal = url.lexically_normal();
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

bool isCodeSigningLeaf(X509* certificate, std::string_view team) {
  if (!hasCodeSigningUsage(certificate)) return false;
  const auto unit = singleOrganisationalUnit(certificate);
  return unit && *unit == team;
}

// Leaves OpenSSL's per-thread error queue empty whatever happened.
struct ErrorQueueCleaner {
  ~ErrorQueueCleaner() { ERR_clear_error(); }
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

bool SignatureVerifier::verify(const std::filesystem::path& url, std::string_view bundleId,
                               std::string_view team) const {
  const ErrorQueueCleaner cleaner;
  try {
    const auto target = locate(url);
    if (!target) return false;
    const auto manifestBytes = readSmallFile(target->bundle / kManifestPath, kMaxManifestSize);
    const auto signatureBytes = readSmallFile(target->bundle / kSignaturePath, kMaxSignatureSize);
    if (!manifestBytes || !signatureBytes) return false;

    // 1. The signature over the manifest, and the signer's chain to a built-in anchor.
    const BioPtr signatureBio(
        BIO_new_mem_buf(signatureBytes->data(), static_cast<int>(signatureBytes->size())));
    if (!signatureBio) return false;
    const CmsPtr cms(d2i_CMS_bio(signatureBio.get(), nullptr));
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        CMS_is_detached(cms.get()) != 1 ||
        sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1) {
      return false;
    }
    // CMS_verify copies the bytes of a memory BIO into a BIO of its own and, in OpenSSL 3.0,
    // loses that copy when the signature names a digest it cannot set up: a buffering filter in
    // front of the memory BIO spares the copy, so a forged signature cannot leak memory.
    const BioPtr content(BIO_new(BIO_f_buffer()));
    BioPtr manifestBio(
        BIO_new_mem_buf(manifestBytes->data(), static_cast<int>(manifestBytes->size())));
    if (!content || !manifestBio) return false;
    BIO_push(content.get(), manifestBio.release());  // the chain owns it from here
    // The chain is checked below against our store alone, with validity times ignored.
    if (CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
      return false;
    }
    // The stack is ours, the certificates in it belong to the CMS object.
    struct ShallowStackFree {
      void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_free(stack); }
    };
    const std::unique_ptr<STACK_OF(X509), ShallowStackFree> signers(CMS_get0_signers(cms.get()));
    if (!signers || sk_X509_num(signers.get()) != 1) return false;
    X509* leaf = sk_X509_value(signers.get(), 0);
    const X509StackPtr untrusted(CMS_get1_certs(cms.get()));
    const X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store_.get(), leaf, untrusted.get()) != 1) {
      return false;
    }
    X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(context.get()),
                                use_ == AnchorUse::anyCertificate
                                    ? X509_V_FLAG_NO_CHECK_TIME | X509_V_FLAG_PARTIAL_CHAIN
                                    : X509_V_FLAG_NO_CHECK_TIME);
    if (X509_verify_cert(context.get()) != 1) return false;

    // 2. A code-signing certificate of the team.
    if (!isCodeSigningLeaf(leaf, team)) return false;

    // 3. Signed for this app.
    const auto manifest = BundleManifest::decoded(*manifestBytes);
    if (!manifest || manifest->identifier != bundleId) return false;
    if (target->requiredFile && !manifest->files.contains(*target->requiredFile)) return false;

    // 4. Nothing added, removed, changed or linked.
    return sealIntact(target->bundle, *manifest);
  } catch (...) {
    return false;
  }
}

}  // namespace veltra
