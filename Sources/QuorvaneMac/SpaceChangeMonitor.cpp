#include "QuorvaneMac/SpaceChangeMonitor.h"

#include "Concurrency/Executor.h"
#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/NotificationCenter.h"
#include "MacPlatform/Platform.h"

#include <string>

namespace quorvane {
namespace {

constexpr std::string_view skyLightPath
    = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";

/// One plain function for every monitor: it reads nothing but its context, and it only queues
/// the post, so an event that arrives on another thread touches no monitor state.
void spaceDidChange(std::uint32_t, void*, std::uint32_t, void* context)
{
    const auto* route = static_cast<const SpaceChangeMonitor::Route*>(context);
    NotificationCenter& center = route->center;
    route->mainExecutor.post([&center] {
        center.post(
            Notification{.name = std::string(SpaceChangeMonitor::didChange), .userInfo = {}});
    });
}

template <typename Signature>
std::optional<std::function<Signature>> lookUp(
    DynamicLoader& loader, LoadedImage image, std::string_view name, std::string_view fallback)
{
    if (auto function = loader.symbol<Signature>(image, name))
        return function;
    return loader.symbol<Signature>(image, fallback);
}

} // namespace

SpaceChangeMonitor::SpaceChangeMonitor(Platform& platform, Executor& mainExecutor)
    : m_route(std::make_unique<Route>(
        Route{.mainExecutor = mainExecutor, .center = platform.notifications}))
{
    DynamicLoader& loader = platform.loader;
    const auto image = loader.open(skyLightPath, DynamicLoader::lazyLocal);
    if (!image)
        return;
    const auto registration = lookUp<skylight::NotifyProcRegistration>(
        loader, *image, "SLSRegisterNotifyProc", "CGSRegisterNotifyProc");
    m_remove = lookUp<skylight::NotifyProcRegistration>(
        loader, *image, "SLSRemoveNotifyProc", "CGSRemoveNotifyProc");
    // Without a way to unregister, the window server would keep calling into a freed route.
    if (!m_remove || !registration)
        return;
    m_isAvailable = (*registration)(spaceDidChange, spaceChangeEvent, m_route.get()) == 0;
}

SpaceChangeMonitor::~SpaceChangeMonitor()
{
    if (m_isAvailable && m_remove)
        (*m_remove)(spaceDidChange, spaceChangeEvent, m_route.get());
}

} // namespace quorvane
