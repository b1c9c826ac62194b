#include "VeltraSuiteSetup/bundle/FileDigest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "TextKit/Hex.h"

namespace veltra {

FileDigester::FileDigester()
    // Fetched once: OpenSSL 3 would otherwise look the algorithm up again for every file.
    : sha256_(EVP_MD_fetch(nullptr, "SHA256", nullptr)), context_(EVP_MD_CTX_new()) {
  if (!sha256_ || !context_) throw std::runtime_error("SHA-256 is not available");
}

bool FileDigester::start() {
  return EVP_DigestInit_ex2(context_.get(), sha256_.get(), nullptr) == 1;
}

bool FileDigester::update(std::string_view bytes) {
  return EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1;
}

std::optional<Digest> FileDigester::finish() {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1 || length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

std::optional<Digest> FileDigester::digest(int fd) {
  if (!start()) return std::nullopt;
  while (true) {
    const ssize_t got = ::read(fd, buffer_.data(), buffer_.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return finish();
    if (!update(std::string_view(buffer_.data(), static_cast<std::size_t>(got)))) {
      return std::nullopt;
    }
  }
}

std::optional<Digest> FileDigester::digest(std::string_view bytes) {
  if (!start() || !update(bytes)) return std::nullopt;
  return finish();
}

std::string toHex(const Digest& digest) {
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const unsigned char byte : digest)
    textkit::appendHexByte(hex, byte, textkit::HexDigits::lower);
  return hex;
}

std::optional<Digest> fromHex(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  // Upper case is not the manifest's form.
  const std::optional<std::string> bytes = textkit::hexDecoded(hex, textkit::HexDigits::lower);
  if (!bytes) return std::nullopt;
  Digest digest{};
  std::copy(bytes->begin(), bytes->end(), digest.begin());
  return digest;
}

}  // namespace veltra
