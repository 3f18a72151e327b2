// PlatformMisuse.h: a call into the platform layer made in a shape the platform does not offer,
// such as a symbol looked up with the wrong signature. A bug in our code, never bad input.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

class PlatformMisuse final : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

} // namespace quorvane
