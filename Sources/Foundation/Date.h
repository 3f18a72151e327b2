// A point in calendar time, as the executor's wallNow() gives it.
#pragma once

#include <chrono>

namespace quorvane {

using Date = std::chrono::system_clock::time_point;

} // namespace quorvane
