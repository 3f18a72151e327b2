// IORegistry.h: the I/O registry walk through which DDC/CI services are found (IOKit).
#pragma once

namespace quorvane {

/// Stands for the IOKit registry calls.
class IORegistry {
public:
    virtual ~IORegistry() = default;
};

} // namespace quorvane
