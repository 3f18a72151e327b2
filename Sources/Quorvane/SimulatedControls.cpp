#include "Quorvane/SimulatedControls.h"

#include "QuorvaneMac/DisplayError.h"

#include <utility>

namespace quorvane {

void SimulatedControls::seed(std::map<ControlKey, SettingValue> values)
{
    m_values = std::move(values);
}

Task<SettingValue> SimulatedControls::read(ControlKey key)
{
    const auto found = m_values.find(key);
    if (found == m_values.end())
        throw DisplayError::unavailable("Simulated control unavailable");
    co_return found->second;
}

Task<void> SimulatedControls::write(SettingValue value, ControlKey key)
{
    m_values.insert_or_assign(std::move(key), std::move(value));
    co_return;
}

} // namespace quorvane
