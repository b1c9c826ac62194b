// The short time of day in the environment's locale and time zone. ICU reads both once per
// process, so each case runs in a fresh copy of this test program with its own environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "PellowGitHub/support/LocaleTime.h"
#include "tests/github/HelperWithFakeGitHub.h"

namespace pellow::testing {
namespace {

constexpr const char* kProbeVariable = "PELLOW_SHORT_TIME_PROBE";

// In a probe copy: prints the formatted time of the given Unix seconds between markers.
// Otherwise: the time of the current environment is a short time of day, without the date.
TEST(LocaleTime, ShortTimeOfDay) {
  if (const char* seconds = std::getenv(kProbeVariable); seconds != nullptr) {
    std::printf("<<%s>>\n", formatShortTime(Date::fromUnixSeconds(std::atof(seconds))).c_str());
    return;
  }
  // 2026-07-04T13:05:09Z
  const std::string text = formatShortTime(Date::fromUnixSeconds(1783170309));
  EXPECT_FALSE(text.empty());
  EXPECT_LE(text.size(), 20u) << text;
  EXPECT_EQ(text.find("2026"), std::string::npos) << text;
  EXPECT_EQ(text.find(":09"), std::string::npos) << text;  // no seconds
}

TEST(LocaleTime, FollowsTheEnvironmentsLocaleAndZone) {
  struct Case {
    const char* locale;
    const char* zone;
    const char* expected;
  };
  const Case cases[] = {
      {"en_US.UTF-8", "UTC", "1:05\u202FPM"},
      {"de_DE.UTF-8", "UTC", "13:05"},
      {"en_US.UTF-8", "Asia/Tokyo", "10:05\u202FPM"},
      {"fr_FR.UTF-8", "America/New_York", "09:05"},  // summer time: UTC-4
  };
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  for (const Case& c : cases) {
    const HelperRun run = runHelper(
        {"--gtest_filter=LocaleTime.ShortTimeOfDay"}, "",
        {{kProbeVariable, "1783170309"}, {"LC_ALL", c.locale}, {"LANG", c.locale}, {"TZ", c.zone}},
        self);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::size_t start = run.out.find("<<");
    const std::size_t end = run.out.find(">>", start);
    ASSERT_NE(end, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(start + 2, end - start - 2), c.expected) << c.locale << " " << c.zone;
  }
}

}  // namespace
}  // namespace pellow::testing
