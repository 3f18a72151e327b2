// A macOS Space as a rule names it and as the platform layer reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

class UUID;

struct Desktop {
    /// A lower-case UUID text, or a session-only identity beginning "session:".
    std::string id;
    /// "Space 2", or "Space 2 · this session" for a session-only Space.
    std::string name;
    /// The display that owns the Space; absent when the reporter gave none.
    std::optional<std::string> displayID{};
    /// Shared by all displays rather than owned by one.
    bool isShared = false;

    [[nodiscard]] bool isSessionOnly() const;
    /// Whether the Space can be active on the display: it is shared, owned by no display, or
    /// owned by that one.
    [[nodiscard]] bool isOn(std::string_view screenID) const;

    /// The Space the window server reported at `position`: identified by its UUID when `uuid`
    /// parses as one, else by `runtimeID` within this session (`sessionID`); absent when neither
    /// is usable (no valid UUID and no non-zero runtime identifier). Never sets displayID or
    /// isShared: the platform layer decides those.
    [[nodiscard]] static std::optional<Desktop> identified(std::optional<std::string_view> uuid,
        std::optional<std::uint64_t> runtimeID, std::int64_t position, const UUID& sessionID);

    bool operator==(const Desktop&) const = default;
};

} // namespace quorvane
