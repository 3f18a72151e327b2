#include "QuorvaneCore/DisplayResolution.h"

#include "Foundation/Format.h"

namespace quorvane {
namespace {

constexpr std::int64_t maximumSize = 65536;

bool isValidSize(std::int64_t size) { return size >= 1 && size <= maximumSize; }

std::string sizeLabel(std::int64_t width, std::int64_t height)
{
    return formatInteger(width) + " × " + formatInteger(height);
}

} // namespace

bool DisplayResolution::isValid() const
{
    return isValidSize(width) && isValidSize(height) && isValidSize(pixelWidth)
        && isValidSize(pixelHeight) && pixelWidth >= width && pixelHeight >= height;
}

bool DisplayResolution::isHiDPI() const { return width < pixelWidth || height < pixelHeight; }

std::string DisplayResolution::label() const
{
    return sizeLabel(width, height) + (isHiDPI() ? " · HiDPI" : "");
}

std::string DisplayResolution::pixelLabel() const
{
    return sizeLabel(pixelWidth, pixelHeight) + " pixels";
}

} // namespace quorvane
