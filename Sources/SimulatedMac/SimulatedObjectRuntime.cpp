#include "SimulatedMac/SimulatedObjectRuntime.h"

#include <algorithm>

namespace quorvane {

ObjectInstance SimulatedObjectRuntime::makeInstance(const std::string& className, std::any state)
{
    const ObjectInstance object{.handle = m_nextInstance++};
    m_instances[object.handle] = Instance{.className = className, .state = std::move(state)};
    return object;
}

std::optional<ObjectClass> SimulatedObjectRuntime::classNamed(std::string_view name)
{
    if (!m_classes.contains(name))
        return std::nullopt;
    return handleOf(std::string(name));
}

bool SimulatedObjectRuntime::descendsFromRootObject(ObjectClass objectClass)
{
    const Class* found = classFor(objectClass);
    return found && found->descendsFromRootObject;
}

std::optional<ObjectInstance> SimulatedObjectRuntime::createInstance(ObjectClass objectClass)
{
    const Class* found = classFor(objectClass);
    if (!found || !found->initSucceeds)
        return std::nullopt;
    ObjectInstance object = makeInstance(m_classNames.at(objectClass.handle));
    m_instances[object.handle].isCreated = true;
    ++m_liveCreated;
    return object;
}

void SimulatedObjectRuntime::release(ObjectInstance object)
{
    const auto found = m_instances.find(object.handle);
    if (found == m_instances.end() || found->second.isReleased)
        throw PlatformMisuse("An object was released that is not alive.");
    Instance& released = found->second;
    released.isReleased = true;
    if (released.isCreated)
        --m_liveCreated;
}

ObjectClass SimulatedObjectRuntime::classOf(ObjectInstance object)
{
    return handleOf(instance(object).className);
}

bool SimulatedObjectRuntime::respondsToSelector(ObjectInstance object, std::string_view selector)
{
    const Class* found = classOf(instance(object));
    if (!found)
        return false;
    if (const auto method = found->methods.find(selector); method != found->methods.end())
        return method->second.responds;
    return found->performable.contains(selector);
}

std::optional<MethodShape> SimulatedObjectRuntime::instanceMethod(
    ObjectClass objectClass, std::string_view selector)
{
    const Class* found = classFor(objectClass);
    if (!found)
        return std::nullopt;
    const auto method = found->methods.find(selector);
    if (method == found->methods.end())
        return std::nullopt;
    return method->second.shape;
}

MessageResult SimulatedObjectRuntime::perform(ObjectInstance object, std::string_view selector)
{
    const Class* found = classOf(instance(object));
    if (!found)
        return {};
    const auto performable = found->performable.find(selector);
    if (performable == found->performable.end())
        throw PlatformMisuse("performSelector: sent " + std::string(selector) + " to an object that does not answer it.");
    return performable->second(object);
}

std::any SimulatedObjectRuntime::lookUpImplementation(ObjectInstance object, std::string_view selector)
{
    const Class* found = classOf(instance(object));
    if (!found)
        return {};
    const auto method = found->methods.find(selector);
    return method == found->methods.end() ? std::any() : method->second.implementation;
}

const SimulatedObjectRuntime::Class* SimulatedObjectRuntime::classOf(const Instance& object) const
{
    const auto found = m_classes.find(object.className);
    return found == m_classes.end() ? nullptr : &found->second;
}

SimulatedObjectRuntime::Instance& SimulatedObjectRuntime::instance(ObjectInstance object)
{
    const auto found = m_instances.find(object.handle);
    if (found == m_instances.end())
        throw PlatformMisuse("A message was sent to an object the runtime never made.");
    if (found->second.isReleased)
        throw PlatformMisuse("A message was sent to a released object.");
    return found->second;
}

ObjectClass SimulatedObjectRuntime::handleOf(const std::string& name)
{
    const auto found = std::ranges::find(m_classNames, name);
    if (found != m_classNames.end())
        return ObjectClass{.handle = static_cast<std::uint64_t>(found - m_classNames.begin())};
    m_classNames.push_back(name);
    return ObjectClass{.handle = m_classNames.size() - 1};
}

const SimulatedObjectRuntime::Class* SimulatedObjectRuntime::classFor(ObjectClass objectClass) const
{
    if (objectClass.handle >= m_classNames.size())
        return nullptr;
    const auto found = m_classes.find(m_classNames[objectClass.handle]);
    return found == m_classes.end() ? nullptr : &found->second;
}

} // namespace quorvane
