#include "Quorvane/Views/DisplayTest/DisplayTestPanel.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/EveryDesktop.h"
#include "Quorvane/Views/DisplayTest/DisplayTestActions.h"
#include "Quorvane/Views/DisplayTest/ModePreviewView.h"

#include <QKeyEvent>
#include <QLayout>
#include <QVBoxLayout>

namespace quorvane {

DisplayTestPanel::DisplayTestPanel(AppModel& model, DisplayTestActions& actions)
    : QWidget(nullptr,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_model(model)
    , m_actions(actions)
    , m_content(new ModePreviewView(model, actions, this))
{
    setWindowTitle(QStringLiteral("Display test"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_content);
    // It opens with the keyboard on no button: Return and Escape answer it, and a key meant for
    // the control that started the test must not press Keep or Revert.
    setFocus(Qt::OtherFocusReason);
    // Set before the panel is first shown: the window manager reads it when the window maps.
    showOnEveryDesktop(*this);
}

bool DisplayTestPanel::canBecomeKey() const { return !m_menuWindow || !m_menuWindow->isVisible(); }

void DisplayTestPanel::refit()
{
    // Now, not at the next layout request: the panel is presented and grabbed right after.
    m_content->layout()->activate();
    layout()->activate();
    adjustSize();
}

bool DisplayTestPanel::event(QEvent* event)
{
    // The popover keeps the keyboard while it is open: hand activation straight back.
    if (event->type() == QEvent::WindowActivate && !canBecomeKey())
        m_menuWindow->activateWindow();
    return QWidget::event(event);
}

void DisplayTestPanel::keyPressEvent(QKeyEvent* event)
{
    const std::optional<DisplayPreview>& preview = *m_model.preview;
    if (preview && answerTestKey(*event, *preview, m_actions)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool answerTestKey(
    const QKeyEvent& event, const DisplayPreview& preview, DisplayTestActions& actions)
{
    constexpr Qt::KeyboardModifiers chords
        = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event.modifiers() & chords)
        return false;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event.isAutoRepeat() && preview.phase == DisplayPreview::Phase::confirming)
            actions.keep();
        return true;
    case Qt::Key_Escape:
        if (!event.isAutoRepeat() && preview.phase != DisplayPreview::Phase::reverting)
            actions.revert();
        return true;
    default:
        return false;
    }
}

} // namespace quorvane
