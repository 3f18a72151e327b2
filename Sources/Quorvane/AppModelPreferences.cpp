#include "Quorvane/AppModel.h"

#include "QuorvaneCore/ConfigurationError.h"

namespace quorvane {

AppPreferences AppPreferences::of(const Configuration& configuration)
{
    return {.holdMinutes = configuration.holdMinutes,
        .smoothTransitions = configuration.smoothTransitions,
        .debounceEnabled = configuration.debounceEnabled(),
        .brightnessKeysEnabled = configuration.brightnessKeysEnabled,
        .brightnessKeyStep = configuration.brightnessKeyStep};
}

void AppModel::savePreferences(const AppPreferences& preferences)
{
    if (!isLoaded.get() || settingsError.get())
        return;
    Configuration copy = configuration.get();
    copy.holdMinutes = preferences.holdMinutes;
    copy.smoothTransitions = preferences.smoothTransitions;
    // Switching debounce on again gives the standard wait, whatever the file held before.
    if (preferences.debounceEnabled != copy.debounceEnabled())
        copy.setDebounceEnabled(preferences.debounceEnabled);
    copy.brightnessKeysEnabled = preferences.brightnessKeysEnabled;
    copy.brightnessKeyStep = preferences.brightnessKeyStep;
    if (copy == configuration.get())
        return;
    try {
        copy.validate();
    } catch (const ConfigurationError&) {
        return; // a hold length the file cannot take is not offered; refuse it all the same
    }
    configuration.set(std::move(copy));
    persist();
    updateBrightnessKeys();
}

} // namespace quorvane
