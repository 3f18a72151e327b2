#include "Quorvane/Views/MenuView.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/SettingsErrorReport.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvane {

MenuView::MenuView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_status(new QLabel(this))
    , m_automation(new QCheckBox(QStringLiteral("Automation"), this))
    , m_displays(new DisplaysPage(model, this))
    , m_resume(new QPushButton(QStringLiteral("Resume"), this))
    , m_quit(new QPushButton(QStringLiteral("Quit"), this))
{
    m_status->setObjectName(QStringLiteral("status"));
    m_automation->setObjectName(QStringLiteral("automation"));
    m_resume->setObjectName(QStringLiteral("resumeAll"));
    m_quit->setObjectName(QStringLiteral("quit"));
    // A settings error is shown whole, as plain text (a message may hold "<"), and its file's
    // path can be copied.
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(QStringLiteral("Quorvane"), this));
    header->addStretch();
    header->addWidget(m_automation);
    layout->addLayout(header);
    layout->addWidget(m_status);
    layout->addWidget(m_displays);
    auto* footer = new QHBoxLayout;
    footer->addWidget(m_resume);
    footer->addStretch();
    footer->addWidget(m_quit);
    layout->addLayout(footer);

    // clicked, not toggled: refresh() sets the state too, and that must not call the model.
    connect(m_automation, &QCheckBox::clicked, this, [this](bool checked) {
        m_model.setAutomation(checked);
        refresh(); // a refused switch leaves the model as it was
    });
    connect(m_resume, &QPushButton::clicked, this, [this] { m_model.resume(std::nullopt); });
    connect(m_quit, &QPushButton::clicked, this, [this] { m_model.quit(); });

    const auto redraw = [this] { refresh(); };
    m_subscriptions.push_back(m_model.configuration.observe(redraw));
    m_subscriptions.push_back(m_model.isLoaded.observe(redraw));
    m_subscriptions.push_back(m_model.settingsError.observe(redraw));
    m_subscriptions.push_back(m_model.isQuitting.observe(redraw));
    refresh();
}

// The subscriptions end before QWidget deletes the children that refresh() touches.
MenuView::~MenuView() { m_subscriptions.clear(); }

void MenuView::refresh()
{
    // A settings error stops all automatic work and refuses the switch.
    const bool hasSettingsError = m_model.settingsError->has_value();
    m_automation->setChecked(m_model.configuration->automationEnabled && !hasSettingsError);
    m_automation->setEnabled(*m_model.isLoaded && !*m_model.isQuitting && !hasSettingsError);
    m_quit->setEnabled(!*m_model.isQuitting);
    if (*m_model.isQuitting)
        m_status->setText(QStringLiteral("Quitting…"));
    else if (hasSettingsError)
        m_status->setText(QString::fromStdString(
            settingsErrorText(**m_model.settingsError, m_model.settingsURL)));
    else if (!*m_model.isLoaded)
        m_status->setText(QStringLiteral("Starting…"));
    else
        m_status->clear();
    m_status->setVisible(!m_status->text().isEmpty());
}

} // namespace quorvane
