#include "QuorvaneMac/NativeBrightness.h"

#include "Concurrency/Yield.h"
#include "Foundation/Text.h"
#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/Platform.h"
#include "QuorvaneMac/DisplayError.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <cmath>
#include <vector>

namespace quorvane {
namespace {

constexpr std::string_view displayServicesPath
    = "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";

bool isFraction(double value) { return std::isfinite(value) && value >= 0.0 && value <= 1.0; }

} // namespace

NativeBrightness::NativeBrightness(Platform& platform)
    : m_platform(platform)
{
    const std::optional<LoadedImage> image
        = platform.loader.open(displayServicesPath, DynamicLoader::lazyLocal);
    if (!image)
        return;
    m_getBrightness = platform.loader.symbol<Getter>(*image, "DisplayServicesGetBrightness");
    m_setBrightness = platform.loader.symbol<Setter>(*image, "DisplayServicesSetBrightness");
}

std::optional<BuiltInDisplay> NativeBrightness::builtInDisplay() const
{
    CoreGraphics& graphics = m_platform.graphics;
    for (const DisplayNumber number : onlineDisplayNumbers(graphics)) {
        if (!graphics.isBuiltin(number) || !graphics.isActive(number))
            continue;
        std::optional<std::string> uuid = graphics.uuidText(number);
        if (!uuid)
            return std::nullopt;
        return BuiltInDisplay{.id = number, .uuid = std::move(*uuid)};
    }
    return std::nullopt;
}

Task<double> NativeBrightness::read(BuiltInDisplay display)
{
    co_await yield();
    if (!m_getBrightness)
        throw DisplayError::unavailable(
            "This macOS version does not expose the brightness adapter.");
    checkPresent(display);
    float value = 0;
    if (const std::int32_t status = (*m_getBrightness)(display.id, &value); status != 0)
        throw DisplayError::operation("read", status);
    if (!isFraction(value))
        throw DisplayError::invalidBrightness();
    co_return static_cast<double>(value);
}

Task<void> NativeBrightness::write(double value, BuiltInDisplay display)
{
    if (!isFraction(value))
        throw DisplayError::invalidBrightness();
    co_await yield();
    if (!m_setBrightness)
        throw DisplayError::unavailable("Brightness control is unavailable on this macOS version.");
    checkPresent(display);
    if (const std::int32_t status = (*m_setBrightness)(display.id, static_cast<float>(value));
        status != 0)
        throw DisplayError::operation("write", status);
}

bool NativeBrightness::symbolsAvailable() const
{
    return m_getBrightness.has_value() && m_setBrightness.has_value();
}

void NativeBrightness::checkPresent(const BuiltInDisplay& display) const
{
    CoreGraphics& graphics = m_platform.graphics;
    const bool isPresent = graphics.isOnline(display.id) && graphics.isActive(display.id);
    const std::optional<std::string> uuid
        = isPresent ? graphics.uuidText(display.id) : std::nullopt;
    if (!uuid || asciiLowercased(*uuid) != asciiLowercased(display.uuid))
        throw DisplayError::unavailable("The display is disconnected or asleep.");
}

} // namespace quorvane
