#include "Quorvane/Views/Design/ChoiceItems.h"

#include <QComboBox>
#include <QStringList>

namespace quorvane {

void showItems(QComboBox& box, const QStringList& items, int current)
{
    QStringList shown;
    for (int index = 0; index < box.count(); ++index)
        shown.push_back(box.itemText(index));
    if (shown != items) {
        box.clear();
        box.addItems(items);
    }
    box.setCurrentIndex(current);
}

} // namespace quorvane
