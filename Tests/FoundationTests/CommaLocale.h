// Switches the process's numeric C locale to one that writes a decimal comma, as the user
// interface does when it adopts the user's locale, and switches it back afterwards.
#pragma once

#include <clocale>
#include <string>
#include <string_view>

namespace quorvane {

class ScopedCommaLocale final {
public:
    static constexpr const char* missingMessage = "No locale with a decimal comma: generate one "
                                                  "with `localedef -i de_DE -f UTF-8 de_DE.UTF-8`.";

    ScopedCommaLocale()
        : m_previous(std::setlocale(LC_NUMERIC, nullptr))
    {
        for (const char* name :
            {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"}) {
            if (std::setlocale(LC_NUMERIC, name) && isActive())
                return;
        }
        std::setlocale(LC_NUMERIC, m_previous.c_str());
    }
    ~ScopedCommaLocale() { std::setlocale(LC_NUMERIC, m_previous.c_str()); }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

    /// False when the machine has no locale with a decimal comma (none was generated).
    [[nodiscard]] bool isActive() const
    {
        return std::string_view(std::localeconv()->decimal_point) == ",";
    }

private:
    std::string m_previous;
};

} // namespace quorvane
