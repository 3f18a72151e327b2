#include "QuorvaneCore/DisplayResolution.h"

#include "Foundation/Format.h"
#include "Foundation/Hash.h"
#include "QuorvaneCore/Configuration.h"

namespace quorvane {
namespace {

constexpr std::int64_t maximumSize = 65536;

bool isValidSize(std::int64_t size) { return size >= 1 && size <= maximumSize; }

std::string sizeLabel(std::int64_t width, std::int64_t height)
{
    return formatInteger(width) + " × " + formatInteger(height);
}

/// The resolution `profile` itself asks for on the display.
std::optional<DisplayResolution> ownResolution(const Profile& profile, std::string_view displayID)
{
    if (!profile.displayPreferences || !profile.displayPreferences->resolutions)
        return std::nullopt;
    const auto& resolutions = *profile.displayPreferences->resolutions;
    const auto found = resolutions.find(std::string(displayID));
    if (found == resolutions.end())
        return std::nullopt;
    return found->second;
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

std::optional<DisplayResolution> Configuration::displayResolution(
    const Profile& profile, std::string_view displayID) const
{
    if (auto resolution = ownResolution(profile, displayID))
        return resolution;
    if (const Profile* fallback = defaultProfileOrFirst())
        return ownResolution(*fallback, displayID);
    return std::nullopt;
}

bool Configuration::captureResolutionDefaults(const std::map<std::string, ModeConfiguration>& modes)
{
    Profile* profile = profileWithDefaultID();
    if (!profile)
        return false;
    // Work on a copy, so that a capture that adds nothing leaves absent preferences absent.
    ProfileDisplayPreferences preferences
        = profile->displayPreferences.value_or(ProfileDisplayPreferences{});
    if (!preferences.resolutions)
        preferences.resolutions.emplace();
    auto& resolutions = *preferences.resolutions;
    bool didChange = false;
    for (const auto& [displayID, mode] : modes) {
        if (resolutions.contains(displayID) || !mode.resolution || !mode.resolution->isValid())
            continue;
        resolutions.emplace(displayID, *mode.resolution);
        didChange = true;
    }
    if (didChange)
        profile->displayPreferences = std::move(preferences);
    return didChange;
}

} // namespace quorvane

using namespace quorvane;

std::size_t std::hash<DisplayResolution>::operator()(
    const DisplayResolution& resolution) const noexcept
{
    const std::hash<std::int64_t> hashSize;
    return hashCombine(hashSize(resolution.width), hashSize(resolution.height),
        hashSize(resolution.pixelWidth), hashSize(resolution.pixelHeight));
}

std::size_t std::hash<ModeConfiguration>::operator()(const ModeConfiguration& mode) const noexcept
{
    return hashCombine(std::hash<std::optional<RefreshPreference>>{}(mode.refreshRate),
        std::hash<std::optional<bool>>{}(mode.hdr),
        std::hash<std::optional<DisplayResolution>>{}(mode.resolution));
}

std::size_t std::hash<VerifiedModeConfiguration>::operator()(
    const VerifiedModeConfiguration& verified) const noexcept
{
    return hashCombine(std::hash<std::string>{}(verified.displayID),
        std::hash<std::string>{}(verified.environment),
        std::hash<ModeConfiguration>{}(verified.mode));
}

std::size_t std::hash<DisplayModeChoice>::operator()(const DisplayModeChoice& choice) const noexcept
{
    return hashCombine(std::hash<DisplayResolution>{}(choice.resolution),
        std::hash<std::optional<RefreshPreference>>{}(choice.refreshRate));
}
