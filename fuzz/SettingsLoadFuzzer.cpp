// Any bytes as the settings file, through the store's load: no crash, no damaged file, and
// errors that say what is wrong in a few valid words.

#include "SettingsFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)quorvane::fuzzing::loadSettings(
        std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
