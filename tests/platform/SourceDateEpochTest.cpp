#include "platform/SourceDateEpoch.h"

#include <gtest/gtest.h>

namespace {

// Plain decimal seconds only; 2000-02-29 is a leap day in a century leap year.
TEST(SourceDateEpoch, PlainDecimalSecondsBecomeTheUtcCalendarMoment) {
  int64_t seconds = -1;
  for (const char* bad : {"", "-5", "12a", " 1", "1e9", "999999999999"})
    EXPECT_FALSE(platform::ParseSourceDateEpoch(bad, &seconds)) << bad;
  const struct {
    const char* text;
    std::vector<int> moment;
  } kMoments[] = {{"0", {1970, 1, 1, 0, 0, 0}},
                  {"951868798", {2000, 2, 29, 23, 59, 58}},
                  {"1796589348", {2026, 12, 6, 20, 35, 48}}};
  for (const auto& m : kMoments) {
    ASSERT_TRUE(platform::ParseSourceDateEpoch(m.text, &seconds)) << m.text;
    EXPECT_EQ(std::to_string(seconds), m.text);
    const platform::UtcTime t = platform::UtcFromEpochSeconds(seconds);
    EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}), m.moment);
  }
}

}  // namespace
