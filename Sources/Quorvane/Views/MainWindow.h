// MainWindow.h: the application's main window: its "Quit QuorVane" command, and the activation
// policy that follows it being open.
#pragma once

#include <QMainWindow>

namespace quorvane {

class AppModel;
class ApplicationShell;
class ContentView;

/// Titled "QuorVane", 1034 by 820 at first. Closing it only hides it: the application lives on
/// in the menu bar. While it is open or active the application is a regular one; once it closes,
/// an accessory.
class MainWindow final : public QMainWindow {
public:
    /// `model` and `shell` must outlive the window.
    MainWindow(AppModel& model, ApplicationShell& shell, QWidget* parent = nullptr);

    [[nodiscard]] ContentView& content() const { return *m_content; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void becomeRegular();

    AppModel& m_model;
    ApplicationShell& m_shell;
    ContentView* m_content;
};

} // namespace quorvane
