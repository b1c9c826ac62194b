// FakeClock: a Clock for tests. Its date stands still until a sleep or the test moves it; every
// sleep is recorded and, unless the test installs its own `onSleep`, moves the date forward by
// the time slept. Never waits.
//
//   FakeClock clock(Date::fromUnixSeconds(1'800'000'000));
//   GitHubAuthorization(transport, clock).waitForAuthorization(code);
//   EXPECT_EQ(clock.sleeps, (std::vector<double>{5, 5, 10}));
#pragma once

#include <functional>
#include <stop_token>
#include <vector>

#include "PellowGitHub/Clock.h"
#include "PellowGitHub/GitHubDate.h"

namespace pellow::testing {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(Date start) : date(start) {}

  Date now() override { return date; }

  void sleep(double seconds, const std::stop_token&) override {
    sleeps.push_back(seconds);
    if (onSleep) {
      onSleep(seconds);
    } else {
      date = date + seconds;
    }
  }

  Date date;
  std::vector<double> sleeps;
  // Runs instead of moving the date, when set.
  std::function<void(double seconds)> onSleep;
};

}  // namespace pellow::testing
