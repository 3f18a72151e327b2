#include "Quorvane/Views/Design/ChoiceItems.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QStringList>

#include <utility>

namespace quorvane {

namespace {

/// A drop-down as assistive technology meets it: its label for a name, its entry for a value,
/// and the list it opens as its one child.
class LabelledDropDown final : public QAccessibleWidget {
public:
    explicit LabelledDropDown(QComboBox& box)
        : QAccessibleWidget(&box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? box().currentText() : QAccessibleWidget::text(kind);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box().view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == box().view() ? 0 : -1;
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (box().view()->isVisible())
            box().hidePopup();
        else
            box().showPopup();
    }

private:
    QComboBox& box() const { return static_cast<QComboBox&>(*widget()); }
};

QAccessibleInterface* labelledDropDown(const QString&, QObject* object)
{
    auto* box = qobject_cast<QComboBox*>(object);
    return box ? new LabelledDropDown(*box) : nullptr;
}

} // namespace

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

void showChosen(QAbstractButton& chosen, std::initializer_list<QAbstractButton*> group)
{
    for (QAbstractButton* button : group) {
        button->setChecked(button == &chosen);
        button->setFocusPolicy(button == &chosen ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void nameDropDownsByTheirLabels()
{
    static bool isInstalled = false;
    if (!std::exchange(isInstalled, true))
        QAccessible::installFactory(labelledDropDown);
}

} // namespace quorvane
