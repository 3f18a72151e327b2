#include "SimulatedMac/SimulatedLoader.h"

namespace quorvane {

int SimulatedLoader::openCount(const std::string& path) const
{
    const auto found = m_openCounts.find(path);
    return found == m_openCounts.end() ? 0 : found->second;
}

std::optional<LoadedImage> SimulatedLoader::open(std::string_view path, int mode)
{
    ++m_openCounts[std::string(path)];
    m_openModes.push_back(mode);
    const auto found = m_images.find(path);
    if (found == m_images.end() || !found->second.canOpen)
        return std::nullopt;
    m_openedPaths.emplace_back(path);
    return LoadedImage{.handle = m_openedPaths.size()};
}

std::any SimulatedLoader::lookUp(LoadedImage image, std::string_view name)
{
    if (image.handle == 0 || image.handle > m_openedPaths.size())
        throw PlatformMisuse("A symbol was looked up in an image that was never opened.");
    // The image may have lost the symbol since it was opened, as a knob of the test.
    const auto found = m_images.find(m_openedPaths[image.handle - 1]);
    if (found == m_images.end())
        return {};
    const auto symbol = found->second.symbols.find(name);
    return symbol == found->second.symbols.end() ? std::any() : symbol->second;
}

} // namespace quorvane
