// Switches the process's numeric C locale to one that writes a decimal comma, as the user
// interface does when it adopts the user's locale, and switches it back afterwards.
#pragma once

#include <clocale>
#include <optional>
#include <string>

namespace quorvane {

class ScopedCommaLocale final {
public:
    static constexpr const char* missingMessage = "No locale with a decimal comma: generate one "
                                                  "with `localedef -i de_DE -f UTF-8 de_DE.UTF-8`.";

    /// Absent when the machine has no locale with a decimal comma (none was generated).
    [[nodiscard]] static std::optional<std::string> availableName()
    {
        const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
        std::optional<std::string> found;
        for (const char* name :
            {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8", "it_IT.UTF-8",
                "es_ES.UTF-8", "pt_BR.UTF-8", "ru_RU.UTF-8", "de_DE", "fr_FR"}) {
            if (std::setlocale(LC_NUMERIC, name)
                && std::string(std::localeconv()->decimal_point) == ",") {
                found = name;
                break;
            }
        }
        std::setlocale(LC_NUMERIC, previous.c_str());
        return found;
    }

    explicit ScopedCommaLocale(const std::string& name)
        : m_previous(std::setlocale(LC_NUMERIC, nullptr))
    {
        std::setlocale(LC_NUMERIC, name.c_str());
    }
    ~ScopedCommaLocale() { std::setlocale(LC_NUMERIC, m_previous.c_str()); }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

private:
    std::string m_previous;
};

} // namespace quorvane
