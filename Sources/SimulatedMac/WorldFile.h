// WorldFile.h: a simulated Mac described in a JSON file, and the world the application starts in.
//
// The file is one object; every key is optional unless marked required, and a key this format
// does not know is an error (so a misspelt knob never goes unnoticed). Keys are the names of the
// simulated world's own fields:
//
//   {
//     "operatingSystemVersionString": "Version 15.1 (Build 24B83)",
//     "operatingSystemMajorVersion": 15,
//     "screensHaveSeparateSpaces": true,
//     "graphicsFaults": {"countCallStatus": 0, "listCallStatus": 0,
//                        "displaysLostBetweenCalls": 0, "allModesUnanswered": false},
//     "displays": [{
//       "number": 1,                          required; 1 to 4294967295, unique
//       "uuid": "37D8832A-2D66-02CA-B9F7-8F30A301B230",   kept in its case; missing or null: none
//       "isBuiltIn": false, "isMirrored": false, "isOnline": true, "isAsleep": false,
//       "bounds": {"x": 0, "y": 0, "width": 1512, "height": 982},           required
//       "screen": {                           missing or null: no screen object matches
//         "localizedName": "Built-in Retina Display",                      required
//         "screenNumber": 1,   its "NSScreenNumber": missing means the display's number, null
//                              leaves the entry out, a string stores a value of the wrong kind
//         "minimumRefreshInterval": 0.0083, "maximumRefreshInterval": 0.0208,
//         "maximumPotentialExtendedDynamicRangeColorComponentValue": 1.0,
//         "maximumFramesPerSecond": 120},
//       "modes": [{"width": 1512, "height": 982, "pixelWidth": 3024, "pixelHeight": 1964,
//                  "ioDisplayModeID": 10, "refreshRate": 60, "isUsableForDesktopGUI": true}],
//                 width, height and ioDisplayModeID required, unique identifiers; the pixel
//                 sizes default to the point sizes
//       "currentModeID": 10,                  must name one of the modes; missing: no current mode
//       "gammaCapacity": 1024}]
//   }
//
// "displays" is required and replaces the world's displays. Other keys left out keep the value
// the world has, and a display's keys left out the value a new display has.
#pragma once

#include "Foundation/Error.h"

#include <filesystem>
#include <string>

namespace quorvane {

class SimulatedMac;

/// A world file that cannot be used. The message names the file and what is wrong with it.
class WorldFileError final : public Error {
public:
    WorldFileError(std::filesystem::path path, std::string reason);

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    /// The problem alone, without the file's name: a system reason, or the coding path of the
    /// value at fault and what is wrong with it.
    [[nodiscard]] const std::string& reason() const noexcept { return m_reason; }

private:
    std::filesystem::path m_path;
    std::string m_reason;
};

/// The name of the environment variable that names a world file.
inline constexpr const char* simulatedMacVariable = "QUORVANE_SIMULATED_MAC";

/// Sets up `mac` as the file at `path` describes. Throws WorldFileError when the file cannot be
/// read, is not JSON, or does not describe a world; `mac` is then left as it was.
void loadWorld(SimulatedMac& mac, const std::filesystem::path& path);

/// The world the application starts in without a file: a built-in display and one external
/// monitor, and each slice's default state.
void installDefaultWorld(SimulatedMac& mac);

/// Loads the file named by QUORVANE_SIMULATED_MAC when it is set and not empty, else installs
/// the default world. Throws WorldFileError as loadWorld() does.
void worldFromEnvironment(SimulatedMac& mac);

} // namespace quorvane
