// The records that GitHub's OAuth endpoints answer with, decoded strictly from JSON text.
//
//   TokenResponse token = TokenResponse::decode(result.body);
//   if (token.error) ...
//
// Decoding rules: the body must be a JSON object (valid UTF-8); unknown keys are ignored; a
// required key that is missing, null or of the wrong type fails; an optional key may be missing
// or null, and fails when present with the wrong type. Strings must be JSON strings. Integers
// are JSON numbers with an integral value that fits 64 bits (28800 and 28800.0 alike).
// Failures throw DecodingError, which is not a PellowError: the command layer reports it with
// its generic message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TextKit/DecodingError.h"

namespace pellow {

// The decoders' error of both libraries (TextKit/DecodingError.h).
using DecodingError = textkit::DecodingError;

// The answer of POST /login/device/code.
struct CodeResponse {
  std::string deviceCode;       // "device_code"
  std::string userCode;         // "user_code"
  std::string verificationURI;  // "verification_uri"
  std::int64_t expiresIn = 0;   // "expires_in", seconds
  std::int64_t interval = 0;    // "interval", seconds

  static CodeResponse decode(std::string_view body);
};

// The answer of POST /login/oauth/access_token (both grants), and GitHub's OAuth error object.
// GitHub once documented a renewal answer with "expires_in" and "refresh_token_expires_in" as
// decimal strings ("28800"); those two lifetimes also accept a string of ASCII digits, so that
// such an answer does not throw away a freshly issued token. "interval" stays a JSON number.
struct TokenResponse {
  std::optional<std::string> accessToken;             // "access_token"
  std::optional<std::string> tokenType;               // "token_type"
  std::optional<std::int64_t> expiresIn;              // "expires_in"
  std::optional<std::string> refreshToken;            // "refresh_token"
  std::optional<std::int64_t> refreshTokenExpiresIn;  // "refresh_token_expires_in"
  std::optional<std::string> error;                   // "error"
  std::optional<std::int64_t> interval;               // "interval"

  static TokenResponse decode(std::string_view body);
};

// The answer of GET /user (only the two keys the helper keeps).
struct User {
  std::int64_t id = 0;  // "id"
  std::string login;    // "login"

  static User decode(std::string_view body);
};

}  // namespace pellow
