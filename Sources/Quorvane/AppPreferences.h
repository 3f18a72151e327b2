// The application's own preferences, as the settings page edits them at once.
#pragma once

#include "QuorvaneCore/BrightnessKeys.h"

#include <cstdint>

namespace quorvane {

struct Configuration;

struct AppPreferences {
    /// 0, 5, 15, 30 or 60; 0 holds until the user resumes.
    std::int64_t holdMinutes;
    bool smoothTransitions;
    bool debounceEnabled;
    bool brightnessKeysEnabled;
    BrightnessKeyStep brightnessKeyStep;

    /// The preferences the document holds now.
    [[nodiscard]] static AppPreferences of(const Configuration& configuration);

    bool operator==(const AppPreferences&) const = default;
};

} // namespace quorvane
