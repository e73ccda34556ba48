#include "platform/SourceDateEpoch.h"

#include <gtest/gtest.h>

namespace {

TEST(SourceDateEpoch, PlainDecimalSecondsBecomeTheUtcCalendarMoment) {
  for (const char* bad : {"", "-5", "12a", " 1", "1e9", "999999999999"}) {
    int64_t seconds = -1;
    EXPECT_FALSE(platform::ParseSourceDateEpoch(bad, &seconds)) << bad;
  }
  // 2000-02-29 is a leap day in a century leap year.
  const struct {
    const char* text;
    int64_t seconds;
    int year, month, day, hour, minute, second;
  } kMoments[] = {{"0", 0, 1970, 1, 1, 0, 0, 0},
                  {"951868798", 951868798, 2000, 2, 29, 23, 59, 58},
                  {"1796589348", 1796589348, 2026, 12, 6, 20, 35, 48}};
  for (const auto& m : kMoments) {
    int64_t seconds = -1;
    ASSERT_TRUE(platform::ParseSourceDateEpoch(m.text, &seconds)) << m.text;
    EXPECT_EQ(seconds, m.seconds);
    const platform::UtcTime t = platform::UtcFromEpochSeconds(seconds);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
              (std::vector<int>{m.year, m.month, m.day, m.hour, m.minute, m.second}))
        << m.text;
  }
}

}  // namespace
