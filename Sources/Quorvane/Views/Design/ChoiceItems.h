// Shows a list of choices in a drop-down that the model redraws at any time.
#pragma once

#include <QStringList>

class QComboBox;

namespace quorvane {

/// Shows `items` with the one at `current` chosen (-1: none). The items are replaced only when
/// they changed, so that a redraw leaves an open list where the person is in it.
void showItems(QComboBox& box, const QStringList& items, int current);

} // namespace quorvane
