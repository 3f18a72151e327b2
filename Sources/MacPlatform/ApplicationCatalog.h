// ApplicationCatalog.h: where applications are installed and what their bundles say
// (FileManager's directory listing and home folder, Bundle(url:)).
#pragma once

#include "MacPlatform/PlatformValue.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// What Bundle(url:) gives of one bundle.
struct ApplicationBundle {
    /// bundleIdentifier; absent when the bundle declares none.
    std::optional<std::string> bundleIdentifier = std::nullopt;
    /// The Info dictionary; its values may be of any kind.
    PlatformDictionary info{};
    bool operator==(const ApplicationBundle&) const = default;
};

/// Stands for FileManager.default and Bundle(url:). Main thread only; every call is synchronous.
class ApplicationCatalog {
public:
    virtual ~ApplicationCatalog() = default;

    /// contentsOfDirectory(at:includingPropertiesForKeys:options:): the entries directly inside
    /// `folder` as full paths, never those of sub-folders; with `skipsHiddenFiles` the hidden
    /// ones are left out. Absent when the folder cannot be listed.
    [[nodiscard]] virtual std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
        const std::filesystem::path& folder, bool skipsHiddenFiles)
        = 0;
    /// homeDirectoryForCurrentUser.
    [[nodiscard]] virtual std::filesystem::path homeDirectory() = 0;
    /// Bundle(url:); absent when no bundle can be opened there.
    [[nodiscard]] virtual std::optional<ApplicationBundle> bundle(
        const std::filesystem::path& location)
        = 0;
};

} // namespace quorvane
