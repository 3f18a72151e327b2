// Turns settings files of older schema versions into the current document.
#pragma once

#include "QuorvaneCore/Configuration.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>

namespace quorvane {

/// Pure conversions without state; the store writes what they return. Every version first loses
/// the retired sound-volume settings, and rules that set nothing but the volume disappear.
class SettingsMigration final {
public:
    // Nothing to hold: every conversion is a function of the file's parsed document.
    SettingsMigration() = delete;

    /// The settings of a version-2 file, given parsed, whose profiles each carried their own
    /// defaults: the chosen base profile's defaults become the one Default profile, which is
    /// active, and the base's rules move to a new profile named "My rules" (or "My rules (2)"
    /// ...). The result has passed validate(). Throws JSONDecodingError for a document that
    /// breaks the old layout, and ConfigurationError for old profiles or sound settings that
    /// make no sense and for a converted document that fails validate().
    [[nodiscard]] static Configuration version2(nlohmann::json document);

    /// The settings of a version-3 or version-4 file, given parsed, which has the current layout
    /// apart from the sound settings; `version` is the number the store read. Only the schema
    /// version changes, to the current one. The result has passed validate(). Throws
    /// JSONDecodingError as the current decoder does, ConfigurationError (unsupportedVersion) when
    /// the decoded number is not `version`, and ConfigurationError for invalid sound settings or a
    /// document that fails validate().
    [[nodiscard]] static Configuration sharedDefaults(
        nlohmann::json document, std::int64_t version);
};

} // namespace quorvane
