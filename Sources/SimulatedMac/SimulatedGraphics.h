// SimulatedGraphics.h: CoreGraphics, NSScreen and NSProcessInfo over the simulated world.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/ProcessInfo.h"
#include "MacPlatform/Screens.h"

namespace quorvane {

struct SimulatedDisplay;
struct SimulatedWorld;

class SimulatedGraphics final : public CoreGraphics {
public:
    explicit SimulatedGraphics(SimulatedWorld& world)
        : m_world(world)
    {
    }

    GraphicsStatus onlineDisplayList(std::uint32_t capacity, DisplayNumber* displays, std::uint32_t* count) override;
    bool isActive(DisplayNumber display) override;
    bool isOnline(DisplayNumber display) override;
    bool isBuiltin(DisplayNumber display) override;
    bool isInMirrorSet(DisplayNumber display) override;
    Rect bounds(DisplayNumber display) override;
    std::optional<std::string> uuidText(DisplayNumber display) override;
    std::optional<GraphicsDisplayMode> currentMode(DisplayNumber display) override;
    std::optional<std::vector<GraphicsDisplayMode>> allModes(DisplayNumber display, bool includeLowResolutionDuplicates) override;
    GraphicsStatus setDisplayMode(DisplayNumber display, const GraphicsDisplayMode& mode) override;
    std::uint32_t gammaTableCapacity(DisplayNumber display) override;
    GraphicsStatus transferTable(DisplayNumber display, std::uint32_t capacity, float* red, float* green,
        float* blue, std::uint32_t* sampleCount) override;
    GraphicsStatus setTransferTable(DisplayNumber display, std::uint32_t size, const float* red,
        const float* green, const float* blue) override;

private:
    SimulatedWorld& m_world;
};

class SimulatedScreens final : public Screens {
public:
    explicit SimulatedScreens(SimulatedWorld& world)
        : m_world(world)
    {
    }

    std::vector<ScreenObject> screens() override;
    bool screensHaveSeparateSpaces() override;

private:
    SimulatedWorld& m_world;
};

class SimulatedProcessInfo final : public ProcessInfo {
public:
    explicit SimulatedProcessInfo(SimulatedWorld& world)
        : m_world(world)
    {
    }

    std::string operatingSystemVersionString() override;
    std::int64_t majorVersion() override;
    std::chrono::nanoseconds systemUptime() override;

private:
    SimulatedWorld& m_world;
};

} // namespace quorvane
