// SimulatedIORegistry.h: the simulated I/O registry with its AV services.
#pragma once

#include "MacPlatform/IORegistry.h"

namespace quorvane {

struct SimulatedWorld;

class SimulatedIORegistry final : public IORegistry {
public:
    explicit SimulatedIORegistry(SimulatedWorld& world)
        : m_world(world)
    {
    }

private:
    [[maybe_unused]] SimulatedWorld& m_world;
};

} // namespace quorvane
