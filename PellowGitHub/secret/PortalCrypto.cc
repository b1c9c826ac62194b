// seal() and open() of the portal interface (PortalModuleABI.h): AES-256-GCM under a key that
// HKDF-SHA256 derives from the portal's secret.
//
// Why these choices: the portal's secret is 64 random bytes meant as key material, not a key,
// so it goes through HKDF with an info string naming this one use (another use of the same app
// secret gets an unrelated key). GCM authenticates the nonce-carrying header through the
// associated data as well, so a file swapped between items or versions fails like a tampered
// one. A random 96-bit nonce per write is safe for the few thousand writes an item sees.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "PellowGitHub/secret/PortalCrypto.h"

namespace {

constexpr unsigned char kVersion = 1;
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;
constexpr char kInfo[] = "Pellow GitHub credential, AES-256-GCM, version 1";

struct CipherFree {
  void operator()(EVP_CIPHER_CTX* context) const noexcept { EVP_CIPHER_CTX_free(context); }
};
struct KdfFree {
  void operator()(EVP_KDF* kdf) const noexcept { EVP_KDF_free(kdf); }
};
struct KdfContextFree {
  void operator()(EVP_KDF_CTX* context) const noexcept { EVP_KDF_CTX_free(context); }
};

// Key material wiped when it goes out of scope, whatever the path out.
template <std::size_t N>
struct WipedBytes {
  std::array<unsigned char, N> bytes{};
  ~WipedBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

struct WipedBuffer {
  std::vector<unsigned char> bytes;
  ~WipedBuffer() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  }
};

bool deriveKey(PellowPortalBytes secret, WipedBytes<kKeySize>& key) {
  if (secret.size == 0) return false;
  const std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  if (!kdf) return false;
  const std::unique_ptr<EVP_KDF_CTX, KdfContextFree> context(EVP_KDF_CTX_new(kdf.get()));
  if (!context) return false;
  char digest[] = "SHA256";
  const std::array<OSSL_PARAM, 4> parameters{
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(secret.data),
                                        secret.size),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(kInfo),
                                        sizeof kInfo - 1),
      OSSL_PARAM_construct_end()};
  return EVP_KDF_derive(context.get(), key.bytes.data(), key.bytes.size(), parameters.data()) == 1;
}

int intSize(std::size_t size) { return size > 0x7fffffff ? -1 : static_cast<int>(size); }

// Starts AES-256-GCM in `encrypt` direction with the key, the nonce and the associated data.
std::unique_ptr<EVP_CIPHER_CTX, CipherFree> start(bool encrypt, const WipedBytes<kKeySize>& key,
                                                  const unsigned char* nonce,
                                                  PellowPortalBytes associated) {
  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> context(EVP_CIPHER_CTX_new());
  int written = 0;
  if (!context || intSize(associated.size) < 0 ||
      EVP_CipherInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt) !=
          1 ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
      EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.bytes.data(), nonce, encrypt) != 1 ||
      (associated.size > 0 && EVP_CipherUpdate(context.get(), nullptr, &written, associated.data,
                                               intSize(associated.size)) != 1)) {
    return nullptr;
  }
  return context;
}

