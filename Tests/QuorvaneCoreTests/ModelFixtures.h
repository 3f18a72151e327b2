// Small builders shared by the tests of the settings model.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/ControlKey.h"

#include <cstdint>
#include <string>

namespace quorvane {

/// 00000000-0000-0000-0000-00000000000N: the Nth identifier sequentialUUIDGenerator() hands out.
inline UUID uuidNumber(std::uint8_t number)
{
    UUID::Bytes bytes{};
    bytes.back() = number;
    return UUID(bytes);
}

inline ControlKey controlOf(std::string displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(std::move(displayID)), .setting = setting};
}

} // namespace quorvane
