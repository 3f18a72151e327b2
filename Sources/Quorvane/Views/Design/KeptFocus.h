// KeptFocus.h: a control that its own work disables or hides keeps the keyboard focus close by,
// and gets it back once it can take it again.
#pragma once

#include <QPointer>
#include <QWidget>

namespace quorvane {

/// Qt hands the focus of a control that is disabled or hidden to the next control in the tab
/// chain, where the person's next key would act. Changed through this object instead, the control
/// leaves the focus on the nearest enclosing widget that can hold it, where keys act on nothing
/// and Tab goes on from the same place; it takes the focus back once it is enabled and shown
/// again, unless the person has moved the focus meanwhile. One per view: the focus waits for one
/// control at a time.
class KeptFocus final {
public:
    /// Enables or disables `control`.
    void setEnabled(QWidget& control, bool enabled);
    /// Shows or hides `part`, which may hold the focused control.
    void setVisible(QWidget& part, bool visible);

private:
    /// Makes `part` usable or not through `set` (enabled, shown), keeping the focus near it.
    void change(QWidget& part, void (QWidget::*set)(bool), bool usable);
    /// Moves the focus off `part` when it is there.
    void keepNear(QWidget& part);
    void giveBack();

    /// The control the focus waits for, and where it waits meanwhile.
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_holder;
};

} // namespace quorvane
