#include "Quorvane/SimulatedSystemDisplayPreferences.h"

#include "QuorvaneCore/ConfigurationError.h"

namespace quorvane {

Task<SystemDisplaySnapshot> SimulatedSystemDisplayPreferences::snapshot() { co_return state; }

Task<void> SimulatedSystemDisplayPreferences::write(bool value, SystemDisplayControl control)
{
    const auto present = state.values.find(control);
    if (present == state.values.end())
        throw ConfigurationError(ConfigurationError::Invalid{"Control unavailable"});
    present->second = value;
    co_return;
}

} // namespace quorvane
