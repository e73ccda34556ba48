#include "platform/SourceDateEpoch.h"

#include <gtest/gtest.h>

namespace {

TEST(SourceDateEpoch, OnlyPlainDecimalSecondsAreAccepted) {
  int64_t seconds = -1;
  EXPECT_TRUE(platform::ParseSourceDateEpoch("0", &seconds));
  EXPECT_EQ(seconds, 0);
  EXPECT_TRUE(platform::ParseSourceDateEpoch("1700000000", &seconds));
  EXPECT_EQ(seconds, 1700000000);
  for (const char* bad : {"", "-5", "12a", " 1", "1e9", "999999999999"}) {
    EXPECT_FALSE(platform::ParseSourceDateEpoch(bad, &seconds)) << bad;
  }
}

TEST(SourceDateEpoch, SecondsBecomeTheUtcCalendarMoment) {
  const platform::UtcTime epoch = platform::UtcFromEpochSeconds(0);
  EXPECT_EQ(epoch.year, 1970);
  EXPECT_EQ(epoch.month, 1);
  EXPECT_EQ(epoch.day, 1);
  // 2000-02-29 23:59:58, a leap day in a century leap year.
  const platform::UtcTime leap = platform::UtcFromEpochSeconds(951868798);
  EXPECT_EQ(leap.year, 2000);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(leap.hour, 23);
  EXPECT_EQ(leap.minute, 59);
  EXPECT_EQ(leap.second, 58);
  const platform::UtcTime later = platform::UtcFromEpochSeconds(1796589348);  // 2026-12-06 20:35:48
  EXPECT_EQ(later.year, 2026);
  EXPECT_EQ(later.month, 12);
  EXPECT_EQ(later.day, 6);
  EXPECT_EQ(later.hour, 20);
  EXPECT_EQ(later.minute, 35);
  EXPECT_EQ(later.second, 48);
}

}  // namespace
