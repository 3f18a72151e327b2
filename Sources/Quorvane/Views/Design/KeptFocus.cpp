#include "Quorvane/Views/Design/KeptFocus.h"

namespace quorvane {

namespace {

/// The focused widget of the window around `widget`, whether or not that window is active.
QWidget* focusedIn(const QWidget& widget) { return widget.window()->focusWidget(); }

} // namespace

void KeptFocus::setEnabled(QWidget& control, bool enabled)
{
    change(control, &QWidget::setEnabled, enabled);
}

void KeptFocus::setVisible(QWidget& part, bool visible)
{
    change(part, &QWidget::setVisible, visible);
}

void KeptFocus::change(QWidget& part, void (QWidget::*set)(bool), bool usable)
{
    if (!usable)
        keepNear(part);
    (part.*set)(usable);
    if (usable)
        giveBack();
}

void KeptFocus::keepNear(QWidget& part)
{
    QWidget* focused = focusedIn(part);
    if (!focused || (focused != &part && !part.isAncestorOf(focused)))
        return;
    // Enabled and shown, as the focused control inside it was.
    QWidget* holder = part.parentWidget();
    if (!holder)
        return;
    // Already waiting here: the focus still belongs to the control it waits for.
    if (focused != m_holder || !m_owner)
        m_owner = focused;
    m_holder = holder;
    holder->setFocus(Qt::OtherFocusReason);
}

void KeptFocus::giveBack()
{
    if (!m_owner || !m_holder || focusedIn(*m_holder) != m_holder) {
        // Gone, or the person has put the focus elsewhere: it stays there.
        m_owner.clear();
        m_holder.clear();
        return;
    }
    if (!m_owner->isEnabled() || !m_owner->isVisibleTo(m_owner->window()))
        return;
    m_owner->setFocus(Qt::OtherFocusReason);
    m_owner.clear();
    m_holder.clear();
}

} // namespace quorvane
