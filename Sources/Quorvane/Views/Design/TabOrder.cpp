#include "Quorvane/Views/Design/TabOrder.h"

#include <QLayout>
#include <QWidget>

#include <vector>

namespace quorvane {

namespace {

void collectStops(const QLayout& layout, std::vector<QWidget*>& stops)
{
    for (int index = 0; index < layout.count(); ++index) {
        QLayoutItem* item = layout.itemAt(index);
        if (QWidget* widget = item->widget()) {
            // A control is one stop, whatever it is made of inside.
            if (widget->focusPolicy() & Qt::TabFocus)
                stops.push_back(widget);
            else if (const QLayout* inner = widget->layout())
                collectStops(*inner, stops);
        } else if (const QLayout* inner = item->layout()) {
            collectStops(*inner, stops);
        }
    }
}

} // namespace

void followLayout(QWidget& view)
{
    const QLayout* layout = view.layout();
    if (!layout)
        return;
    std::vector<QWidget*> stops;
    collectStops(*layout, stops);
    for (std::size_t index = 1; index < stops.size(); ++index)
        QWidget::setTabOrder(stops[index - 1], stops[index]);
}

} // namespace quorvane
