// The content of the display-test panel: what is being tested, the countdown to the automatic
// revert, and Keep and Revert; while the test is busy, what it is doing.
#pragma once

#include "Concurrency/DelayedCall.h"

#include <QWidget>

#include <chrono>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quorvane {

class AppModel;
class DisplayTestActions;
class PageHeading;

/// Shows the model's preview; empty while there is none. The countdown reads the executor's
/// clock and redraws itself each time its number changes.
class ModePreviewView final : public QWidget {
public:
    /// `model` and `actions` must outlive the view.
    ModePreviewView(AppModel& model, DisplayTestActions& actions, QWidget* parent = nullptr);

    /// Shows the preview as the model holds it now.
    void refresh();

private:
    void refreshRequestedMode();
    void refreshCountdown();
    void scheduleCountdownTick(std::chrono::nanoseconds untilChange);

    AppModel& m_model;
    PageHeading* m_heading;
    QLabel* m_resolutionLine;
    QLabel* m_refreshLine;
    QLabel* m_hdrLine;
    QLabel* m_restoreNote;
    QLabel* m_countdown;
    QWidget* m_confirmRow;
    QPushButton* m_revert;
    QPushButton* m_keep;
    QWidget* m_progressRow;
    QProgressBar* m_progress;
    QLabel* m_phaseText;
    QPushButton* m_cancel;
    /// The countdown's next redraw, when its number drops.
    DelayedCall m_countdownTick;
};

} // namespace quorvane
