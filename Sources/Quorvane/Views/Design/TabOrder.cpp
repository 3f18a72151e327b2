#include "Quorvane/Views/Design/TabOrder.h"

#include <QEvent>
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

void orderStops(const QWidget& view)
{
    const QLayout* layout = view.layout();
    if (!layout)
        return;
    std::vector<QWidget*> stops;
    collectStops(*layout, stops);
    for (std::size_t index = 1; index < stops.size(); ++index)
        QWidget::setTabOrder(stops[index - 1], stops[index]);
}

/// Qt puts a view's widgets back in the order they were made when the view moves into another
/// window, which happens before it shows: each showing orders them again.
class OrderOnShow final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            orderStops(static_cast<QWidget&>(*watched));
        return false;
    }
};

} // namespace

void followLayout(QWidget& view)
{
    orderStops(view);
    if (!view.property("quorvaneFollowsLayout").toBool()) {
        view.setProperty("quorvaneFollowsLayout", true);
        view.installEventFilter(new OrderOnShow(&view));
    }
}

} // namespace quorvane
