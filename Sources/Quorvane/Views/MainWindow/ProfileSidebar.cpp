#include "Quorvane/Views/MainWindow/ProfileSidebar.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorMark.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileList.h"
#include "Quorvane/Views/MainWindow/ProfileRowDelegate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorvane {

namespace {

QLabel* label(const QString& text, QuorRole role, QWidget* parent)
{
    auto* made = new QLabel(text, parent);
    QuorStyle::setRole(*made, role);
    return made;
}

} // namespace

ProfileSidebar::ProfileSidebar(ContentView& content, QWidget* parent)
    : QWidget(parent)
    , m_content(content)
    , m_create(new QToolButton(this))
    , m_profiles(new ProfileList(content, this))
    , m_displays(new QPushButton(
          symbolIcon("display.2", QuorStyle::primaryText()), QStringLiteral("Displays"), this))
    , m_settings(new QPushButton(symbolIcon("slider.horizontal.3", QuorStyle::primaryText()),
          QStringLiteral("Settings"), this))
{
    QuorStyle::setRole(*this, QuorRole::sidebar);
    setAttribute(Qt::WA_StyledBackground);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(10);
    brand->setContentsMargins(0, 20, 0, 0);
    brand->addWidget(new QuorMark(36, this));
    brand->addWidget(label(QStringLiteral("QuorVane"), QuorRole::brand, this));
    brand->addStretch();

    m_create->setObjectName(QStringLiteral("createProfile"));
    m_create->setIcon(symbolIcon("plus", QuorStyle::secondaryText()));
    m_create->setToolTip(QStringLiteral("Create profile"));
    m_create->setAccessibleName(QStringLiteral("Create profile"));
    QuorStyle::setRole(*m_create, QuorRole::plain);
    auto* profilesHeader = new QHBoxLayout;
    profilesHeader->setContentsMargins(8, 0, 8, 0);
    profilesHeader->addWidget(label(QStringLiteral("PROFILES"), QuorRole::eyebrow, this));
    profilesHeader->addStretch();
    profilesHeader->addWidget(m_create);
    // Each row keeps half the gap between rows above and below it; the section's spacing and
    // its foot give that back.
    constexpr int halfGap = ProfileRowDelegate::gap / 2;
    auto* profiles = new QVBoxLayout;
    profiles->setSpacing(8 - halfGap);
    profiles->setContentsMargins(0, 0, 0, -halfGap);
    profiles->addLayout(profilesHeader);
    profiles->addWidget(m_profiles);

    for (QPushButton* nav : {m_displays, m_settings}) {
        QuorStyle::setRole(*nav, QuorRole::navButton);
        nav->setCursor(Qt::PointingHandCursor);
    }
    m_displays->setObjectName(QStringLiteral("displays"));
    m_settings->setObjectName(QStringLiteral("settings"));
    auto* navigation = new QVBoxLayout;
    navigation->setSpacing(6);
    navigation->addWidget(m_displays);
    navigation->addWidget(m_settings);

    auto* divider = new QWidget(this);
    QuorStyle::setRole(*divider, QuorRole::divider);
    divider->setFixedHeight(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(24);
    layout->addLayout(brand);
    layout->addLayout(profiles);
    layout->addWidget(divider);
    layout->addLayout(navigation);
    layout->addStretch(1);
    layout->addWidget(label(QStringLiteral("YOUR DISPLAYS. YOUR RULES."), QuorRole::footer, this));

    connect(m_create, &QToolButton::clicked, this, [this] { m_content.openNewProfileDialog(); });
    connect(m_displays, &QPushButton::clicked, this,
        [this] { m_content.model().page.set(AppPage::displays); });
    connect(m_settings, &QPushButton::clicked, this,
        [this] { m_content.model().page.set(AppPage::settings); });
    // The window opens with the keyboard on the list, where a key chooses nothing: not on "+",
    // the first control, where a second press of the key that opened the window would act.
    m_profiles->setFocus(Qt::OtherFocusReason);
}

QPushButton& ProfileSidebar::navButton(AppPage page) const
{
    return page == AppPage::settings ? *m_settings : *m_displays;
}

void ProfileSidebar::refresh()
{
    m_profiles->refresh();
    m_create->setEnabled(m_content.acceptsActions());
    const AppPage page = *m_content.model().page;
    QuorStyle::setState(*m_displays, page == AppPage::displays ? "selected" : "");
    QuorStyle::setState(*m_settings, page == AppPage::settings ? "selected" : "");
}

} // namespace quorvane
