// DynamicLoader.h: opening private frameworks at run time and looking up their functions
// (dlopen and dlsym). Any image or symbol may be missing; callers treat that as unavailability.
#pragma once

#include "MacPlatform/PlatformMisuse.h"

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

/// An open image. Images are never closed.
struct LoadedImage {
    std::uint64_t handle;
    bool operator==(const LoadedImage&) const = default;
};

/// Stands for dlopen and dlsym. Functions are handed out as std::function of their C signature,
/// so the simulated platform can check the shape a caller expects.
class DynamicLoader {
public:
    /// RTLD_LAZY | RTLD_LOCAL, the mode private frameworks are opened with.
    static constexpr int lazyLocal = 5;

    virtual ~DynamicLoader() = default;

    /// dlopen: absent when the image cannot be opened.
    [[nodiscard]] virtual std::optional<LoadedImage> open(std::string_view path, int mode) = 0;

    /// dlsym: the function `name` of `image` with the C signature `Signature`, absent when the
    /// image has no such symbol. Throws PlatformMisuse when the symbol exists with another
    /// signature: on the real platform that call would be undefined.
    template <typename Signature>
    [[nodiscard]] std::optional<std::function<Signature>> symbol(
        LoadedImage image, std::string_view name)
    {
        std::any found = lookUp(image, name);
        if (!found.has_value())
            return std::nullopt;
        if (auto* function = std::any_cast<std::function<Signature>>(&found))
            return std::move(*function);
        throw PlatformMisuse("The symbol " + std::string(name) + " was looked up with a signature it does not have.");
    }

protected:
    /// The symbol as a std::function of its own signature; empty when there is none.
    [[nodiscard]] virtual std::any lookUp(LoadedImage image, std::string_view name) = 0;
};

} // namespace quorvane
