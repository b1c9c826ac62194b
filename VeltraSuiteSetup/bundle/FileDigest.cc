#include "VeltraSuiteSetup/bundle/FileDigest.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>

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
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const unsigned char byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0x0f]);
  }
  return hex;
}

std::optional<Digest> fromHex(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case is not the manifest's form
  };
  Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = nibble(hex[2 * i]);
    const int low = nibble(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return digest;
}

}  // namespace veltra
