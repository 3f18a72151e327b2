#include "Quorvane/Views/DisplayTest/ModePreviewView.h"

#include "Concurrency/Executor.h"
#include "Foundation/Format.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/MonospacedDigitsLabel.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/DisplayTest/DisplayTestActions.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvane {

namespace {

using namespace std::chrono_literals;

constexpr auto untimedCountdown = 15s;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString subtitleOf(const DisplayPreview& preview)
{
    if (keepSaves(preview))
        return QStringLiteral("Display mode changes need confirmation. Check the picture before "
                              "saving; Revert cancels saving.");
    return QStringLiteral(
        "Display mode changes need confirmation. Check the picture before keeping these settings.");
}

QString phaseText(DisplayPreview::Phase phase)
{
    switch (phase) {
    case DisplayPreview::Phase::applying:
        return QStringLiteral("Applying preview…");
    case DisplayPreview::Phase::verifying:
        return QStringLiteral("Checking the display before keeping…");
    case DisplayPreview::Phase::reverting:
        return QStringLiteral("Restoring previous configuration…");
    case DisplayPreview::Phase::confirming:
        break;
    }
    return {};
}

/// The time left until the deadline, never negative.
std::chrono::nanoseconds timeLeft(const std::optional<Date>& deadline, Date now)
{
    if (!deadline)
        return untimedCountdown;
    return std::max(std::chrono::nanoseconds(*deadline - now), std::chrono::nanoseconds(0));
}

/// Whole seconds, rounded up: 2.2 seconds left show as 3.
std::int64_t countdownSeconds(std::chrono::nanoseconds left) { return (left + 1s - 1ns) / 1s; }

QLabel* makeLabel(QuorRole role, const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    QuorStyle::setRole(*label, role);
    label->setWordWrap(true);
    return label;
}

} // namespace

ModePreviewView::ModePreviewView(AppModel& model, DisplayTestActions& actions, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_heading(new PageHeading(QStringLiteral("Display test"), QString(), std::nullopt, this))
    , m_resolutionLine(makeLabel(QuorRole::callout, "resolution", this))
    , m_refreshLine(makeLabel(QuorRole::callout, "refreshRate", this))
    , m_hdrLine(makeLabel(QuorRole::callout, "hdr", this))
    , m_restoreNote(makeLabel(QuorRole::callout, "restoreNote", this))
    , m_countdown(new MonospacedDigitsLabel(this))
    , m_confirmRow(new QWidget(this))
    , m_revert(new QPushButton(QStringLiteral("Revert now"), m_confirmRow))
    , m_keep(new QPushButton(m_confirmRow))
    , m_progressRow(new QWidget(this))
    , m_progress(new QProgressBar(m_progressRow))
    , m_phaseText(makeLabel(QuorRole::callout, "phase", m_progressRow))
    , m_cancel(new QPushButton(QStringLiteral("Cancel preview"), this))
{
    m_heading->setObjectName(QStringLiteral("heading"));
    // The seconds change under the user's eyes: the words after them must not move.
    m_countdown->setObjectName(QStringLiteral("countdown"));
    QuorStyle::setRole(*m_countdown, QuorRole::countdown);
    m_revert->setObjectName(QStringLiteral("revert"));
    m_keep->setObjectName(QStringLiteral("keep"));
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_restoreNote->setText(
        QStringLiteral("Your previous resolution will be restored after this test."));
    QuorStyle::setRole(*m_keep, QuorRole::prominent);
    // Busy, with no known end.
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(48, 8);

    auto* requested = new QVBoxLayout;
    requested->setSpacing(6);
    requested->addWidget(m_resolutionLine);
    requested->addWidget(m_refreshLine);
    requested->addWidget(m_hdrLine);

    auto* confirmLayout = new QHBoxLayout(m_confirmRow);
    confirmLayout->setContentsMargins(0, 0, 0, 0);
    confirmLayout->addWidget(m_revert);
    confirmLayout->addStretch();
    confirmLayout->addWidget(m_keep);

    auto* progressLayout = new QHBoxLayout(m_progressRow);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->addWidget(m_progress);
    progressLayout->addWidget(m_phaseText, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 30, 30, 30);
    layout->setSpacing(20);
    layout->addWidget(m_heading);
    layout->addLayout(requested);
    layout->addWidget(m_restoreNote);
    layout->addWidget(m_countdown);
    layout->addWidget(m_confirmRow);
    layout->addWidget(m_progressRow);
    layout->addWidget(m_cancel, 0, Qt::AlignLeft);
    setFixedWidth(510);

    connect(m_revert, &QPushButton::clicked, this, [&actions] { actions.revert(); });
    connect(m_cancel, &QPushButton::clicked, this, [&actions] { actions.revert(); });
    connect(m_keep, &QPushButton::clicked, this, [&actions] { actions.keep(); });
    refresh();
}

void ModePreviewView::refresh()
{
    const std::optional<DisplayPreview>& preview = *m_model.preview;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setVisible(preview.has_value());
    if (!preview) {
        m_countdownTick.cancel();
        return;
    }
    m_heading->setTitle(
        text(m_model.screenLabel({.id = preview->displayID, .name = preview->name})));
    m_heading->setSubtitle(subtitleOf(*preview));
    refreshRequestedMode();
    m_restoreNote->setVisible(preview->restoreAfterKeep);

    const bool isConfirming = preview->phase == DisplayPreview::Phase::confirming;
    m_countdown->setVisible(isConfirming);
    m_confirmRow->setVisible(isConfirming);
    m_keep->setText(text(preview->confirmationTitle));
    m_progressRow->setVisible(!isConfirming);
    m_phaseText->setText(phaseText(preview->phase));
    m_cancel->setVisible(preview->phase == DisplayPreview::Phase::applying
        || preview->phase == DisplayPreview::Phase::verifying);
    refreshCountdown();
}

void ModePreviewView::refreshRequestedMode()
{
    const ModeConfiguration& mode = m_model.preview.get()->requested;
    m_resolutionLine->setVisible(mode.resolution.has_value());
    if (mode.resolution)
        m_resolutionLine->setText(text(mode.resolution->label()));
    m_refreshLine->setVisible(mode.refreshRate.has_value());
    if (mode.refreshRate)
        m_refreshLine->setText(text("Refresh rate: " + mode.refreshRate->label()));
    m_hdrLine->setVisible(mode.hdr.has_value());
    if (mode.hdr)
        m_hdrLine->setText(*mode.hdr ? QStringLiteral("HDR: On") : QStringLiteral("HDR: Off"));
}

void ModePreviewView::refreshCountdown()
{
    m_countdownTick.cancel();
    const std::optional<DisplayPreview>& preview = *m_model.preview;
    if (!preview || preview->phase != DisplayPreview::Phase::confirming)
        return;
    const std::chrono::nanoseconds left = timeLeft(preview->deadline, m_model.executor().wallNow());
    const std::int64_t seconds = countdownSeconds(left);
    m_countdown->setText(text("Reverting automatically in " + formatInteger(seconds) + " seconds"));
    // Without a deadline the number stands still; otherwise redraw when it next drops.
    if (preview->deadline && seconds > 0)
        scheduleCountdownTick(left - std::chrono::seconds(seconds - 1));
}

void ModePreviewView::scheduleCountdownTick(std::chrono::nanoseconds untilChange)
{
    m_countdownTick.start(m_model.executor(), untilChange, [this] { refreshCountdown(); });
}

} // namespace quorvane
