#include "fs/local_time.h"

namespace tavrin::fs {

std::tm LocalTimeNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    if (localtime_s(&tm, &t) != 0) tm = std::tm{};
#else
    if (!localtime_r(&t, &tm)) tm = std::tm{};
#endif
    return tm;
}

}  // namespace tavrin::fs
