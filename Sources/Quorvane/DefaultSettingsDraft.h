// Unsaved edits of the Default profile's settings, kept by its page while the user edits.
#pragma once

#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/Rules.h"

#include <algorithm>
#include <set>

namespace quorvane {

struct DefaultSettingsDraft {
    /// The edited copy of the Default settings, for all displays.
    DefaultSettings settings{};
    /// Only these keys are saved.
    std::set<ControlKey> editedKeys{};

    /// `defaults` with the draft's value written explicitly for each edited key (an absent value
    /// clears the stored one), which marks the key's display captured. Keys not edited keep the
    /// value in `defaults`, whatever the draft's copy holds.
    [[nodiscard]] DefaultSettings merged(DefaultSettings defaults) const
    {
        for (const ControlKey& key : editedKeys)
            defaults.setExplicit(settings.value(key), key);
        return defaults;
    }

    /// Whether saving over `defaults` would change a value: some edited key's draft value
    /// differs from the one in `defaults`.
    [[nodiscard]] bool changes(const DefaultSettings& defaults) const
    {
        return std::ranges::any_of(editedKeys,
            [&](const ControlKey& key) { return settings.value(key) != defaults.value(key); });
    }

    bool operator==(const DefaultSettingsDraft&) const = default;
};

} // namespace quorvane
