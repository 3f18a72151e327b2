// The kinds of conformance case, and what their runners share.
#pragma once

#include "Foundation/JSON.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvane {

// Each runs one case, a folder for settings and a .json file for the others, and reports every
// difference as a GoogleTest failure. A case that cannot be read throws.
void runSettingsCase(const std::filesystem::path& caseFolder);
void runResolverCase(const std::filesystem::path& caseFile);
void runDDCCase(const std::filesystem::path& caseFile);

/// The elements of the array under `key`; none when the key is missing or null.
[[nodiscard]] inline std::vector<JSONValue> listOf(const JSONObject& object, std::string_view key)
{
    const std::optional<JSONValue> list = object.optionalMember(key);
    return list ? list->elements() : std::vector<JSONValue>();
}

} // namespace quorvane
