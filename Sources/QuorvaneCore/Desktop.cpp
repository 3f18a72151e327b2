#include "QuorvaneCore/Desktop.h"

#include "Foundation/Format.h"
#include "Foundation/UUID.h"

namespace quorvane {
namespace {

constexpr std::string_view sessionPrefix = "session:";

std::string spaceName(std::int64_t position) { return "Space " + formatInteger(position); }

} // namespace

bool Desktop::isSessionOnly() const { return id.starts_with(sessionPrefix); }

bool Desktop::isOn(std::string_view screenID) const
{
    return isShared || !displayID || *displayID == screenID;
}

std::optional<Desktop> Desktop::identified(std::optional<std::string_view> uuid,
    std::optional<std::uint64_t> runtimeID, std::int64_t position, const UUID& sessionID)
{
    if (uuid) {
        if (const auto parsed = UUID::parse(*uuid))
            return Desktop{.id = parsed->lowercasedString(), .name = spaceName(position)};
    }
    if (runtimeID && *runtimeID != 0) {
        return Desktop{
            .id = std::string(sessionPrefix) + sessionID.uuidString() + ":"
                + formatUnsigned(*runtimeID),
            .name = spaceName(position) + " · this session",
        };
    }
    return std::nullopt;
}

} // namespace quorvane
