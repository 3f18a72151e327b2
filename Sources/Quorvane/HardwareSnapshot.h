// What a hardware discovery hands the model: the displays and what was read of them.
#pragma once

#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/HardwareSnapshot.h"

#include <vector>

namespace quorvane {

/// What a discovery returns: the displays, in inventory order, and what was read of them.
struct DiscoveredHardware {
    std::vector<DisplayDevice> displays;
    HardwareSnapshot snapshot;
};

} // namespace quorvane
