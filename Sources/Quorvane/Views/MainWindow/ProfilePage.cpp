#include "Quorvane/Views/MainWindow/ProfilePage.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/ProfileActivationToggle.h"
#include "Quorvane/Views/Design/QuorDisclosureHeader.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/Design/TabOrder.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileDisplayPreferencesView.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "QuorvaneMac/BrightnessKeyMonitor.h"
#include "QuorvaneMac/FocusedWindowProvider.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int largestRulesAreaHeight = 360;

QLabel* label(const QString& text, QuorRole role, QWidget* parent)
{
    auto* made = new QLabel(text, parent);
    QuorStyle::setRole(*made, role);
    return made;
}

QLabel* symbol(std::string_view name, const QColor& colour, QWidget* parent)
{
    auto* picture = new QLabel(parent);
    picture->setPixmap(symbolIcon(name, colour).pixmap(16, 16));
    picture->setAlignment(Qt::AlignTop);
    return picture;
}

} // namespace

ProfilePage::ProfilePage(ContentView& content, UUID profileID, QWidget* parent)
    : QWidget(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(20);
    layout->addWidget(buildHeading());
    layout->addWidget(buildAccessNotice());
    layout->addWidget(buildRulesHeader());
    layout->addWidget(buildEmptyState());
    m_table = new RulesTable(content, m_profileID, this);
    m_table->setObjectName(QStringLiteral("rulesArea"));
    m_table->setFixedWidth(RulesTable::tableWidth);
    layout->addWidget(m_table);
    layout->addWidget(buildOrderNote());
    layout->addWidget(new ProfileDisplayPreferencesView(content.model(), m_profileID, this));
    layout->addStretch();
    refresh();
}

int ProfilePage::rulesAreaHeight(std::size_t count)
{
    return std::min(RulesTable::rowHeight * static_cast<int>(count) + RulesTable::headerHeight,
        largestRulesAreaHeight);
}

QWidget* ProfilePage::buildHeading()
{
    auto* heading = new QWidget(this);
    m_nameColumn = new QWidget(heading);
    auto* left = new QVBoxLayout(m_nameColumn);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(8);
    left->addWidget(label(QStringLiteral("PROFILE"), QuorRole::eyebrow, m_nameColumn));
    m_name = new ElidedLabel(m_nameColumn);
    m_name->setObjectName(QStringLiteral("profileName"));
    QuorStyle::setRole(*m_name, QuorRole::pageTitle);
    m_name->installEventFilter(this);
    left->addWidget(m_name);

    auto* menuButton = new QToolButton(heading);
    menuButton->setObjectName(QStringLiteral("profileMenu"));
    menuButton->setIcon(symbolIcon("ellipsis", QuorStyle::primaryText()));
    menuButton->setAccessibleName(QStringLiteral("Profile"));
    menuButton->setFixedWidth(30);
    menuButton->setPopupMode(QToolButton::InstantPopup);
    QuorStyle::setRole(*menuButton, QuorRole::plain);
    auto* menu = new QMenu(menuButton);
    menu->addAction(QStringLiteral("Rename…"), this, [this] {
        m_content.beginProfileRename({ProfileRenameTarget::Site::heading, m_profileID});
    });
    menu->addAction(QStringLiteral("Duplicate"), this,
        [this] { m_content.model().duplicateProfile(m_content.model().selectedProfile()); });
    menu->addSeparator();
    m_deleteAction = menu->addAction(QStringLiteral("Delete…"), this,
        [this] { m_content.confirmDeletion(m_content.model().selectedProfile()); });
    QuorStyle::markDestructive(*m_deleteAction);
    menuButton->setMenu(menu);
    m_menuButton = menuButton;

    auto* right = new QVBoxLayout;
    right->setSpacing(10);
    right->addWidget(
        new ProfileActivationToggle(m_content.model(), m_profileID, heading), 0, Qt::AlignRight);
    right->addWidget(menuButton, 0, Qt::AlignRight);

    auto* layout = new QHBoxLayout(heading);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_nameColumn, 1, Qt::AlignTop);
    layout->addLayout(right);
    followLayout(*heading);
    return heading;
}

QWidget* ProfilePage::buildAccessNotice()
{
    m_accessNotice = new QFrame(this);
    m_accessNotice->setObjectName(QStringLiteral("windowAccess"));
    QuorStyle::setRole(*m_accessNotice, QuorRole::notice);
    AppModel& model = m_content.model();
    auto* explanation
        = label(QStringLiteral("Enable QuorVane in System Settings → Privacy & Security → ")
                + QString::fromStdString(BrightnessKeyMonitor::permissionPaneName(model.platform()))
                + QStringLiteral(". Matching screen settings apply automatically once access is "
                                 "granted."),
            QuorRole::secondary, m_accessNotice);
    explanation->setWordWrap(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(5);
    texts->addWidget(label(QStringLiteral("App screen settings need window access"),
        QuorRole::noticeTitle, m_accessNotice));
    texts->addWidget(explanation);
    auto* allow = new QPushButton(QStringLiteral("Allow window access…"), m_accessNotice);
    allow->setObjectName(QStringLiteral("allowWindowAccess"));
    connect(allow, &QPushButton::clicked, this, [this] {
        AppModel& shown = m_content.model();
        shown.focus().requestPermission();
        // A permission granted at once shows without waiting for the next event.
        shown.contextChanged();
    });
    auto* layout = new QHBoxLayout(m_accessNotice);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    layout->addWidget(symbol("exclamationmark.triangle", QuorStyle::amber(), m_accessNotice));
    layout->addLayout(texts, 1);
    layout->addWidget(allow, 0, Qt::AlignTop);
    return m_accessNotice;
}

QWidget* ProfilePage::buildRulesHeader()
{
    auto* header = new QWidget(this);
    m_rulesHeader = new QuorDisclosureHeader(QStringLiteral("Rules"), true, std::nullopt, header);
    m_rulesHeader->setObjectName(QStringLiteral("rulesHeader"));
    m_addRule = new QPushButton(
        symbolIcon("plus", QuorStyle::primaryText()), QStringLiteral("Add rule"), header);
    m_addRule->setObjectName(QStringLiteral("addRule"));
    connect(m_rulesHeader, &QuorDisclosureHeader::expandedChanged, this,
        [this](bool isExpanded) { m_content.setShowsRules(isExpanded); });
    connect(m_addRule, &QPushButton::clicked, this, [this] { addRule(); });
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_rulesHeader);
    layout->addStretch();
    layout->addWidget(m_addRule);
    return header;
}

