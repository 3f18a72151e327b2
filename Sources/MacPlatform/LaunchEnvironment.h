// LaunchEnvironment.h: what the application learns about its own launch: its arguments and the
// folders it may keep files in (ProcessInfo.arguments, NSTemporaryDirectory, FileManager).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

/// Stands for the process's own facts, read at start-up.
class LaunchEnvironment {
public:
    virtual ~LaunchEnvironment() = default;

    /// ProcessInfo.arguments: the command line, the program's own path first.
    [[nodiscard]] virtual std::vector<std::string> arguments() = 0;
    /// NSTemporaryDirectory().
    [[nodiscard]] virtual std::filesystem::path temporaryDirectory() = 0;
    /// The first of the user's Application Support folders. It may not exist yet.
    [[nodiscard]] virtual std::filesystem::path applicationSupportDirectory() = 0;
};

} // namespace quorvane
