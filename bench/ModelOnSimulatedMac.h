// The simulated Mac's default world with a settings file in a folder of its own, and the
// application model over them, for the benchmarks that run the model.
#pragma once

#include "Concurrency/ManualExecutor.h"
#include "Quorvane/AppModel.h"
#include "SimulatedMac/SimulatedApplication.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <filesystem>
#include <memory>

namespace quorvane::bench {

class ModelOnSimulatedMac final {
public:
    /// Writes `document` as the settings file; the model is made by start().
    explicit ModelOnSimulatedMac(const Configuration& document);
    /// Ends the model, then removes the folder.
    ~ModelOnSimulatedMac();

    // The folder is this world's alone.
    ModelOnSimulatedMac(const ModelOnSimulatedMac&) = delete;
    ModelOnSimulatedMac& operator=(const ModelOnSimulatedMac&) = delete;

    [[nodiscard]] std::filesystem::path settingsFile() const;

    /// Builds and starts the model, and lets the hardware discovery end.
    void start();

    // As in the application: the settings file is read and written on a worker thread.
    ManualExecutor executor{ManualExecutor::Elsewhere::onWorkerThread};
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
