// Settings documents of any size for the benchmarks: eight displays with Default settings, and
// rules that use every kind of condition and setting.
#pragma once

#include "QuorvaneCore/Configuration.h"

namespace quorvane::bench {

/// A validated document: the Default profile with settings for every display, then profiles of
/// `rulesPerProfile` rules each, `ruleCount` in all. The Default profile stays active.
[[nodiscard]] Configuration configurationWith(int ruleCount, int rulesPerProfile = 100);

/// Every rule in one profile besides Default, the active one, with automation on.
[[nodiscard]] Configuration activeProfileWith(int ruleCount);

} // namespace quorvane::bench
