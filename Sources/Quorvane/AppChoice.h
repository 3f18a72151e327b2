// The small values the views share with the model: an application offered in pickers, and the
// main window's page.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

/// An installed application offered as a rule condition; identified by its bundle identifier.
struct AppChoice {
    /// The bundle identifier.
    std::string id;
    /// The name shown.
    std::string name;
    /// Where the application is installed, when known.
    std::optional<std::filesystem::path> url{};

    bool operator==(const AppChoice&) const = default;
};

/// The page the main window shows.
enum class AppPage {
    profiles,
    displays,
    settings,
};

[[nodiscard]] std::string_view rawValue(AppPage page);
/// The page whose raw value is `raw`; absent for any other text.
[[nodiscard]] std::optional<AppPage> appPage(std::string_view raw);

} // namespace quorvane

template <> struct std::hash<quorvane::AppChoice> {
    std::size_t operator()(const quorvane::AppChoice& choice) const noexcept;
};
