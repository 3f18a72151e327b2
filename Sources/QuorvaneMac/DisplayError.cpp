#include "QuorvaneMac/DisplayError.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"

namespace quorvane {

std::string DisplayError::describe(const Case& errorCase)
{
    const auto message = Overloaded{
        [](const Unavailable& unavailable) { return unavailable.message; },
        [](const Operation& operation) {
            return "Brightness " + operation.name + " failed (" + formatInteger(operation.status)
                + "). Try again after waking the display or changing its reference mode.";
        },
        [](const InvalidBrightness&) {
            return std::string("Brightness must be a finite value between 0 and 100%.");
        },
    };
    return std::visit(message, errorCase);
}

} // namespace quorvane
