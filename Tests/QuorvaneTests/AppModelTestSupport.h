// A simulated Mac with a scratch home for the model's tests, and the model built on it.
#pragma once

#include "Quorvane/AppModel.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"
#include "SimulatedMac/SimulatedApplication.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"
#include "SimulatedMac/SimulatedMac.h"
#include "TestSupport/RunToEnd.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

/// An empty simulated Mac on virtual time; the settings go to a throw-away folder, read and
/// written where `elsewhere` says.
struct ModelWorld {
    ManualExecutor executor;
    SimulatedMac mac{executor};
    SimulatedLaunchEnvironment launch;
    SimulatedLoginItems loginItems;
    SimulatedApplicationShell shell;
    SimulatedApplicationCatalog applicationCatalog;
    SimulatedOpenPanel openPanel;
    TemporaryFolder home;

    explicit ModelWorld(ManualExecutor::Elsewhere elsewhere = ManualExecutor::Elsewhere::onExecutor)
        : executor(elsewhere)
    {
        launch.temporaryFolder = home.path() / "tmp";
        launch.applicationSupportFolder = home.path() / "support";
    }

    [[nodiscard]] AppEnvironment environment()
    {
        return {.executor = executor,
            .platform = mac.platform(),
            .launch = launch,
            .loginItems = loginItems,
            .shell = shell,
            .applicationCatalog = applicationCatalog,
            .openPanel = openPanel};
    }

    [[nodiscard]] std::filesystem::path defaultSettingsFile() const
    {
        return home.path() / "support" / "Quorvane" / "settings.json";
    }

    /// A model that is built and left idle.
    [[nodiscard]] std::shared_ptr<AppModel> idleModel(AppModel::Options options = {})
    {
        options.startAutomatically = false;
        return AppModel::create(environment(), std::move(options));
    }

    /// A model that has run its start-up to the end.
    [[nodiscard]] std::shared_ptr<AppModel> startedModel(AppModel::Options options = {})
    {
        options.startAutomatically = true;
        auto model = AppModel::create(environment(), std::move(options));
        executor.runUntilIdle();
        return model;
    }
};

[[nodiscard]] inline std::optional<std::string> contentsOf(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

inline void writeFile(const std::filesystem::path& file, const std::string& contents)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

/// The document in the file, as the store reads it.
[[nodiscard]] inline Configuration configurationIn(const std::filesystem::path& file)
{
    SettingsStore store(file);
    return runToEnd(store.load());
}

} // namespace quorvane
