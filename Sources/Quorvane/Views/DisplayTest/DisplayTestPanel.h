// The floating "Display test" window: always on top, a tool window with no window buttons,
// answered with its buttons, Return and Escape.
#pragma once

#include <QPointer>
#include <QWidget>

class QKeyEvent;

namespace quorvane {

class AppModel;
class DisplayTestActions;
class ModePreviewView;
struct DisplayPreview;

class DisplayTestPanel final : public QWidget {
public:
    /// `model` and `actions` must outlive the panel.
    DisplayTestPanel(AppModel& model, DisplayTestActions& actions);

    [[nodiscard]] ModePreviewView& content() const { return *m_content; }

    /// The popover's window; while it is visible the panel never takes the keyboard from it.
    void setMenuWindow(QWidget* menuWindow) { m_menuWindow = menuWindow; }
    [[nodiscard]] QWidget* menuWindow() const { return m_menuWindow; }
    [[nodiscard]] bool canBecomeKey() const;
    /// Lays the content out now and takes its size, without moving.
    void refit();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    AppModel& m_model;
    DisplayTestActions& m_actions;
    ModePreviewView* m_content;
    QPointer<QWidget> m_menuWindow;
};

/// Return, keypad Enter and Escape without Shift, Control, Alt or Meta answer the test: Return
/// and Enter keep while it is confirming, Escape reverts unless it is reverting already. A
/// repeated key, or one that does not fit the phase, is swallowed without effect. True when the
/// key was one of these (consumed); false lets every other key pass.
bool answerTestKey(
    const QKeyEvent& event, const DisplayPreview& preview, DisplayTestActions& actions);

} // namespace quorvane
