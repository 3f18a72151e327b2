#include "Quorvane/AppChoice.h"

#include "Foundation/Hash.h"

#include <array>
#include <utility>

namespace quorvane {
namespace {

constexpr std::array<std::pair<AppPage, std::string_view>, 3> pageNames{{
    {AppPage::profiles, "profiles"},
    {AppPage::displays, "displays"},
    {AppPage::settings, "settings"},
}};

} // namespace

std::string_view rawValue(AppPage page)
{
    for (const auto& [candidate, name] : pageNames) {
        if (candidate == page)
            return name;
    }
    return {};
}

std::optional<AppPage> appPage(std::string_view raw)
{
    for (const auto& [page, name] : pageNames) {
        if (name == raw)
            return page;
    }
    return std::nullopt;
}

} // namespace quorvane

std::size_t std::hash<quorvane::AppChoice>::operator()(
    const quorvane::AppChoice& choice) const noexcept
{
    using quorvane::hashCombine;
    const std::hash<std::string> text;
    // A presence marker, so that an absent location never hashes like some present one.
    std::size_t seed = hashCombine(text(choice.id), text(choice.name), choice.url ? 1 : 0);
    if (choice.url)
        seed = hashCombine(seed, std::filesystem::hash_value(*choice.url));
    return seed;
}
