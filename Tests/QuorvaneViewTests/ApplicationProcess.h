// The application run as a process of its own, for what only a whole process shows: its command
// line, its exit status, and the claim of one running copy per settings file.
#pragma once

#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QProcess>

#include <filesystem>

namespace quorvane {

// Under the sanitizers a copy takes seconds to start; the waits end as soon as it is there.
inline constexpr int startLimit = 60'000;

/// Whether the copy runs on its settings file: it writes the file at the end of its start-up.
inline bool hasStarted(const QProcess& process, const std::filesystem::path& settingsFile)
{
    return runEventLoopUntil([&] { return std::filesystem::exists(settingsFile); }, startLimit)
        && process.state() == QProcess::Running;
}

/// Ends the copy as the session would, and says whether it quit in order with status 0.
inline bool quitsCleanly(QProcess& process)
{
    process.terminate(); // SIGTERM
    return process.waitForFinished(startLimit) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace quorvane
