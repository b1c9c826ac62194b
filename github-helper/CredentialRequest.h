// git's credential request as the helper reads it: key=value lines on standard input, of which
// only "protocol", "host" and "path" matter. Anything that is not plainly a request for an HTTPS
// GitHub repository gets no answer at all, so that git goes on as if this helper had none.
//
//   std::string text = decodeUTF8WithReplacement(input);
//   std::optional<CredentialAttributes> attributes = parseCredentialAttributes(text);
//   if (attributes && isGitHubRequest(*attributes)) answer(...);
//
// Rules: lines are split at line feeds only (a carriage return stays part of its line), empty
// lines are skipped, a line without "=" or a key given twice ends the request unanswered. Keys
// ending in "[]" are git's array attributes ("capability[]", "wwwauth[]", ...): they may repeat,
// as git 2.46 and later repeat "capability[]" in every request, and are ignored.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "PellowGitHub/support/UTF8.h"  // decodeUTF8WithReplacement

namespace pellow {

// The most that is read from git; a longer request gets no answer.
inline constexpr std::size_t kGitCredentialInputLimit = 16384;

using CredentialAttributes = std::map<std::string, std::string, std::less<>>;

// The attribute table of `text`, or nothing when the request must stay unanswered (a line
// without "=", a repeated key that is not an array attribute).
std::optional<CredentialAttributes> parseCredentialAttributes(std::string_view text);

// Whether the table asks for an HTTPS repository on the GitHub web host: "protocol" exactly
// "https", "host" equal to the web host name once in lower case (so no port), and "path" an
// accepted repository reference. Touches neither the keychain nor the network.
bool isGitHubRequest(const CredentialAttributes& attributes);

// Whether `token` holds a line break (U+000A-U+000D, U+0085, U+2028, U+2029) or U+0000, any of
// which would let it break out of its "password=" line.
bool containsLineBreakOrNUL(std::string_view token);

}  // namespace pellow
