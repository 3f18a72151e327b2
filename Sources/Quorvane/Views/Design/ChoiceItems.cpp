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
        if (kind == QAccessible::Value)
            return box().currentText();
        const QString own = QAccessibleWidget::text(kind);
        // Unlabelled, it is still called something.
        return kind == QAccessible::Name && own.isEmpty() ? box().currentText() : own;
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

QAccessibleInterface* labelledDropDown(const QString& className, QObject* object)
{
    auto* box = qobject_cast<QComboBox*>(object);
    // A field that can be typed in is its text: Qt's own serves it.
    if (className != QLatin1String("QComboBox") || !box || box->isEditable())
        return nullptr;
    return new LabelledDropDown(*box);
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
