// SimulatedObjectRuntime.h: the simulated Mac's object runtime: classes by name with instance
// methods of declared shapes, instances with their own state, and counts of live instances so
// tests can see that everything created is released.
#pragma once

#include "MacPlatform/ObjectRuntime.h"

#include <any>
#include <functional>
#include <map>
#include <string>

namespace quorvane {

class SimulatedObjectRuntime final : public ObjectRuntime {
public:
    struct Method {
        MethodShape shape;
        /// A std::function of the signature callers must use (receiver first, no selector);
        /// empty for a method that the class declares but cannot be called here.
        std::any implementation;
        /// respondsToSelector: answers this; a knob for objects that declare a method they
        /// refuse to answer.
        bool responds = true;
    };

    struct Class {
        bool descendsFromRootObject = true;
        /// init returns nothing while false.
        bool initSucceeds = true;
        std::map<std::string, Method, std::less<>> methods;
        std::map<std::string, std::function<MessageResult(ObjectInstance)>, std::less<>> performable;

        template <typename Signature>
        Class& define(std::string selector, MethodShape shape, std::function<Signature> function)
        {
            methods[std::move(selector)] = Method{.shape = std::move(shape), .implementation = std::move(function)};
            return *this;
        }
    };

    /// The class named `name`, created when there is none yet.
    Class& defineClass(const std::string& name) { return m_classes[name]; }
    void removeClass(const std::string& name) { m_classes.erase(name); }

    /// An instance made directly by the simulation (for example a display object that a manager
    /// lists), carrying `state` for the class's methods.
    ObjectInstance makeInstance(const std::string& className, std::any state = {});
    /// The state an instance was made with.
    template <typename T> [[nodiscard]] T& state(ObjectInstance object)
    {
        return std::any_cast<T&>(m_instances.at(object.handle).state);
    }
    /// Instances created through createInstance() and not released yet.
    [[nodiscard]] int liveCreatedInstances() const { return m_liveCreated; }

    std::optional<ObjectClass> classNamed(std::string_view name) override;
    bool descendsFromRootObject(ObjectClass objectClass) override;
    std::optional<ObjectInstance> createInstance(ObjectClass objectClass) override;
    void release(ObjectInstance object) override;
    ObjectClass classOf(ObjectInstance object) override;
    bool respondsToSelector(ObjectInstance object, std::string_view selector) override;
    std::optional<MethodShape> instanceMethod(ObjectClass objectClass, std::string_view selector) override;
    MessageResult perform(ObjectInstance object, std::string_view selector) override;

protected:
    std::any lookUpImplementation(ObjectInstance object, std::string_view selector) override;

private:
    struct Instance {
        std::string className;
        std::any state;
        bool isCreated = false; ///< through createInstance(), so ours to release
        bool isReleased = false;
    };

    const Class* classOf(const Instance& instance) const;
    Instance& instance(ObjectInstance object);
    /// Class handles are positions in m_classNames, so they stay valid while classes change.
    ObjectClass handleOf(const std::string& name);
    const Class* classFor(ObjectClass objectClass) const;

    std::map<std::string, Class, std::less<>> m_classes;
    std::vector<std::string> m_classNames;
    std::map<std::uint64_t, Instance> m_instances;
    std::uint64_t m_nextInstance = 1;
    int m_liveCreated = 0;
};

} // namespace quorvane
