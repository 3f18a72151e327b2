// Any bytes as a Get VCP Feature reply (the first byte is the code asked for): the decoder
// refuses or gives a reading that a control can use.

#include "SettingsFuzzing.h"

#include "QuorvaneCore/DDCCodec.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::optional<DDCReading> reading
        = DDCCodec::decode(std::span(data + 1, size - 1), data[0]);
    if (reading)
        fuzzing::require(reading->maximum > 0 && reading->current <= reading->maximum,
            "a reading has a maximum and a current value within it");
    return 0;
}
