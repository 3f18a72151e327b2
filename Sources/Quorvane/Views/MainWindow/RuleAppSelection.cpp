#include "Quorvane/Views/MainWindow/RuleAppSelection.h"

#include "Foundation/Format.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/ChoiceItems.h"
#include "Quorvane/Views/Design/QuorStyle.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int largestListHeight = 180;
constexpr int fewestListRows = 3;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

bool hasID(const std::vector<ApplicationReference>& apps, const std::string& id)
{
    return std::ranges::find(apps, id, &ApplicationReference::id) != apps.end();
}

} // namespace

RuleAppSelection::RuleAppSelection(
    AppModel& model, std::vector<ApplicationReference> selected, bool selectsApps, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_selected(std::move(selected))
    , m_selectsApps(selectsApps || !m_selected.empty())
    , m_all(new QRadioButton(QStringLiteral("All apps"), this))
    , m_some(new QRadioButton(QStringLiteral("Selected apps"), this))
    , m_picker(new QWidget(this))
    , m_search(new QLineEdit(m_picker))
    , m_list(new QListWidget(m_picker))
    , m_count(new QLabel(m_picker))
    , m_choose(new QPushButton(QStringLiteral("Choose…"), m_picker))
{
    m_all->setObjectName(QStringLiteral("allApps"));
    m_some->setObjectName(QStringLiteral("selectedApps"));
    m_search->setObjectName(QStringLiteral("searchApps"));
    m_search->setPlaceholderText(QStringLiteral("Search apps"));
    m_search->setAccessibleName(QStringLiteral("Search apps"));
    m_search->setClearButtonEnabled(true);
    m_list->setObjectName(QStringLiteral("appList"));
    m_list->setAccessibleName(QStringLiteral("Apps"));
    m_list->setUniformItemSizes(true);
    m_count->setObjectName(QStringLiteral("appCount"));
    QuorStyle::setRole(*m_count, QuorRole::secondary);
    m_choose->setObjectName(QStringLiteral("chooseApps"));
    m_choose->setToolTip(QStringLiteral("Choose applications"));

    auto* modes = new QHBoxLayout;
    modes->setSpacing(16);
    modes->addWidget(m_all);
    modes->addWidget(m_some);
    modes->addStretch();
    auto* footer = new QHBoxLayout;
    footer->addWidget(m_count);
    footer->addStretch();
    footer->addWidget(m_choose);
    auto* pickerLayout = new QVBoxLayout(m_picker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(8);
    pickerLayout->addWidget(m_search);
    pickerLayout->addWidget(m_list);
    pickerLayout->addLayout(footer);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addLayout(modes);
    layout->addWidget(m_picker);

    connect(m_all, &QRadioButton::clicked, this, [this] { setSelectsApps(false); });
    connect(m_some, &QRadioButton::clicked, this, [this] { setSelectsApps(true); });
    connect(m_search, &QLineEdit::textEdited, this, [this] { refresh(); });
    // The rows are not user-checkable: a click anywhere on a row flips it, once.
    connect(
        m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { toggle(item); });
    // Return acts only on an app the person can see.
    connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (!item->isHidden())
            toggle(item);
    });
    connect(m_choose, &QPushButton::clicked, this, [this] { chooseApplications(); });
    m_list->installEventFilter(this);
    refresh();
}

void RuleAppSelection::setOnChanged(
    std::function<void(std::vector<ApplicationReference>)> onChanged)
{
    m_onChanged = std::move(onChanged);
}

std::vector<ApplicationReference> RuleAppSelection::apps() const
{
    return m_selectsApps ? m_selected : std::vector<ApplicationReference>{};
}

void RuleAppSelection::refresh()
{
    // Picks the model no longer lists stay, first, so that a refresh never drops one.
    std::vector<ApplicationReference> listed;
    for (const ApplicationReference& app : m_selected) {
        if (std::ranges::find(*m_model.apps, app.id, &AppChoice::id) == m_model.apps->end())
            listed.push_back(app);
    }
    for (const AppChoice& app : *m_model.apps)
        listed.push_back({.id = app.id, .name = app.name});
    if (listed != m_listed) {
        m_listed = std::move(listed);
        m_list->clear();
        for (const ApplicationReference& app : m_listed) {
            auto* item = new QListWidgetItem(text(app.name), m_list);
            item->setToolTip(text(app.id));
            item->setFlags(Qt::ItemIsEnabled);
        }
    }
    // As tall as its rows, between a few and a scrolling handful.
    const int rows = std::max(m_list->count(), fewestListRows);
    m_list->setFixedHeight(std::min(rows * m_list->fontMetrics().height() + 8, largestListHeight));
    const QString search = m_search->text().trimmed();
    for (int row = 0; row < m_list->count(); ++row) {
        const ApplicationReference& app = m_listed[static_cast<std::size_t>(row)];
        QListWidgetItem* item = m_list->item(row);
        item->setCheckState(isSelected(app.id) ? Qt::Checked : Qt::Unchecked);
        item->setHidden(!search.isEmpty() && !text(app.name).contains(search, Qt::CaseInsensitive)
            && !text(app.id).contains(search, Qt::CaseInsensitive));
    }
    // A current app that the search hides would take keys without a ring to show it.
    if (const QListWidgetItem* current = m_list->currentItem(); current && current->isHidden()) {
        QListWidgetItem* firstShown = nullptr;
        for (int row = 0; row < m_list->count() && !firstShown; ++row)
            firstShown = m_list->item(row)->isHidden() ? nullptr : m_list->item(row);
        m_list->setCurrentItem(firstShown, QItemSelectionModel::NoUpdate);
    }
    showChosen(m_selectsApps ? *m_some : *m_all, {m_all, m_some});
    m_picker->setVisible(m_selectsApps);
    m_count->setText(m_selected.empty()
            ? QStringLiteral("No apps selected")
            : text(formatInteger(static_cast<std::int64_t>(m_selected.size())) + " selected"));
}

bool RuleAppSelection::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_list || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (key.key() != Qt::Key_Space || key.modifiers() != Qt::NoModifier)
        return false;
    // Held down, it flips the app once, as a check box does.
    QListWidgetItem* current = m_list->currentItem();
    if (!key.isAutoRepeat() && current && !current->isHidden())
        toggle(current);
    return true;
}

void RuleAppSelection::setSelectsApps(bool selectsApps)
{
    if (selectsApps == m_selectsApps)
        return;
    m_selectsApps = selectsApps;
    changed();
}

void RuleAppSelection::toggle(QListWidgetItem* item)
{
    const int row = m_list->row(item);
    if (row < 0)
        return;
    const ApplicationReference& app = m_listed[static_cast<std::size_t>(row)];
    if (isSelected(app.id))
        std::erase_if(
            m_selected, [&](const ApplicationReference& picked) { return picked.id == app.id; });
    else
        m_selected.push_back(app);
    changed();
}

void RuleAppSelection::chooseApplications()
{
    // Modal: returns once the user closed the panel; cancelling picks nothing.
    const std::vector<AppChoice> chosen = m_model.chooseApplications();
    for (const AppChoice& app : chosen) {
        if (!isSelected(app.id))
            m_selected.push_back({.id = app.id, .name = app.name});
    }
    if (!chosen.empty())
        changed();
}

void RuleAppSelection::changed()
{
    refresh();
    if (m_onChanged)
        m_onChanged(apps());
}

bool RuleAppSelection::isSelected(const std::string& id) const { return hasID(m_selected, id); }

} // namespace quorvane
