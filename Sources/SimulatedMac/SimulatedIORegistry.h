// SimulatedIORegistry.h: the simulated I/O registry: entries in the IOService plane with their
// classes and properties, and a count of every object it hands out so tests can prove that the
// caller released each one.
#pragma once

#include "MacPlatform/IORegistry.h"

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace quorvane {

struct SimulatedWorld;

/// One registry entry. Its parent in the IOService plane is the entry whose path is this path
/// without its last component.
struct SimulatedRegistryEntry {
    std::uint64_t registryID = 0;
    /// "IOService:/a/b"; written into the path buffer as given, so it may be any bytes.
    std::string path{};
    /// The entry's own class first, then the classes it derives from.
    std::vector<std::string> classes{};
    PlatformDictionary properties{};

    // Failures of the calls about this entry.
    KernelStatus pathStatus = 0;
    KernelStatus entryIDStatus = 0;
    KernelStatus parentStatus = 0;
};

class SimulatedIORegistry final : public IORegistry {
public:
    explicit SimulatedIORegistry(SimulatedWorld& world)
        : m_world(world)
    {
    }

    /// Adds an entry after the existing ones (the order services are matched in); an identifier of
    /// 0 gets a new one.
    SimulatedRegistryEntry& add(SimulatedRegistryEntry entry);
    /// The entry with that identifier, or null.
    [[nodiscard]] SimulatedRegistryEntry* entry(std::uint64_t registryID);
    /// The first entry at that path, or null.
    [[nodiscard]] SimulatedRegistryEntry* entryAt(std::string_view path);
    /// Takes the entry out, as when its hardware goes away; handed-out objects for it stay
    /// valid until released, and answer nothing.
    void remove(std::uint64_t registryID);
    /// An identifier no entry has had yet.
    [[nodiscard]] std::uint64_t nextRegistryID() { return m_nextRegistryID++; }

    /// Makes a new I2C service object for an entry; the monitors' create function hands it out.
    [[nodiscard]] AVServiceObject retainAVService(std::uint64_t registryID);
    /// The entry an I2C service object was made for. Throws PlatformMisuse for a released one.
    [[nodiscard]] std::uint64_t serviceEntry(AVServiceObject service) const;
    /// The entry a live registry object stands for; absent for an iterator. Throws
    /// PlatformMisuse for a released or unknown object.
    [[nodiscard]] std::optional<std::uint64_t> entryOf(RegistryObject object) const;

    /// Registry objects (entries and iterators) handed out and not released yet.
    [[nodiscard]] int liveObjects() const;
    /// I2C service objects made and not released yet.
    [[nodiscard]] int liveAVServices() const;
    /// Every registry object handed out so far.
    [[nodiscard]] int objectsHandedOut() const { return static_cast<int>(m_objects.size()); }

    /// IOServiceGetMatchingServices fails with this while non-zero.
    KernelStatus matchingStatus = 0;

    KernelStatus matchingServices(std::string_view className, RegistryObject* iterator) override;
    std::optional<RegistryObject> nextService(RegistryObject iterator) override;
    std::optional<RegistryObject> entryFromPath(std::string_view path) override;
    KernelStatus path(RegistryObject entry, std::string_view plane, PathBuffer& buffer) override;
    KernelStatus entryID(RegistryObject entry, std::uint64_t* identifier) override;
    std::optional<PlatformValue> property(RegistryObject entry, std::string_view key) override;
    KernelStatus parent(
        RegistryObject entry, std::string_view plane, RegistryObject* parent) override;
    KernelStatus release(RegistryObject object) override;
    void release(AVServiceObject service) override;

private:
    /// A handed-out object: one entry, or an iterator over entries.
    struct Object {
        std::optional<std::uint64_t> entry{};
        std::vector<std::uint64_t> iteration{};
        std::size_t position = 0;
        bool isReleased = false;
    };
    struct AVService {
        std::uint64_t entry;
        bool isReleased = false;
    };

    Object& live(RegistryObject object);
    const Object& live(RegistryObject object) const;
    /// The entry of a live entry object; null when it was removed since.
    SimulatedRegistryEntry* entryFor(RegistryObject object);
    RegistryObject handOut(Object object);

    [[maybe_unused]] SimulatedWorld& m_world;
    std::list<SimulatedRegistryEntry> m_entries; // a list, so references to entries stay valid
    std::map<std::uint32_t, Object> m_objects;
    std::map<std::uint64_t, AVService> m_avServices;
    std::uint64_t m_nextRegistryID = 0x100000100;
};

} // namespace quorvane
