#include "QuorvaneMac/AccessibilityPermission.h"

#include "MacPlatform/Accessibility.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/Workspace.h"

#include <string>

namespace quorvane {

void requestAccessibilityPermission(Platform& platform)
{
    const PlatformDictionary options{
        {std::string(trustedCheckOptionPrompt), PlatformValue::boolean(true)}};
    if (platform.accessibility.isProcessTrustedWithOptions(options))
        return;
    (void)platform.workspace.openURL(accessibilityPrivacySettingsLink);
}

} // namespace quorvane
