#include "PellowGitHub/net/UnicodeICU.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/udat.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace pellow::net {
namespace {

constexpr std::size_t kFailed = std::numeric_limits<std::size_t>::max();

struct BreakIteratorDeleter {
  void operator()(UBreakIterator* iterator) const noexcept { ubrk_close(iterator); }
};
struct TextDeleter {
  void operator()(UText* text) const noexcept { utext_close(text); }
};
struct DateFormatDeleter {
  void operator()(UDateFormat* format) const noexcept { udat_close(format); }
};

}  // namespace

bool isAlphanumeric(std::uint32_t codePoint) noexcept {
  if (codePoint > 0x10FFFF) return false;
  const auto mask = U_GET_GC_MASK(static_cast<UChar32>(codePoint));
  return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

std::size_t graphemeCount(const char* utf8, std::size_t size) noexcept {
  if (size == 0) return 0;
  // Break positions are 32-bit in ICU.
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return kFailed;
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UText, TextDeleter> text(
      utext_openUTF8(nullptr, utf8, static_cast<int64_t>(size), &status));
  // The root locale: cluster boundaries do not depend on the user's language.
  const std::unique_ptr<UBreakIterator, BreakIteratorDeleter> iterator(
      ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
  if (U_FAILURE(status)) return kFailed;
  ubrk_setUText(iterator.get(), text.get(), &status);
  if (U_FAILURE(status)) return kFailed;
  std::size_t count = 0;
  ubrk_first(iterator.get());
  while (ubrk_next(iterator.get()) != UBRK_DONE) ++count;
  return count;
}

std::size_t formatShortTime(double secondsSince1970, char* out, std::size_t capacity) noexcept {
  UErrorCode status = U_ZERO_ERROR;
  // No locale and no zone: ICU's defaults, which follow the user's environment.
  const std::unique_ptr<UDateFormat, DateFormatDeleter> format(
      udat_open(UDAT_SHORT, UDAT_NONE, nullptr, nullptr, -1, nullptr, -1, &status));
  if (U_FAILURE(status)) return kFailed;
  const UDate date = secondsSince1970 * 1000.0;

  UChar small[64];
  int32_t length = udat_format(format.get(), date, small, 64, nullptr, &status);
  const UChar* utf16 = small;
  std::vector<UChar> large;
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    try {
      large.resize(static_cast<std::size_t>(length));
    } catch (...) {
      return kFailed;
    }
    status = U_ZERO_ERROR;
    length = udat_format(format.get(), date, large.data(), length, nullptr, &status);
    utf16 = large.data();
  }
  if (U_FAILURE(status)) return kFailed;

  // The first call measures; the second writes what fits.
  int32_t utf8Length = 0;
  u_strToUTF8(nullptr, 0, &utf8Length, utf16, length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return kFailed;
  const auto full = static_cast<std::size_t>(utf8Length);
  if (capacity >= full && out != nullptr) {
    status = U_ZERO_ERROR;
    u_strToUTF8(out, static_cast<int32_t>(full), nullptr, utf16, length, &status);
    // A result that exactly fills the buffer reports a missing terminator, not a failure.
    if (U_FAILURE(status)) return kFailed;
  }
  return full;
}

}  // namespace pellow::net
