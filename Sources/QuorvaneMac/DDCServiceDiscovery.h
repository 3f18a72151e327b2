// DDCServiceDiscovery.h: finding the one I2C service of an external monitor and opening a DDC/CI
// channel on it; the error and the connection identity that discovery and transport share.
#pragma once

#include "Foundation/Error.h"
#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/IORegistry.h"
#include "QuorvaneCore/SettingValue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvane {

struct DisplayDevice;
struct Platform;

/// The error of every DDC/CI operation, discovery and transport alike.
class DDCError final : public Error {
public:
    /// The message is the whole description.
    struct Unavailable {
        std::string message;
        bool operator==(const Unavailable&) const = default;
    };
    /// An I2C write ("request") or read ("reply") returned a failure status.
    struct Transfer {
        std::string operation;
        std::int32_t status;
        bool operator==(const Transfer&) const = default;
    };
    /// The reply was not a valid, error-free answer for the setting's feature.
    struct InvalidReply {
        SettingKey setting;
        bool operator==(const InvalidReply&) const = default;
    };
    struct ConnectionChanged {
        bool operator==(const ConnectionChanged&) const = default;
    };
    struct ServiceOpenFailed {
        bool operator==(const ServiceOpenFailed&) const = default;
    };
    using Case
        = std::variant<Unavailable, Transfer, InvalidReply, ConnectionChanged, ServiceOpenFailed>;

    static DDCError unavailable(std::string message)
    {
        return DDCError(Unavailable{std::move(message)});
    }
    static DDCError transfer(std::string operation, std::int32_t status)
    {
        return DDCError(Transfer{std::move(operation), status});
    }
    static DDCError invalidReply(SettingKey setting) { return DDCError(InvalidReply{setting}); }
    static DDCError connectionChanged() { return DDCError(ConnectionChanged{}); }
    static DDCError serviceOpenFailed() { return DDCError(ServiceOpenFailed{}); }

    explicit DDCError(Case errorCase)
        : Error(describe(errorCase))
        , m_case(std::move(errorCase))
    {
    }
    [[nodiscard]] const Case& errorCase() const noexcept { return m_case; }

private:
    static std::string describe(const Case& errorCase);

    Case m_case;
};

/// Where a display's DDC connection was found. Any difference means another connection.
struct DDCConnectionIdentity {
    /// The display number the identity was taken for.
    DisplayNumber runtimeID = 0;
    /// The registry identifier of the display's framebuffer entry.
    std::uint64_t framebufferID = 0;
    /// The framebuffer's registry path in the IOService plane ("IOService:/...").
    std::string location{};
    bool operator==(const DDCConnectionIdentity&) const = default;
};

/// One "DCPAVServiceProxy" entry seen while enumerating.
struct DDCServiceCandidate {
    std::uint64_t registryID = 0;
    /// The entry's path in the IOService plane.
    std::string path{};
    /// Its "Location" text; empty when it has none.
    std::string location{};
    /// The "EPICProviderClass" text of its parent; empty when there is none.
    std::string providerClass{};
    bool operator==(const DDCServiceCandidate&) const = default;
};

/// An open I2C channel to one monitor. Every call blocks until the bus is done.
class DDCChannel {
public:
    virtual ~DDCChannel() = default;
    /// One I2C write of a DDC/CI message. Throws DDCError::Transfer("request", status).
    virtual void send(const std::vector<std::uint8_t>& bytes) = 0;
    /// One I2C read of a reply, as read, unjudged. Throws DDCError::Transfer("reply", status).
    [[nodiscard]] virtual std::vector<std::uint8_t> receive() = 0;
};

/// How the transport reaches the hardware.
class DDCConnectionProvider {
public:
    virtual ~DDCConnectionProvider() = default;
    /// The display's present connection identity. Throws DDCError.
    [[nodiscard]] virtual DDCConnectionIdentity identity(const DisplayDevice& display) = 0;
    /// A channel to the monitor behind that identity. Throws DDCError.
    [[nodiscard]] virtual std::shared_ptr<DDCChannel> open(const DDCConnectionIdentity& identity)
        = 0;
};

/// The rule that picks a display's service among the candidates; never guesses.
struct DDCServiceMatcher final {
    DDCServiceMatcher() = delete; // Only a home for select().

    /// The one candidate that fits the framebuffer at `framebufferPath`: an external service
    /// below the framebuffer, or one on the framebuffer's display port. Throws
    /// DDCError::Unavailable when the path is unusable, or when no candidate or more than one
    /// fits.
    [[nodiscard]] static DDCServiceCandidate select(
        std::string_view framebufferPath, const std::vector<DDCServiceCandidate>& candidates);
};

/// A path the registry wrote into `buffer`, as text: up to the first zero byte and never past
/// the buffer, each ill-formed UTF-8 sequence replaced by U+FFFD.
[[nodiscard]] std::string registryPathText(const IORegistry::PathBuffer& buffer);

/// DDC/CI over the IOAVService I2C functions, found in the I/O registry. Keeps no state but the
/// functions it looked up once; a missing function makes the operations that need it fail.
class IOAVDDC final : public DDCConnectionProvider {
public:
    /// Opens IOKit and CoreDisplay and looks up their functions. Never fails.
    explicit IOAVDDC(Platform& platform);

    /// Throws DDCError::ConnectionChanged when the display is gone, asleep or its number now
    /// belongs to another display, DDCError::Unavailable when the system has no connection
    /// information for it.
    DDCConnectionIdentity identity(const DisplayDevice& display) override;
    /// Throws DDCError::Unavailable when the I2C functions are missing, the services cannot be
    /// enumerated or no single service fits; DDCError::ServiceOpenFailed when the chosen one
    /// cannot be made into an I2C service. Releases every registry object it took.
    std::shared_ptr<DDCChannel> open(const DDCConnectionIdentity& identity) override;

private:
    Platform& m_platform;
    std::optional<std::function<AVServiceCreateWithService>> m_create;
    std::optional<std::function<AVServiceReadI2C>> m_read;
    std::optional<std::function<AVServiceWriteI2C>> m_write;
    std::optional<std::function<DisplayCreateInfoDictionary>> m_info;
};

} // namespace quorvane
