// Shift+F10, the Menu key of keyboards without one.
#pragma once

#include <QPoint>

class QKeyEvent;
class QWidget;

namespace quorvane {

/// For Shift+F10, sends `widget` the context-menu event the Menu key sends, at `position` in the
/// widget, and returns true; returns false, sending nothing, for any other key.
bool openContextMenuForMenuKey(QWidget& widget, const QKeyEvent& key, QPoint position);

} // namespace quorvane
