// Calendar time in the machine's time zone, and in UTC.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// The local calendar time of seconds since 1970-01-01 UTC; false when the platform cannot give it.
bool ToLocalTime(std::int64_t unix_seconds, std::tm& local);
// The same in UTC.
bool ToUniversalTime(std::int64_t unix_seconds, std::tm& utc);

}  // namespace platform
