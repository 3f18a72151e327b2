// Keeps a window on every desktop (virtual workspace) the window manager offers.
#pragma once

class QWidget;

namespace quorvane {

/// Asks the window manager to show `window` on every desktop: on X11 through the desktop and
/// sticky-state properties, before the window is first mapped. Elsewhere (offscreen, Wayland) it
/// does nothing. Creates the native window if it does not exist yet.
void showOnEveryDesktop(QWidget& window);

/// Whether `window` asks the window manager for every desktop (the desktop property and the
/// sticky state); false without X11.
[[nodiscard]] bool isAskedOntoEveryDesktop(QWidget& window);

} // namespace quorvane
