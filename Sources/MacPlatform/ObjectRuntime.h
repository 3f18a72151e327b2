// ObjectRuntime.h: the dynamic object runtime through which private classes are found and their
// methods called only after their shape was checked (NSClassFromString, respondsToSelector:,
// class_getInstanceMethod, method type encodings, methodForSelector:, performSelector:).
#pragma once

#include "MacPlatform/PlatformMisuse.h"
#include "MacPlatform/PlatformValue.h"

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvane {

struct ObjectClass {
    std::uint64_t handle;
    bool operator==(const ObjectClass&) const = default;
};

/// A live object. The runtime keeps it alive until release(); our code releases what it
/// created.
struct ObjectInstance {
    std::uint64_t handle;
    bool operator==(const ObjectInstance&) const = default;
};

/// What the runtime says of an instance method: its number of arguments, counting the receiver
/// and the selector, and the type encodings of its result and of each argument (absent where
/// the runtime cannot read one).
struct MethodShape {
    unsigned argumentCount = 2;
    std::string returnType;
    std::vector<std::optional<std::string>> argumentTypes; ///< from the receiver on
    bool operator==(const MethodShape&) const = default;
};

/// What performSelector: returns: nothing, an object, or a list of objects (an NSArray).
/// Anything else arrives as `other`.
struct MessageResult {
    struct Nothing {
        bool operator==(const Nothing&) const = default;
    };
    struct Object {
        ObjectInstance object;
        bool operator==(const Object&) const = default;
    };
    struct Objects {
        std::vector<ObjectInstance> objects;
        bool operator==(const Objects&) const = default;
    };
    struct Other {
        PlatformValue value;
        bool operator==(const Other&) const = default;
    };
    bool operator==(const MessageResult&) const = default;

    std::variant<Nothing, Object, Objects, Other> value;
};

class ObjectRuntime {
public:
    virtual ~ObjectRuntime() = default;

    /// NSClassFromString: absent when no loaded image defines the class.
    [[nodiscard]] virtual std::optional<ObjectClass> classNamed(std::string_view name) = 0;
    /// Whether the class descends from the runtime's root object class (NSObject).
    [[nodiscard]] virtual bool descendsFromRootObject(ObjectClass objectClass) = 0;
    /// alloc then init: absent when initialisation returned nothing.
    [[nodiscard]] virtual std::optional<ObjectInstance> createInstance(ObjectClass objectClass) = 0;
    /// Gives up our reference.
    virtual void release(ObjectInstance object) = 0;
    [[nodiscard]] virtual ObjectClass classOf(ObjectInstance object) = 0;

    /// respondsToSelector:, the selector made from its name (NSSelectorFromString).
    [[nodiscard]] virtual bool respondsToSelector(ObjectInstance object, std::string_view selector) = 0;
    /// class_getInstanceMethod and the method's type encodings; absent when the class has no
    /// such instance method.
    [[nodiscard]] virtual std::optional<MethodShape> instanceMethod(
        ObjectClass objectClass, std::string_view selector)
        = 0;
    /// performSelector: with no argument.
    virtual MessageResult perform(ObjectInstance object, std::string_view selector) = 0;

    /// methodForSelector: the method's implementation as a function of its plain C signature
    /// with the receiver first and the selector left out, e.g. bool(ObjectInstance) for a
    /// Boolean getter. Absent when the object has no such method. Throws PlatformMisuse when the
    /// method exists with another signature.
    template <typename Signature>
    [[nodiscard]] std::optional<std::function<Signature>> implementation(
        ObjectInstance object, std::string_view selector)
    {
        std::any found = lookUpImplementation(object, selector);
        if (!found.has_value())
            return std::nullopt;
        if (auto* function = std::any_cast<std::function<Signature>>(&found))
            return std::move(*function);
        throw PlatformMisuse("The method " + std::string(selector) + " was called with a signature it does not have.");
    }

protected:
    [[nodiscard]] virtual std::any lookUpImplementation(ObjectInstance object, std::string_view selector) = 0;
};

} // namespace quorvane
