// The call logs of the simulated parts: tests read the calls a few steps made, while the
// application runs on the simulated Mac for hours, so a log keeps only the latest calls.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorvane {

/// A log never holds more than this many calls; once full it drops its older half, so that
/// appending stays cheap. Tests that read a log record far fewer.
inline constexpr std::size_t callLogLimit = 128;

/// Appends `call` to `log`, first dropping the older half of a full log.
template <typename Call> void logCall(std::vector<Call>& log, std::type_identity_t<Call> call)
{
    if (log.size() >= callLogLimit)
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(callLogLimit / 2));
    log.push_back(std::move(call));
}

} // namespace quorvane
