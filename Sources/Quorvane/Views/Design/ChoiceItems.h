// Shows choices that the model redraws at any time: a drop-down's list, a group of buttons.
#pragma once

#include <QStringList>

#include <initializer_list>

class QAbstractButton;
class QComboBox;

namespace quorvane {

/// Shows `items` with the one at `current` chosen (-1: none). The items are replaced only when
/// they changed, so that a redraw leaves an open list where the person is in it.
void showItems(QComboBox& box, const QStringList& items, int current);

/// Checks `chosen` among the buttons of its group and makes it the group's one tab stop: Tab and
/// Shift+Tab enter a group of choices at the chosen one, the arrows move the choice within it.
void showChosen(QAbstractButton& chosen, std::initializer_list<QAbstractButton*> group);

/// Lets assistive technology name every drop-down, from now on, by its label (its accessible name,
/// else the label whose buddy it is) and hear its chosen entry as its value. Qt names a drop-down
/// by its chosen entry on Linux: a screen reader then says "30 minutes" and never of what.
void nameDropDownsByTheirLabels();

} // namespace quorvane
