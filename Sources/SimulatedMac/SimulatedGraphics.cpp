#include "SimulatedMac/SimulatedGraphics.h"

#include "Concurrency/Executor.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

/// kCGErrorFailure and kCGErrorIllegalArgument.
constexpr GraphicsStatus failure = 1000;
constexpr GraphicsStatus illegalArgument = 1001;

GammaTable identityRamp(std::uint32_t size)
{
    GammaTable table;
    for (std::uint32_t index = 0; index < size; ++index) {
        const float value = size > 1 ? static_cast<float>(index) / static_cast<float>(size - 1) : 0.0f;
        table.red.push_back(value);
        table.green.push_back(value);
        table.blue.push_back(value);
    }
    return table;
}

/// A mode at one pixel per point whose size a HiDPI mode of the display also offers.
bool isLowResolutionDuplicate(
    const GraphicsDisplayMode& mode, const std::vector<GraphicsDisplayMode>& modes)
{
    if (mode.pixelWidth != mode.width || mode.pixelHeight != mode.height)
        return false;
    return std::ranges::any_of(modes, [&](const GraphicsDisplayMode& other) {
        return other.width == mode.width && other.height == mode.height
            && other.pixelWidth > mode.pixelWidth && other.pixelHeight > mode.pixelHeight;
    });
}

} // namespace

GraphicsStatus SimulatedGraphics::onlineDisplayList(
    std::uint32_t capacity, DisplayNumber* displays, std::uint32_t* count)
{
    const GraphicsFaults& faults = m_world.graphicsFaults;
    std::vector<DisplayNumber> online;
    for (const SimulatedDisplay& display : m_world.displays)
        if (display.isOnline)
            online.push_back(display.number);
    if (!displays) {
        if (faults.countCallStatus != 0)
            return faults.countCallStatus;
        *count = static_cast<std::uint32_t>(online.size());
        return 0;
    }
    if (faults.listCallStatus != 0)
        return faults.listCallStatus;
    const std::uint32_t lost = std::min<std::uint32_t>(faults.displaysLostBetweenCalls, static_cast<std::uint32_t>(online.size()));
    online.resize(online.size() - lost);
    const std::uint32_t filled = std::min(capacity, static_cast<std::uint32_t>(online.size()));
    std::copy_n(online.begin(), filled, displays);
    *count = filled;
    if (auto event = std::exchange(m_world.graphicsFaults.afterListCall, nullptr))
        event(m_world);
    return 0;
}

bool SimulatedGraphics::isActive(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display && display->isOnline && !display->isAsleep;
}

bool SimulatedGraphics::isOnline(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display && display->isOnline;
}

bool SimulatedGraphics::isBuiltin(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display && display->isBuiltIn;
}

bool SimulatedGraphics::isInMirrorSet(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display && display->isMirrored;
}

Rect SimulatedGraphics::bounds(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display ? display->bounds : Rect{};
}

std::optional<std::string> SimulatedGraphics::uuidText(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display ? display->uuid : std::nullopt;
}

std::optional<GraphicsDisplayMode> SimulatedGraphics::currentMode(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    if (!display || !display->currentModeID)
        return std::nullopt;
    const auto found = std::ranges::find(display->modes, *display->currentModeID, &GraphicsDisplayMode::ioDisplayModeID);
    return found == display->modes.end() ? std::nullopt : std::optional(*found);
}

std::optional<std::vector<GraphicsDisplayMode>> SimulatedGraphics::allModes(
    DisplayNumber number, bool includeLowResolutionDuplicates)
{
    const SimulatedDisplay* display = m_world.display(number);
    if (!display || m_world.graphicsFaults.allModesUnanswered)
        return std::nullopt;
    std::vector<GraphicsDisplayMode> modes = display->modes;
    if (!includeLowResolutionDuplicates)
        std::erase_if(modes, [&](const GraphicsDisplayMode& mode) {
            return isLowResolutionDuplicate(mode, display->modes);
        });
    return modes;
}

GraphicsStatus SimulatedGraphics::setDisplayMode(DisplayNumber number, const GraphicsDisplayMode& mode)
{
    SimulatedDisplay* display = m_world.display(number);
    if (!display || !display->isOnline)
        return illegalArgument;
    if (std::ranges::find(display->modes, mode.ioDisplayModeID, &GraphicsDisplayMode::ioDisplayModeID) == display->modes.end())
        return illegalArgument;
    if (m_world.graphicsFaults.switchMode)
        return m_world.graphicsFaults.switchMode(m_world, number, mode.ioDisplayModeID);
    display->currentModeID = mode.ioDisplayModeID;
    return 0;
}

std::uint32_t SimulatedGraphics::gammaTableCapacity(DisplayNumber number)
{
    const SimulatedDisplay* display = m_world.display(number);
    return display ? display->gammaCapacity : 0;
}

GraphicsStatus SimulatedGraphics::transferTable(DisplayNumber number, std::uint32_t capacity, float* red,
    float* green, float* blue, std::uint32_t* sampleCount)
{
    const SimulatedDisplay* display = m_world.display(number);
    if (!display || !display->isOnline)
        return failure;
    const GammaTable table = display->gamma.red.empty() ? identityRamp(display->gammaCapacity) : display->gamma;
    const std::uint32_t count = std::min(capacity, static_cast<std::uint32_t>(table.red.size()));
    std::copy_n(table.red.begin(), count, red);
    std::copy_n(table.green.begin(), count, green);
    std::copy_n(table.blue.begin(), count, blue);
    *sampleCount = display->reportedGammaSampleCount.value_or(count);
    return 0;
}

GraphicsStatus SimulatedGraphics::setTransferTable(
    DisplayNumber number, std::uint32_t size, const float* red, const float* green, const float* blue)
{
    SimulatedDisplay* display = m_world.display(number);
    if (!display || !display->isOnline)
        return failure;
    if (size == 0 || size > display->gammaCapacity)
        return illegalArgument;
    GammaTable written{
        .red = {red, red + size},
        .green = {green, green + size},
        .blue = {blue, blue + size},
    };
    display->gamma = display->gammaAsStored ? display->gammaAsStored(std::move(written)) : std::move(written);
    return 0;
}

std::vector<ScreenObject> SimulatedScreens::screens()
{
    std::vector<ScreenObject> result;
    for (const SimulatedDisplay& display : m_world.displays)
        if (display.screen && display.isOnline && !display.isAsleep)
            result.push_back(*display.screen);
    return result;
}

bool SimulatedScreens::screensHaveSeparateSpaces()
{
    return m_world.screensHaveSeparateSpaces;
}

std::string SimulatedProcessInfo::operatingSystemVersionString()
{
    return m_world.operatingSystemVersionString;
}

std::int64_t SimulatedProcessInfo::majorVersion()
{
    return m_world.operatingSystemMajorVersion;
}

std::chrono::nanoseconds SimulatedProcessInfo::systemUptime()
{
    return m_world.executor.now().time_since_epoch();
}

} // namespace quorvane
