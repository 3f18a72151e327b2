#include "ModelWorld.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Format.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "SimulatedMac/WorldFile.h"

#include <chrono>
#include <string>
#include <time.h>
#include <unistd.h>

namespace quorvane::bench {

using namespace std::chrono_literals;

double threadSeconds()
{
    timespec time{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

ModelWorld::ModelWorld(const Configuration& document)
{
    static int count = 0;
    m_home = std::filesystem::temp_directory_path()
        / ("quorvane-model-bench-" + formatInteger(::getpid()) + "-" + formatInteger(++count));
    installDefaultWorld(mac);
    launch.temporaryFolder = m_home / "tmp";
    launch.applicationSupportFolder = m_home / "support";
    std::filesystem::create_directories(settingsFile().parent_path());
    writeFileAtomically(settingsFile(), encodeConfigurationText(document));
}

ModelWorld::~ModelWorld()
{
    model.reset();
    std::filesystem::remove_all(m_home);
}

std::filesystem::path ModelWorld::settingsFile() const
{
    return m_home / "support" / "Quorvane" / "settings.json";
}

void ModelWorld::start()
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
