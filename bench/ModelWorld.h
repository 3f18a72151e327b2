// An application model over the simulated Mac's default world, with its settings file in a
// folder of its own, on virtual time: what the benchmarks run the model and the windows on.
#pragma once

#include "Concurrency/ManualExecutor.h"
#include "Quorvane/AppModel.h"
#include "QuorvaneCore/Configuration.h"
#include "SimulatedMac/SimulatedApplication.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <filesystem>
#include <memory>

namespace quorvane::bench {

/// Processor time of the calling thread, in seconds.
[[nodiscard]] double threadSeconds();

/// The processor time `work` takes on the calling thread, in seconds.
template <typename Work> double secondsOf(Work&& work)
{
    const double start = threadSeconds();
    work();
    return threadSeconds() - start;
}

class ModelWorld final {
public:
    /// Writes `document` as the settings file; the model is made by start().
    explicit ModelWorld(const Configuration& document);
    ~ModelWorld();

    ModelWorld(const ModelWorld&) = delete;
    ModelWorld& operator=(const ModelWorld&) = delete;

    [[nodiscard]] std::filesystem::path settingsFile() const;

    /// Builds and starts the model, and lets the hardware discovery end.
    void start();

    ManualExecutor executor;
    SimulatedMac mac{executor};
    SimulatedLaunchEnvironment launch;
    SimulatedLoginItems loginItems;
    SimulatedApplicationShell shell;
    SimulatedApplicationCatalog applicationCatalog;
    SimulatedOpenPanel openPanel;
    std::shared_ptr<AppModel> model;

private:
    std::filesystem::path m_home;
};

} // namespace quorvane::bench
