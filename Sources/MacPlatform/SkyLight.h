// SkyLight.h: the shapes of the window server's private functions that the platform layer looks
// up by name: the managed display Spaces (SLSCopyManagedDisplaySpaces and its relatives, each
// with a CGS-named fallback), Space-change notifications and the appearance theme.
#pragma once

#include "MacPlatform/PlatformValue.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quorvane {

/// A window-server connection number (CGSConnectionID).
using WindowServerConnection = std::int32_t;
/// A window-server result code (CGError): 0 is success.
using WindowServerStatus = std::int32_t;

/// A property-list value as the window server hands it out (CFNumber, CFBoolean, CFString,
/// CFArray, CFDictionary).
using PropertyList = PlatformValue;

/// The window server's notification callback (CGSNotifyProcPtr): event type, event data and its
/// length, and the context given at registration.
using WindowServerNotifyProc
    = void (*)(std::uint32_t eventType, void* data, std::uint32_t dataLength, void* context);

/// The C signatures the SkyLight image offers, as DynamicLoader::symbol takes them.
namespace skylight {
/// SLSMainConnectionID: this process's connection.
using MainConnectionID = WindowServerConnection();
/// SLSCopyManagedDisplaySpaces: an array with one dictionary per display entry; absent when the
/// window server gives nothing.
using CopyManagedDisplaySpaces = std::optional<PropertyList>(WindowServerConnection);
/// SLSManagedDisplayGetCurrentSpace: the active Space's runtime identifier of the display entry
/// named by its identifier text ("Main" for the shared entry); 0 when unknown.
using ManagedDisplayGetCurrentSpace = std::uint64_t(WindowServerConnection, const std::string&);
/// SLSRegisterNotifyProc and SLSRemoveNotifyProc: callback, event type, context.
using NotifyProcRegistration = WindowServerStatus(WindowServerNotifyProc, std::uint32_t, void*);
/// SLSGetAppearanceThemeLegacy: true while Dark Mode is on.
using GetAppearanceTheme = bool();
/// SLSSetAppearanceThemeLegacy.
using SetAppearanceTheme = void(bool);
} // namespace skylight

} // namespace quorvane
