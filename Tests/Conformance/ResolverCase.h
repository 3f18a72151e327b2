// One resolver/NAME.json case: a profile, Default settings, a context, capabilities and holds,
// and the plan the rule resolver must make of them.
#pragma once

#include <filesystem>

namespace quorvane {

/// Resolves the case in `caseFile` and compares the plan with its "expect": assignments and
/// unavailable controls keyed by control, rule evaluations keyed by rule id, each exactly the
/// expected ones. Reports a file that cannot be read, and every difference, as GoogleTest
/// failures.
void runResolverCase(const std::filesystem::path& caseFile);

} // namespace quorvane
