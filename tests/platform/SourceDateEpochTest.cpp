#include "platform/SourceDateEpoch.h"

#include <gtest/gtest.h>

// Plain decimal seconds only; 2000-02-29 is a leap day in a century leap year.
TEST(SourceDateEpoch, PlainDecimalSecondsBecomeTheUtcCalendarMoment) {
  int64_t seconds = -1;
  for (const char* bad : {"", "-5", "12a", " 1", "1e9", "999999999999"})
    EXPECT_FALSE(platform::ParseSourceDateEpoch(bad, &seconds)) << bad;
  for (const auto& [text, moment] : std::vector<std::pair<const char*, std::vector<int>>>{
           {"0", {1970, 1, 1, 0, 0, 0}},
           {"951868798", {2000, 2, 29, 23, 59, 58}},
           {"1796589348", {2026, 12, 6, 20, 35, 48}}}) {
    ASSERT_TRUE(platform::ParseSourceDateEpoch(text, &seconds)) << text;
    EXPECT_EQ(std::to_string(seconds), text);
    const platform::UtcTime t = platform::UtcFromEpochSeconds(seconds);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}), moment);
  }
}
