#include "ModelOnSimulatedMac.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Format.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "SimulatedMac/WorldFile.h"

#include <chrono>
#include <string>
#include <unistd.h>

namespace quorvane::bench {

namespace {

using namespace std::chrono_literals;

std::filesystem::path newHome()
{
    static int count = 0;
    return std::filesystem::temp_directory_path()
        / ("quorvane-bench-" + formatInteger(::getpid()) + "-" + formatInteger(++count));
}

} // namespace

ModelOnSimulatedMac::ModelOnSimulatedMac(const Configuration& document)
    : m_home(newHome())
{
    installDefaultWorld(mac);
    launch.temporaryFolder = m_home / "tmp";
    launch.applicationSupportFolder = m_home / "support";
    std::filesystem::create_directories(settingsFile().parent_path());
    writeFileAtomically(settingsFile(), encodeConfigurationText(document));
}

ModelOnSimulatedMac::~ModelOnSimulatedMac()
{
    model.reset();
    // The model cancels its tasks; they end now, while the simulated Mac they use still exists.
    executor.runUntilIdle();
    std::filesystem::remove_all(m_home);
}

std::filesystem::path ModelOnSimulatedMac::settingsFile() const
{
    return m_home / "support" / "Quorvane" / "settings.json";
}

void ModelOnSimulatedMac::start()
{
    model = AppModel::create(AppEnvironment{.executor = executor,
                                 .platform = mac.platform(),
                                 .launch = launch,
                                 .loginItems = loginItems,
                                 .shell = shell,
                                 .applicationCatalog = applicationCatalog,
                                 .openPanel = openPanel},
        {.simulation = false, .startAutomatically = true});
    executor.runUntilIdle();
    executor.advance(10s);
}

} // namespace quorvane::bench
