// ProcessInfo.h: facts about the running system (NSProcessInfo).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvane {

/// Stands for NSProcessInfo.processInfo.
class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;

    /// operatingSystemVersionString, e.g. "Version 15.1 (Build 24B83)".
    [[nodiscard]] virtual std::string operatingSystemVersionString() = 0;
    /// operatingSystemVersion.majorVersion.
    [[nodiscard]] virtual std::int64_t majorVersion() = 0;
    /// systemUptime.
    [[nodiscard]] virtual std::chrono::nanoseconds systemUptime() = 0;
};

} // namespace quorvane
