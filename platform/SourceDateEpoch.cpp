#include "platform/SourceDateEpoch.h"

namespace platform {

namespace {
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kLastSecondOfYear9999 = 253402300799;
}  // namespace

bool ParseSourceDateEpoch(const std::string& text, int64_t* seconds) {
  if (text.empty() || text.size() > 12) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kLastSecondOfYear9999) return false;
  *seconds = value;
  return true;
}

UtcTime UtcFromEpochSeconds(int64_t seconds) {
  // Civil date from a day count (proleptic Gregorian calendar).
  int64_t days = seconds / kSecondsPerDay;
  const int64_t rest = seconds % kSecondsPerDay;
  days += 719468;
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  UtcTime time;
  time.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  time.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
  time.hour = static_cast<int>(rest / 3600);
  time.minute = static_cast<int>(rest % 3600 / 60);
  time.second = static_cast<int>(rest % 60);
  time.millisecond = 0;
  return time;
}

}  // namespace platform
