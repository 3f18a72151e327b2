// IORegistry.h: the I/O registry walk through which an external monitor's DDC/CI service is found
// (IOKit), and the shapes of the private I2C and display-information functions that the loader
// hands out for it.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/PlatformValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane {

/// A kernel result code (kern_return_t / IOReturn): 0 is success.
using KernelStatus = std::int32_t;

/// A registry entry or an iterator (io_object_t). Every object the registry hands out is
/// retained for the caller, who gives it back with IORegistry::release().
struct RegistryObject {
    std::uint32_t handle;
    bool operator==(const RegistryObject&) const = default;
};

/// An I2C service object that IOAVServiceCreateWithService made (IOAVServiceRef). Retained for
/// the caller, who gives it back with IORegistry::release() (CFRelease).
struct AVServiceObject {
    std::uint64_t handle;
    bool operator==(const AVServiceObject&) const = default;
};

/// Stands for the IOKit registry calls, always on the default main port. Every call is
/// synchronous. Handing in an object that was already released is a bug (PlatformMisuse).
class IORegistry {
public:
    /// The buffer a path is read into. The registry writes the path and a terminating zero when
    /// it fits; a path of this size or more fills the buffer without one.
    using PathBuffer = std::array<char, 4096>;

    virtual ~IORegistry() = default;

    /// IOServiceMatching(className) then IOServiceGetMatchingServices: an iterator over the
    /// services of that class or a subclass, in registry order, stored in `iterator` on success.
    virtual KernelStatus matchingServices(std::string_view className, RegistryObject* iterator) = 0;
    /// IOIteratorNext: the next service, retained; absent at the end.
    [[nodiscard]] virtual std::optional<RegistryObject> nextService(RegistryObject iterator) = 0;

    /// IORegistryEntryFromPath: the entry at a registry path such as "IOService:/a/b", retained;
    /// absent when there is none.
    [[nodiscard]] virtual std::optional<RegistryObject> entryFromPath(std::string_view path) = 0;
    /// IORegistryEntryGetPath: the entry's path in `plane` ("IOService"), written into `buffer`.
    virtual KernelStatus path(RegistryObject entry, std::string_view plane, PathBuffer& buffer) = 0;
    /// IORegistryEntryGetRegistryEntryID: the entry's identifier, unique while the system runs.
    virtual KernelStatus entryID(RegistryObject entry, std::uint64_t* identifier) = 0;
    /// IORegistryEntryCreateCFProperty: the property `key`; absent when the entry has none.
    [[nodiscard]] virtual std::optional<PlatformValue> property(
        RegistryObject entry, std::string_view key)
        = 0;
    /// IORegistryEntryGetParentEntry: the entry's parent in `plane`, retained, stored in
    /// `parent` on success.
    virtual KernelStatus parent(
        RegistryObject entry, std::string_view plane, RegistryObject* parent)
        = 0;

    /// IOObjectRelease.
    virtual KernelStatus release(RegistryObject object) = 0;
    /// CFRelease of an I2C service object.
    virtual void release(AVServiceObject service) = 0;
};

// The private functions behind DDC/CI, as the loader hands them out (their C signatures). A
// CoreFoundation allocator is passed as a pointer; null is the default allocator.

/// IOAVServiceCreateWithService (IOKit): the I2C service of a registry service, retained;
/// absent when the service offers none.
using AVServiceCreateWithService
    = std::optional<AVServiceObject>(const void* allocator, RegistryObject service);
/// IOAVServiceReadI2C (IOKit): reads `length` bytes from the device at `chipAddress`, starting
/// at `offset`, into `buffer`. 0 on success.
using AVServiceReadI2C = std::int32_t(AVServiceObject service, std::uint32_t chipAddress,
    std::uint32_t offset, std::uint8_t* buffer, std::uint32_t length);
/// IOAVServiceWriteI2C (IOKit): writes `length` bytes of `buffer` to the device at
/// `chipAddress` with the sub-address `dataAddress`. 0 on success.
using AVServiceWriteI2C = std::int32_t(AVServiceObject service, std::uint32_t chipAddress,
    std::uint32_t dataAddress, std::uint8_t* buffer, std::uint32_t length);
/// CoreDisplay_DisplayCreateInfoDictionary (CoreDisplay): what the system knows of a display,
/// among it "IODisplayLocation", its framebuffer's registry path; absent when it knows nothing.
using DisplayCreateInfoDictionary = std::optional<PlatformDictionary>(DisplayNumber display);

} // namespace quorvane
