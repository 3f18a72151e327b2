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
    const bool submits = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!submits && event->key() != Qt::Key_Escape) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat() || m_isFinished)
        return;
    m_isFinished = true;
    if (submits)
        emit submitted();
    else
        emit cancelled();
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
