// The system's clock as local time.
#pragma once

#include <ctime>

namespace tavrin::fs {

// Now, in the local time zone of the system (a zeroed time when the system
// cannot convert it).
std::tm LocalTimeNow();

}  // namespace tavrin::fs
