// SpaceProvider.h: the Spaces of every display and the active one, read from the window server's
// managed-display Spaces, as the Desktop values rules name.
#pragma once

#include "Foundation/UUID.h"
#include "MacPlatform/SkyLight.h"
#include "QuorvaneCore/Desktop.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

struct Platform;

/// The Spaces state of one display.
struct SpaceSnapshot {
    /// The active Space, when it is a user desktop that could be identified.
    std::optional<Desktop> current;
    /// The display's user desktops, in the window server's order.
    std::vector<Desktop> desktops;
    /// Status for the user.
    std::string message;
    bool operator==(const SpaceSnapshot&) const = default;
};

/// Reads the Spaces on the main executor, where its caller runs. Never fails: a missing window
/// server function or an unexpected topology gives a snapshot with a message saying so.
///
/// Spaces without a UUID are named for this run only ("session:" identities); that name changes
/// when the Dock restarts or a runtime Space identifier turns up that was not there before,
/// because the window server may then reuse runtime identifiers for other Spaces.
class SpaceProvider final {
public:
    /// Looks the window-server functions up; any of them may be missing.
    explicit SpaceProvider(Platform& platform);

    /// One snapshot per given display identifier (lower-case UUID texts, distinct). Reads the
    /// Spaces once for all of them.
    [[nodiscard]] std::map<std::string, SpaceSnapshot> snapshots(
        const std::vector<std::string>& displayUUIDs);
    /// The snapshot of one display; without an identifier, a snapshot that asks for a screen.
    [[nodiscard]] SpaceSnapshot snapshot(const std::optional<std::string>& displayUUID);

    /// The last raw topology seen, for diagnostics.
    [[nodiscard]] const std::string& diagnosticSummary() const { return m_diagnosticSummary; }

private:
    using RuntimeIDs = std::map<std::string, std::set<std::uint64_t>>;
    using DisplayEntries = std::vector<PropertyList::Dictionary>;

    [[nodiscard]] std::optional<DisplayEntries> readDisplayEntries();
    [[nodiscard]] std::optional<std::int32_t> dockProcessIdentifier();
    void renewSessionIfNeeded(std::optional<std::int32_t> dock, const RuntimeIDs& runtimeIDs);
    [[nodiscard]] SpaceSnapshot snapshot(
        const std::string& displayUUID, const DisplayEntries& displays, bool separate);
    [[nodiscard]] std::uint64_t reportedCurrentSpace(const std::string& name);

    Platform& m_platform;
    std::string m_diagnosticSummary = "No topology read yet.";
    std::optional<std::function<skylight::MainConnectionID>> m_mainConnection;
    std::optional<std::function<skylight::CopyManagedDisplaySpaces>> m_copySpaces;
    std::optional<std::function<skylight::ManagedDisplayGetCurrentSpace>> m_currentSpace;
    UUID m_sessionID = UUID::random();
    std::optional<std::int32_t> m_dockPID;
    RuntimeIDs m_previousRuntimeIDs;
};

} // namespace quorvane
