// SOURCE_DATE_EPOCH: a fixed build time, in seconds since 1970 UTC, that reproducible
// builds set in the environment.
#pragma once

#include <cstdint>
#include <string>

#include "platform/System.h"

namespace platform {

/// Parses the variable's value: decimal digits only, no sign, at most year 9999.
[[nodiscard]] bool ParseSourceDateEpoch(const std::string& text, int64_t* seconds);
/// The UTC calendar moment `seconds` after 1970-01-01 00:00:00.
UtcTime UtcFromEpochSeconds(int64_t seconds);

}  // namespace platform