QWidget* ProfilePage::buildEmptyState()
{
    m_emptyState = new QFrame(this);
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    QuorStyle::setRole(*m_emptyState, QuorRole::emptyState);
    m_emptyState->setMinimumHeight(180);
    auto* picture = new QLabel(m_emptyState);
    picture->setPixmap(
        symbolIcon("slider.horizontal.3", QuorStyle::secondaryText()).pixmap(32, 32));
    auto* description = label(QStringLiteral("Choose an app, a screen, a Space, or a combination. "
                                             "Then set how your displays should behave."),
        QuorRole::subtitle, m_emptyState);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter);
    auto* layout = new QVBoxLayout(m_emptyState);
    layout->setContentsMargins(40, 24, 40, 24);
    layout->setSpacing(10);
    layout->addStretch();
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(label(QStringLiteral("Your first rule"), QuorRole::dialogTitle, m_emptyState),
        0, Qt::AlignHCenter);
    layout->addWidget(description);
    layout->addStretch();
    return m_emptyState;
}

QWidget* ProfilePage::buildOrderNote()
{
    m_orderNote = new QWidget(this);
    m_orderNote->setObjectName(QStringLiteral("orderNote"));
    auto* note = label(QStringLiteral("Matching rules apply in order. Rules run from top to "
                                      "bottom. Each setting uses the first eligible match.\n"
                                      "Settings they do not specify use Default."),
        QuorRole::secondary, m_orderNote);
    note->setWordWrap(true);
    auto* layout = new QHBoxLayout(m_orderNote);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(symbol("exclamationmark.circle", QuorStyle::secondaryText(), m_orderNote));
    layout->addWidget(note, 1);
    return m_orderNote;
}

void ProfilePage::addRule()
{
    m_content.setShowsRules(true);
    Rule rule{.id = UUID::random(), .name = "", .isEnabled = true};
    const bool selectsApps = rule.conditions.hasAppCondition();
    m_content.setDraft(RuleDraft{.profileID = m_profileID,
        .rule = std::move(rule),
        .isNew = true,
        .selectsApps = selectsApps});
}

bool ProfilePage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_name && event->type() == QEvent::MouseButtonDblClick) {
        m_content.beginProfileRename({ProfileRenameTarget::Site::heading, m_profileID});
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ProfilePage::refresh()
{
    AppModel& model = m_content.model();
    const Profile* profile = m_content.profileWithID(m_profileID);
    if (!profile)
        return;
    refreshHeading(*profile);
    m_accessNotice->setVisible(model.needsWindowAccess(*profile));
    m_rulesHeader->setExpanded(m_content.showsRules());
    m_addRule->setEnabled(m_content.acceptsActions());
    m_deleteAction->setEnabled(m_content.acceptsActions() && !model.preview.get());

    const bool showsRules = m_content.showsRules();
    const bool isEmpty = profile->rules.empty();
    m_emptyState->setVisible(showsRules && isEmpty);
    m_table->setVisible(showsRules && !isEmpty);
    m_orderNote->setVisible(showsRules);
    // Sized first: a new rule scrolls into the area as it will be.
    m_table->setFixedHeight(rulesAreaHeight(profile->rules.size()));
    m_table->refresh();
}

void ProfilePage::refreshHeading(const Profile& profile)
{
    m_name->setText(QString::fromStdString(profile.name));
    const bool isRenaming = m_content.renameTarget()
        == ProfileRenameTarget{ProfileRenameTarget::Site::heading, m_profileID};
    m_name->setVisible(!isRenaming);
    if (isRenaming && !m_nameField) {
        EditingTextField* field = m_content.profileNameField(
            {ProfileRenameTarget::Site::heading, m_profileID}, m_nameColumn);
        // As tall as the name it replaces, so that the heading does not move as it opens.
        field->setFixedHeight(m_name->sizeHint().height());
        m_nameColumn->layout()->addWidget(field);
        followLayout(*m_nameColumn->parentWidget());
        field->show();
        field->setFocus(Qt::OtherFocusReason);
        m_nameField = field;
    } else if (!isRenaming && m_nameField) {
        // The keyboard stays in the heading, on the menu that renames, as the field closes.
        if (m_nameField->hasFocus())
            m_menuButton->setFocus(Qt::OtherFocusReason);
        // Later: the field may be inside its own key or focus handler.
        m_nameField->hide();
        m_nameField->deleteLater();
        m_nameField = nullptr;
    }
}

} // namespace quorvane
