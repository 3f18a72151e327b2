// One settings/NAME/ case: a settings file's bytes, what load() makes of them, what becomes of
// the file, and whether the store saves afterwards.
#pragma once

#include <filesystem>

namespace quorvane {

/// Runs the case in `caseFolder` (input.json, when the file exists before loading, and
/// expect.json) against a SettingsStore over a copy of the input in a new temporary folder.
/// Reports every difference as a GoogleTest failure.
void runSettingsCase(const std::filesystem::path& caseFolder);

} // namespace quorvane
