// DisplayError.h: the platform layer's error for native brightness, gamma tables, display lookups,
// display modes and display preferences.
#pragma once

#include "Foundation/Error.h"

#include <cstdint>
#include <string>
#include <variant>

namespace quorvane {

class DisplayError final : public Error {
public:
    /// The text is the whole description.
    struct Unavailable {
        std::string message;
        bool operator==(const Unavailable&) const = default;
    };
    /// A platform call that returned a failure status; `name` says what it was doing ("read",
    /// "write", "color transform", "display mode").
    struct Operation {
        std::string name;
        std::int32_t status;
        bool operator==(const Operation&) const = default;
    };
    struct InvalidBrightness {
        bool operator==(const InvalidBrightness&) const = default;
    };
    using Case = std::variant<Unavailable, Operation, InvalidBrightness>;

    static DisplayError unavailable(std::string message)
    {
        return DisplayError(Unavailable{std::move(message)});
    }
    static DisplayError operation(std::string name, std::int32_t status)
    {
        return DisplayError(Operation{std::move(name), status});
    }
    static DisplayError invalidBrightness() { return DisplayError(InvalidBrightness{}); }

    explicit DisplayError(Case errorCase)
        : Error(describe(errorCase))
        , m_case(std::move(errorCase))
    {
    }
    [[nodiscard]] const Case& errorCase() const noexcept { return m_case; }

private:
    static std::string describe(const Case& errorCase);

    Case m_case;
};

} // namespace quorvane
