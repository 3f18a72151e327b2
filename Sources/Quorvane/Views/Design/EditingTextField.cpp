#include "Quorvane/Views/Design/EditingTextField.h"

#include "Quorvane/Views/Design/QuorStyle.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace quorvane {

namespace {

// Focus that leaves for a moment and comes back: the user has not left the field.
bool isPassingFocusLoss(Qt::FocusReason reason)
{
    return reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason
        || reason == Qt::MenuBarFocusReason;
}

} // namespace

EditingTextField::EditingTextField(const QString& title, Size size, QWidget* parent)
    : QLineEdit(parent)
{
    setPlaceholderText(title);
    setAccessibleName(title);
    if (size == Size::heading)
        QuorStyle::setRole(*this, QuorRole::editingHeading);
}

void EditingTextField::showModelText(const QString& text)
{
    if (hasFocus() || isModified())
        return;
    setText(text);
}

void EditingTextField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        if (!event->isAutoRepeat() && !m_isFinished) {
            m_isFinished = true;
            emit submitted();
        }
        return;
    case Qt::Key_Escape:
        event->accept();
        if (!event->isAutoRepeat() && !m_isFinished) {
            m_isFinished = true;
            emit cancelled();
        }
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void EditingTextField::focusInEvent(QFocusEvent* event)
{
    m_isFinished = false;
    QLineEdit::focusInEvent(event);
}

void EditingTextField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (m_isFinished || isPassingFocusLoss(event->reason()))
        return;
    m_isFinished = true;
    emit blurred();
}

} // namespace quorvane
