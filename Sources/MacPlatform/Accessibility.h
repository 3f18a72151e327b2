// Accessibility.h: Accessibility trust, UI elements and their observers (the AX functions).
#pragma once

namespace quorvane {

/// Stands for the Accessibility API.
class Accessibility {
public:
    virtual ~Accessibility() = default;
};

} // namespace quorvane
