#include "Quorvane/Views/Design/MenuKey.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QWidget>

namespace quorvane {

bool openContextMenuForMenuKey(QWidget& widget, const QKeyEvent& key, QPoint position)
{
    if (key.key() != Qt::Key_F10 || key.modifiers() != Qt::ShiftModifier)
        return false;
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, position, widget.mapToGlobal(position));
    QApplication::sendEvent(&widget, &menuKey);
    return true;
}

} // namespace quorvane
