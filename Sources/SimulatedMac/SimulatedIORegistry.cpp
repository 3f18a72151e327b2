#include "SimulatedMac/SimulatedIORegistry.h"

#include "MacPlatform/PlatformMisuse.h"

#include <algorithm>
#include <cstring>

namespace quorvane {
namespace {

constexpr KernelStatus noSuchEntry = static_cast<KernelStatus>(0xE00002C0); // kIOReturnNotFound
constexpr KernelStatus badArgument = static_cast<KernelStatus>(0xE00002C2); // kIOReturnBadArgument

std::string_view withoutLastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

} // namespace

SimulatedRegistryEntry& SimulatedIORegistry::add(SimulatedRegistryEntry entry)
{
    if (entry.registryID == 0)
        entry.registryID = nextRegistryID();
    m_entries.push_back(std::move(entry));
    return m_entries.back();
}

SimulatedRegistryEntry* SimulatedIORegistry::entry(std::uint64_t registryID)
{
    const auto found
        = std::ranges::find(m_entries, registryID, &SimulatedRegistryEntry::registryID);
    return found == m_entries.end() ? nullptr : &*found;
}

SimulatedRegistryEntry* SimulatedIORegistry::entryAt(std::string_view path)
{
    const auto found = std::ranges::find(m_entries, path, &SimulatedRegistryEntry::path);
    return found == m_entries.end() ? nullptr : &*found;
}

void SimulatedIORegistry::remove(std::uint64_t registryID)
{
    std::erase_if(m_entries,
        [&](const SimulatedRegistryEntry& entry) { return entry.registryID == registryID; });
}

AVServiceObject SimulatedIORegistry::retainAVService(std::uint64_t registryID)
{
    const std::uint64_t handle = m_avServices.size() + 1;
    m_avServices[handle] = AVService{.entry = registryID};
    return AVServiceObject{.handle = handle};
}

std::uint64_t SimulatedIORegistry::serviceEntry(AVServiceObject service) const
{
    const auto found = m_avServices.find(service.handle);
    if (found == m_avServices.end() || found->second.isReleased)
        throw PlatformMisuse("An I2C service object was used that is not alive.");
    return found->second.entry;
}

std::optional<std::uint64_t> SimulatedIORegistry::entryOf(RegistryObject object) const
{
    return live(object).entry;
}

int SimulatedIORegistry::liveObjects() const
{
    return static_cast<int>(std::ranges::count_if(
        m_objects, [](const auto& object) { return !object.second.isReleased; }));
}

int SimulatedIORegistry::liveAVServices() const
{
    return static_cast<int>(std::ranges::count_if(
        m_avServices, [](const auto& service) { return !service.second.isReleased; }));
}

KernelStatus SimulatedIORegistry::matchingServices(
    std::string_view className, RegistryObject* iterator)
{
    if (matchingStatus != 0)
        return matchingStatus;
    Object iteration;
    for (const SimulatedRegistryEntry& entry : m_entries) {
        if (std::ranges::find(entry.classes, className) != entry.classes.end())
            iteration.iteration.push_back(entry.registryID);
    }
    *iterator = handOut(std::move(iteration));
    return 0;
}

std::optional<RegistryObject> SimulatedIORegistry::nextService(RegistryObject iterator)
{
    Object& iteration = live(iterator);
    if (iteration.entry)
        throw PlatformMisuse("A registry entry was used as an iterator.");
    // Entries removed since the iterator was made are skipped, as the registry would.
    while (iteration.position < iteration.iteration.size()) {
        const std::uint64_t next = iteration.iteration[iteration.position++];
        if (entry(next))
            return handOut(Object{.entry = next});
    }
    return std::nullopt;
}

std::optional<RegistryObject> SimulatedIORegistry::entryFromPath(std::string_view path)
{
    const SimulatedRegistryEntry* found = entryAt(path);
    if (!found)
        return std::nullopt;
    return handOut(Object{.entry = found->registryID});
}

KernelStatus SimulatedIORegistry::path(
    RegistryObject object, std::string_view plane, PathBuffer& buffer)
{
    const SimulatedRegistryEntry* found = entryFor(object);
    if (!found)
        return noSuchEntry;
    if (plane != "IOService")
        return badArgument;
    if (found->pathStatus != 0)
        return found->pathStatus;
    const std::size_t length = std::min(found->path.size(), buffer.size());
    std::memcpy(buffer.data(), found->path.data(), length);
    if (length < buffer.size())
        buffer[length] = '\0';
    return 0;
}

KernelStatus SimulatedIORegistry::entryID(RegistryObject object, std::uint64_t* identifier)
{
    const SimulatedRegistryEntry* found = entryFor(object);
    if (!found)
        return noSuchEntry;
    if (found->entryIDStatus != 0)
        return found->entryIDStatus;
    *identifier = found->registryID;
    return 0;
}

std::optional<PlatformValue> SimulatedIORegistry::property(
    RegistryObject object, std::string_view key)
{
    const SimulatedRegistryEntry* found = entryFor(object);
    if (!found)
        return std::nullopt;
    const auto value = found->properties.find(std::string(key));
    if (value == found->properties.end())
        return std::nullopt;
    return value->second;
}

KernelStatus SimulatedIORegistry::parent(
    RegistryObject object, std::string_view plane, RegistryObject* parent)
{
    const SimulatedRegistryEntry* found = entryFor(object);
    if (!found)
        return noSuchEntry;
    if (plane != "IOService")
        return badArgument;
    if (found->parentStatus != 0)
        return found->parentStatus;
    const std::string_view parentPath = withoutLastComponent(found->path);
    const SimulatedRegistryEntry* above = entryAt(parentPath);
    if (parentPath.empty() || !above)
        return noSuchEntry;
    *parent = handOut(Object{.entry = above->registryID});
    return 0;
}

KernelStatus SimulatedIORegistry::release(RegistryObject object)
{
    live(object).isReleased = true;
    return 0;
}

void SimulatedIORegistry::release(AVServiceObject service)
{
    (void)serviceEntry(service);
    m_avServices[service.handle].isReleased = true;
}

SimulatedIORegistry::Object& SimulatedIORegistry::live(RegistryObject object)
{
    const auto found = m_objects.find(object.handle);
    if (found == m_objects.end() || found->second.isReleased)
        throw PlatformMisuse("A registry object was used that is not alive.");
    return found->second;
}

const SimulatedIORegistry::Object& SimulatedIORegistry::live(RegistryObject object) const
{
    const auto found = m_objects.find(object.handle);
    if (found == m_objects.end() || found->second.isReleased)
        throw PlatformMisuse("A registry object was used that is not alive.");
    return found->second;
}

SimulatedRegistryEntry* SimulatedIORegistry::entryFor(RegistryObject object)
{
    const Object& found = live(object);
    if (!found.entry)
        throw PlatformMisuse("A registry iterator was used as an entry.");
    return entry(*found.entry);
}

RegistryObject SimulatedIORegistry::handOut(Object object)
{
    // Handles start at 1: 0 is the null object on the real platform.
    const auto handle = static_cast<std::uint32_t>(m_objects.size() + 1);
    m_objects[handle] = std::move(object);
    return RegistryObject{.handle = handle};
}

} // namespace quorvane
