#include "platform/local_time.h"

namespace platform {

bool ToLocalTime(std::int64_t unix_seconds, std::tm& local) {
    const auto t = static_cast<std::time_t>(unix_seconds);
    return localtime_s(&local, &t) == 0;  // the reentrant form: workers may format dates too
}

bool ToUniversalTime(std::int64_t unix_seconds, std::tm& utc) {
    const auto t = static_cast<std::time_t>(unix_seconds);
    return gmtime_s(&utc, &t) == 0;
}

}  // namespace platform
