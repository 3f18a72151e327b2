// AccessibilityPermission.h: asking for the Accessibility permission that window access and the
// brightness-key tap both need.
#pragma once

#include <string_view>

namespace quorvane {

struct Platform;

/// System Settings at the Accessibility list of the privacy and security pane.
inline constexpr std::string_view accessibilityPrivacySettingsLink
    = "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

/// Shows the system's trust prompt; when the process is still not trusted afterwards, opens
/// System Settings where the user grants it.
void requestAccessibilityPermission(Platform& platform);

} // namespace quorvane
