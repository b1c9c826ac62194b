// Date: an absolute point in time as a double number of seconds since the reference instant
// 2001-01-01T00:00:00Z, the form in which credential timestamps are stored.
//
//   Date now = clock.now();   // Clock.h
//   Date later = now + 60.0;
//   if (credential.expiresAt && *credential.expiresAt <= later) ...
#pragma once

#include <compare>

namespace pellow {

// Seconds from 1970-01-01T00:00:00Z to 2001-01-01T00:00:00Z.
inline constexpr double kReferenceDateSince1970 = 978307200.0;

struct Date {
  double sinceReferenceDate = 0;

  static constexpr Date fromUnixSeconds(double seconds) {
    return Date{seconds - kReferenceDateSince1970};
  }
  constexpr double unixSeconds() const { return sinceReferenceDate + kReferenceDateSince1970; }

  friend constexpr Date operator+(Date d, double seconds) {
    return Date{d.sinceReferenceDate + seconds};
  }
  friend constexpr double operator-(Date a, Date b) {
    return a.sinceReferenceDate - b.sinceReferenceDate;
  }
  friend constexpr bool operator==(Date a, Date b) = default;
  friend constexpr auto operator<=>(Date a, Date b) = default;
};

}  // namespace pellow
