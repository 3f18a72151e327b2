#include "SimulatedMac/SimulatedGamma.h"

#include <utility>

namespace quorvane {

GammaTable identityGammaTable(std::uint32_t size)
{
    GammaTable table;
    for (std::uint32_t index = 0; index < size; ++index) {
        const float value
            = size > 1 ? static_cast<float>(index) / static_cast<float>(size - 1) : 0.0f;
        table.red.push_back(value);
        table.green.push_back(value);
        table.blue.push_back(value);
    }
    return table;
}

void writeGammaFromAnotherProgram(SimulatedWorld& world, std::string_view uuid, GammaTable table)
{
    if (SimulatedDisplay* display = world.displayWithUUID(uuid))
        display->gamma = std::move(table);
}

void offsetWrittenGamma(SimulatedWorld& world, DisplayNumber number, float offset)
{
    SimulatedDisplay* display = world.display(number);
    if (!display)
        return;
    display->gammaAsStored = [offset](GammaTable table) {
        for (std::vector<float>* channel : {&table.red, &table.green, &table.blue})
            for (float& entry : *channel)
                entry += offset;
        return table;
    };
}

} // namespace quorvane
