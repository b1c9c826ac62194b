// SHA-256 of the files of a bundle, streamed through open descriptors in fixed-size pieces.
//
//   veltra::FileDigester digester;                        // one per thread, reused for every file
//   std::optional<veltra::Digest> digest = digester.digest(fd);
//   std::string hex = veltra::toHex(*digest);             // 64 lower-case hex digits
//
// A FileDigester keeps one digest context and a read buffer, so that hashing many small files
// costs no allocation per file. Not thread-safe per object; the free functions are.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "VeltraSuiteSetup/bundle/OpenSslPtr.h"

namespace veltra {

using Digest = std::array<unsigned char, 32>;

class FileDigester {
 public:
  // Throws std::runtime_error when OpenSSL cannot set up SHA-256.
  FileDigester();

  // The SHA-256 of the bytes of `fd` from its current offset to its end; nullopt on a read error.
  std::optional<Digest> digest(int fd);
  // The SHA-256 of `bytes`.
  std::optional<Digest> digest(std::string_view bytes);

  // Starts a digest fed piece by piece with update(); finish() gives it.
  bool start();
  bool update(std::string_view bytes);
  std::optional<Digest> finish();

 private:
  EvpMdPtr sha256_;
  EvpMdCtxPtr context_;
  std::array<char, 65536> buffer_{};
};

// 64 lower-case hex digits.
std::string toHex(const Digest& digest);
// The digest of 64 lower-case hex digits; nullopt for anything else.
std::optional<Digest> fromHex(std::string_view hex);

}  // namespace veltra
