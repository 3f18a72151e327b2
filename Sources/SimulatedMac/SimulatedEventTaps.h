// SimulatedEventTaps.h: event taps of the simulated Mac and the key input they see.
#pragma once

#include "MacPlatform/EventTaps.h"

namespace quorvane {

struct SimulatedWorld;

class SimulatedEventTaps final : public EventTaps {
public:
    explicit SimulatedEventTaps(SimulatedWorld& world)
        : m_world(world)
    {
    }

private:
    [[maybe_unused]] SimulatedWorld& m_world;
};

} // namespace quorvane
