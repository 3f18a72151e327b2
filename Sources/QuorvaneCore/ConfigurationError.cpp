#include "QuorvaneCore/ConfigurationError.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"

namespace quorvane {

std::string ConfigurationError::describe(const Case& errorCase)
{
    const auto message = Overloaded{
        [](const UnsupportedVersion& unsupported) {
            return "Settings version " + formatInteger(unsupported.version)
                + " is not supported. This build uses the new profile format. The file was not "
                  "changed.";
        },
        [](const Invalid& invalid) { return invalid.message; },
        [](const ReadOnly&) {
            return std::string(
                "Settings are locked because the original file could not be loaded.");
        },
    };
    return std::visit(message, errorCase);
}

} // namespace quorvane
