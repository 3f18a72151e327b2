#include "QuorvaneMac/SoftwareColorState.h"

#include "Foundation/Overloaded.h"
#include "QuorvaneMac/DisplayError.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace quorvane {
namespace {

using ChannelGains = std::array<float, 3>;

/// Warmer than 6500 K dims green a little and blue more; cooler dims red and a little green.
ChannelGains channelGains(const Temperature& temperature)
{
    const auto gains = Overloaded{
        [](const Temperature::Neutral&) {
            return ChannelGains{1, 1, 1};
        },
        [](const Temperature::Kelvin& kelvin) {
            const double ratio = static_cast<double>(kelvin.value) / 6500.0;
            if (ratio < 1)
                return ChannelGains{1, static_cast<float>(std::pow(ratio, 0.4)),
                    static_cast<float>(std::pow(ratio, 1.6))};
            const double inverse = 1 / ratio;
            return ChannelGains{static_cast<float>(std::pow(inverse, 0.9)),
                static_cast<float>(std::pow(inverse, 0.2)), 1};
        },
    };
    return std::visit(gains, temperature.value);
}

GammaChannel scaled(const GammaChannel& channel, float gain)
{
    GammaChannel result;
    result.reserve(channel.size());
    for (const float entry : channel)
        result.push_back(gain * entry);
    return result;
}

/// Where output entry `t` (0...1) samples the baseline: below the middle nearer black and above
/// it nearer white when the exponent is above 1, the reverse below 1.
double sCurve(double t, double exponent)
{
    if (t <= 0.5)
        return 0.5 * std::pow(2 * t, exponent);
    return 1 - 0.5 * std::pow(2 * (1 - t), exponent);
}

GammaChannel remapped(const GammaChannel& channel, float gain, double exponent)
{
    const std::size_t last = channel.size() - 1;
    GammaChannel result;
    result.reserve(channel.size());
    for (std::size_t index = 0; index <= last; ++index) {
        const double t = static_cast<double>(index) / static_cast<double>(last);
        const double position
            = std::clamp(sCurve(t, exponent) * static_cast<double>(last), 0.0, double(last));
        const auto low = static_cast<std::size_t>(position);
        const std::size_t high = std::min(last, low + 1);
        const auto fraction = static_cast<float>(position - static_cast<double>(low));
        result.push_back(gain * (channel[low] + (channel[high] - channel[low]) * fraction));
    }
    return result;
}

bool channelsEqual(const GammaChannel& a, const GammaChannel& b)
{
    return std::ranges::equal(a, b, [](float x, float y) {
        return std::abs(static_cast<double>(x) - static_cast<double>(y)) < 0.003;
    });
}

std::vector<float> zeroFilled(std::uint32_t count) { return std::vector<float>(count, 0.0f); }

} // namespace

GammaTableSet SoftwareColorState::transformed() const
{
    const ChannelGains gains = channelGains(temperature);
    // A contrast that is not a number would make every sample position undefined.
    const bool keepsShape = contrast == 0.5 || std::isnan(contrast);
    const double exponent = std::pow(2.0, 2 * (contrast - 0.5));
    GammaTableSet result;
    for (std::size_t index = 0; index < std::min(baseline.size(), gains.size()); ++index) {
        const GammaChannel& channel = baseline[index];
        if (keepsShape || channel.size() < 2)
            result.push_back(scaled(channel, gains[index]));
        else
            result.push_back(remapped(channel, gains[index], exponent));
    }
    return result;
}

bool SoftwareColorState::tablesEqual(const GammaTableSet& a, const GammaTableSet& b)
{
    return std::ranges::equal(a, b, channelsEqual);
}

GammaTableSet readGamma(CoreGraphics& graphics, DisplayNumber display)
{
    const std::uint32_t capacity = graphics.gammaTableCapacity(display);
    if (capacity == 0 || capacity > maximumGammaCapacity)
        throw DisplayError::unavailable("Color transfer tables unavailable");
    GammaTableSet tables{zeroFilled(capacity), zeroFilled(capacity), zeroFilled(capacity)};
    std::uint32_t sampleCount = 0;
    const GraphicsStatus status = graphics.transferTable(
        display, capacity, tables[0].data(), tables[1].data(), tables[2].data(), &sampleCount);
    // A count beyond the buffers would be a read past their end.
    if (status != 0 || sampleCount == 0 || sampleCount > capacity)
        throw DisplayError::unavailable("Color transfer table read failed");
    for (GammaChannel& channel : tables)
        channel.resize(sampleCount);
    return tables;
}

void writeGamma(CoreGraphics& graphics, const GammaTableSet& tables, DisplayNumber display)
{
    // Shorter green or blue tables would be read past their end.
    const bool isWellFormed = tables.size() == 3
        && std::ranges::all_of(tables,
            [&](const GammaChannel& channel) { return channel.size() == tables[0].size(); });
    if (!isWellFormed)
        throw DisplayError::unavailable("Color transfer tables unavailable");
    const auto size = static_cast<std::uint32_t>(tables[0].size());
    const GraphicsStatus status = graphics.setTransferTable(
        display, size, tables[0].data(), tables[1].data(), tables[2].data());
    if (status != 0)
        throw DisplayError::operation("color transform", status);
}

} // namespace quorvane
