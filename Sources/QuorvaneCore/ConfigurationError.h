// Why the settings document cannot be used or saved.
#pragma once

#include "Foundation/Error.h"

#include <cstdint>
#include <string>
#include <variant>

namespace quorvane {

class ConfigurationError final : public Error {
public:
    struct UnsupportedVersion {
        std::int64_t version;
        bool operator==(const UnsupportedVersion&) const = default;
    };
    /// One fixed sentence saying which check of the document failed.
    struct Invalid {
        std::string message;
        bool operator==(const Invalid&) const = default;
    };
    /// The store refuses every save after a failed load or save.
    struct ReadOnly {
        bool operator==(const ReadOnly&) const = default;
    };
    using Case = std::variant<UnsupportedVersion, Invalid, ReadOnly>;

    explicit ConfigurationError(Case errorCase)
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
