// One ddc/NAME.json case: DDC/CI requests and their bytes, replies and what they decode to.
#pragma once

#include <filesystem>

namespace quorvane {

/// Checks every example of the case in `caseFile` ("readRequest", "writeRequest", "decode")
/// against DDCCodec. Reports a file that cannot be read, or that holds none of the three lists,
/// and every example that differs, as GoogleTest failures.
void runDDCCase(const std::filesystem::path& caseFile);

} // namespace quorvane
