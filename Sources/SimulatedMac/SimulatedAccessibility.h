// SimulatedAccessibility.h: Accessibility trust, windows' elements and observers of the
// simulated Mac.
#pragma once

#include "MacPlatform/Accessibility.h"

namespace quorvane {

struct SimulatedWorld;

class SimulatedAccessibility final : public Accessibility {
public:
    explicit SimulatedAccessibility(SimulatedWorld& world)
        : m_world(world)
    {
    }

private:
    [[maybe_unused]] SimulatedWorld& m_world;
};

} // namespace quorvane