int32_t seal(PellowPortalBytes secret, PellowPortalBytes associated, PellowPortalBytes plaintext,
             void* context, void (*sealed_out)(void*, PellowPortalBytes)) {
  try {
    if (intSize(plaintext.size) < 0) return PELLOW_PORTAL_CRYPTO_FAILED;
    WipedBytes<kKeySize> key;
    if (!deriveKey(secret, key)) return PELLOW_PORTAL_CRYPTO_FAILED;
    std::vector<unsigned char> sealed(PELLOW_PORTAL_SEAL_OVERHEAD + plaintext.size);
    sealed[0] = kVersion;
    unsigned char* nonce = sealed.data() + 1;
    if (RAND_bytes(nonce, kNonceSize) != 1) return PELLOW_PORTAL_CRYPTO_FAILED;
    const auto cipher = start(true, key, nonce, associated);
    if (!cipher) return PELLOW_PORTAL_CRYPTO_FAILED;
    unsigned char* out = nonce + kNonceSize;
    int written = 0;
    int finished = 0;
    if ((plaintext.size > 0 && EVP_EncryptUpdate(cipher.get(), out, &written, plaintext.data,
                                                 intSize(plaintext.size)) != 1) ||
        EVP_EncryptFinal_ex(cipher.get(), out + written, &finished) != 1 ||
        static_cast<std::size_t>(written + finished) != plaintext.size ||
        EVP_CIPHER_CTX_ctrl(cipher.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, out + plaintext.size) !=
            1) {
      return PELLOW_PORTAL_CRYPTO_FAILED;
    }
    sealed_out(context, PellowPortalBytes{sealed.data(), sealed.size()});
    return PELLOW_PORTAL_SEALED;
  } catch (...) {
    return PELLOW_PORTAL_CRYPTO_FAILED;
  }
}

int32_t open(PellowPortalBytes secret, PellowPortalBytes associated, PellowPortalBytes sealed,
             void* context, void (*plaintext_out)(void*, PellowPortalBytes)) {
  try {
    if (sealed.size < PELLOW_PORTAL_SEAL_OVERHEAD || sealed.data[0] != kVersion) {
      return PELLOW_PORTAL_NOT_AUTHENTIC;
    }
    const std::size_t size = sealed.size - PELLOW_PORTAL_SEAL_OVERHEAD;
    if (intSize(size) < 0) return PELLOW_PORTAL_NOT_AUTHENTIC;
    WipedBytes<kKeySize> key;
    if (!deriveKey(secret, key)) return PELLOW_PORTAL_CRYPTO_FAILED;
    const unsigned char* nonce = sealed.data + 1;
    const unsigned char* in = nonce + kNonceSize;
    std::array<unsigned char, kTagSize> tag{};
    std::memcpy(tag.data(), in + size, kTagSize);
    const auto cipher = start(false, key, nonce, associated);
    if (!cipher) return PELLOW_PORTAL_CRYPTO_FAILED;
    WipedBuffer plaintext;
    plaintext.bytes.resize(size + 1);  // never empty: data() of an empty vector may be null
    int written = 0;
    int finished = 0;
    if ((size > 0 && EVP_DecryptUpdate(cipher.get(), plaintext.bytes.data(), &written, in,
                                       intSize(size)) != 1) ||
        EVP_CIPHER_CTX_ctrl(cipher.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) != 1) {
      return PELLOW_PORTAL_CRYPTO_FAILED;
    }
    // The tag is checked here; nothing decrypted leaves before it passed.
    if (EVP_DecryptFinal_ex(cipher.get(), plaintext.bytes.data() + written, &finished) != 1 ||
        static_cast<std::size_t>(written + finished) != size) {
      return PELLOW_PORTAL_NOT_AUTHENTIC;
    }
    plaintext_out(context, PellowPortalBytes{plaintext.bytes.data(), size});
    return PELLOW_PORTAL_SEALED;
  } catch (...) {
    return PELLOW_PORTAL_CRYPTO_FAILED;
  }
}

}  // namespace

// Declared in PortalCrypto.h for PortalModule.cc, which builds the module's table.
extern "C" {
int32_t pellow_portal_seal(PellowPortalBytes secret, PellowPortalBytes associated,
                           PellowPortalBytes plaintext, void* context,
                           void (*sealed_out)(void*, PellowPortalBytes)) {
  return seal(secret, associated, plaintext, context, sealed_out);
}
int32_t pellow_portal_open(PellowPortalBytes secret, PellowPortalBytes associated,
                           PellowPortalBytes sealed, void* context,
                           void (*plaintext_out)(void*, PellowPortalBytes)) {
  return open(secret, associated, sealed, context, plaintext_out);
}
}
