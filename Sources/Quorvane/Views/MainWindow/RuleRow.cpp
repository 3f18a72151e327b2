#include "Quorvane/Views/MainWindow/RuleRow.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/RuleCellLabels.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

namespace quorvane {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// A tip that shows `shown` as typed: a tip that looks like markup is taken for markup.
QString plainToolTip(const QString& shown)
{
    if (!Qt::mightBeRichText(shown))
        return shown;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + shown.toHtmlEscaped()
        + QStringLiteral("</p>");
}

/// A cell that opens the rule when clicked; unlike a button it lets its wrapped texts take the
/// height they need.
class ClickableCell final : public QWidget {
public:
    ClickableCell(std::function<void()> action, QWidget* parent)
        : QWidget(parent)
        , m_action(std::move(action))
    {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            m_action();
    }

private:
    std::function<void()> m_action;
};

QToolButton* orderButton(std::string_view symbol, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    QuorStyle::setRole(*button, QuorRole::plain);
    button->setIcon(symbolIcon(symbol, QuorStyle::secondaryText()));
    button->setFixedSize(32, 32);
    return button;
}

} // namespace

RuleRow::RuleRow(ContentView& content, UUID profileID, Rule rule, QWidget* parent)
    : QFrame(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_rule(std::move(rule))
    , m_enabled(new SwitchButton(QString(), this))
    , m_name(new QLabel)
    , m_conditions(new QLabel)
    , m_up(orderButton("chevron.up", this))
    , m_down(orderButton("chevron.down", this))
{
    QuorStyle::setRole(*this, QuorRole::ruleRow);
    setAttribute(Qt::WA_StyledBackground);
    setAcceptDrops(true);
    m_enabled->setObjectName(QStringLiteral("enabled"));
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_name->setObjectName(QStringLiteral("name"));
    m_conditions->setObjectName(QStringLiteral("conditions"));
    // Rule, app and screen names are shown as typed, never as markup.
    m_name->setTextFormat(Qt::PlainText);
    m_conditions->setTextFormat(Qt::PlainText);
    QuorStyle::setRole(*m_name, QuorRole::ruleName);
    QuorStyle::setRole(*m_conditions, QuorRole::secondary);
    m_conditions->setWordWrap(true);
    m_conditions->setMaximumHeight(2 * m_conditions->fontMetrics().lineSpacing() + 2);

    auto* handle = new QLabel(this);
    handle->setObjectName(QStringLiteral("handle"));
    handle->setPixmap(symbolIcon("line.3.horizontal", QuorStyle::secondaryText()).pixmap(12, 12));
    handle->setFixedSize(12, 32);
    handle->setAlignment(Qt::AlignCenter);
    handle->setToolTip(QStringLiteral("Drag to reorder or copy to another profile"));
    handle->setCursor(Qt::OpenHandCursor);

    auto* nameAndConditions = new QWidget;
    auto* nameLayout = new QVBoxLayout(nameAndConditions);
    nameLayout->setContentsMargins(0, 0, 0, 0);
    nameLayout->setSpacing(5);
    nameLayout->addStretch();
    nameLayout->addWidget(m_name);
    nameLayout->addWidget(m_conditions);
    nameLayout->addStretch();
    QWidget* ruleButton = makeCell(nameAndConditions, 0);
    ruleButton->setObjectName(QStringLiteral("ruleButton"));
    ruleButton->setMinimumHeight(32);
    ruleButton->setToolTip(QString());

    auto* ruleColumn = new QWidget(this);
    ruleColumn->setFixedWidth(220);
    auto* ruleLayout = new QHBoxLayout(ruleColumn);
    ruleLayout->setContentsMargins(0, 0, 0, 0);
    ruleLayout->setSpacing(8);
    ruleLayout->addWidget(handle);
    ruleLayout->addWidget(m_enabled);
    ruleLayout->addWidget(ruleButton, 1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(22, 16, 22, 16);
    layout->setSpacing(0);
    layout->addWidget(ruleColumn);
    // Every row as tall as the rules area counts on, whatever its texts.
    setMinimumHeight(RulesTable::rowHeight - 1);
    for (const SettingKey key : allSettingKeys) {
        auto* value = new QLabel;
        value->setObjectName(QString::fromLatin1(rawValue(key).data(), rawValue(key).size()));
        QuorStyle::setRole(*value, QuorRole::cellValue);
        value->setWordWrap(true);
        m_values.emplace(key, value);
        layout->addWidget(makeCell(value, 88));
    }
    auto* order = new QWidget(this);
    order->setFixedWidth(72);
    auto* orderLayout = new QHBoxLayout(order);
    orderLayout->setContentsMargins(0, 0, 0, 0);
    orderLayout->setSpacing(4);
    orderLayout->addStretch();
    orderLayout->addWidget(m_up);
    orderLayout->addWidget(m_down);
    orderLayout->addStretch();
    layout->addWidget(order);

    // clicked, not toggled: showRule() sets the state too, and that must not call the model.
    connect(m_enabled, &SwitchButton::clicked, this, [this](bool isOn) {
        if (isOn != m_rule.isEnabled)
            m_content.model().toggleRule(m_rule.id, m_profileID);
        m_content.scheduleRefresh(); // a refused toggle snaps back there
    });
    connect(m_up, &QToolButton::clicked, this,
        [this] { m_content.model().moveRule(m_rule.id, m_profileID, -1); });
    connect(m_down, &QToolButton::clicked, this,
        [this] { m_content.model().moveRule(m_rule.id, m_profileID, 1); });
}

QWidget* RuleRow::makeCell(QWidget* content, int width)
{
    auto* cell = new ClickableCell([this] { m_content.edit(m_rule); }, this);
    auto* layout = new QVBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (width > 0)
        cell->setFixedSize(width, 32);
    return cell;
}

void RuleRow::showRule(const Rule& rule, std::size_t index, std::size_t count)
{
    m_rule = rule;
    const QString name = text(rule.name);
    m_enabled->setChecked(rule.isEnabled);
    m_enabled->setAccessibleName(QStringLiteral("Enable ") + name);
    m_enabled->setToolTip(
        rule.isEnabled ? QStringLiteral("Disable rule") : QStringLiteral("Enable rule"));
    m_enabled->setEnabled(m_content.acceptsActions());
    m_name->setText(name);
    m_conditions->setText(text(rule.conditions.compactLabel()));
    m_conditions->setToolTip(plainToolTip(text(rule.conditions.label())));
    for (const auto& [key, value] : m_values) {
        value->setText(text(key == SettingKey::hdr ? m_content.model().hdrRuleLabel(rule)
                                                   : settingCellText(rule, key)));
        QuorStyle::setState(*value, rule.settings.value(key) ? "" : "unset");
    }
    m_up->setEnabled(index > 0);
    m_down->setEnabled(index + 1 < count);
    m_up->setAccessibleName(QStringLiteral("Move ") + name + QStringLiteral(" up"));
    m_down->setAccessibleName(QStringLiteral("Move ") + name + QStringLiteral(" down"));
    const std::optional<RuleDraft>& draft = m_content.draft();
    QuorStyle::setState(*this, draft && draft->rule.id == rule.id ? "editing" : "");
}

bool RuleRow::drop(const QString& text)
{
    const std::optional<UUID> moved = UUID::parse(text.trimmed().toStdString());
    if (!moved)
        return false;
    m_content.model().moveRule(*moved, m_rule.id, m_profileID);
    return true;
}

QMenu* RuleRow::contextMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Edit rule"), this, [this] { m_content.edit(m_rule); });
    menu->addAction(QStringLiteral("Duplicate rule"), this, [this] { duplicate(); });
    menu->addAction(QStringLiteral("Delete rule"), this, [this] { remove(); });
    return menu;
}

void RuleRow::duplicate()
{
    Rule copy = m_rule;
    copy.id = UUID::random();
    copy.name += " copy";
    const bool selectsApps = copy.conditions.hasAppCondition();
    m_content.setDraft(RuleDraft{.profileID = m_profileID,
        .rule = std::move(copy),
        .isNew = true,
        .selectsApps = selectsApps});
}

void RuleRow::remove()
{
    const UUID ruleID = m_rule.id;
    ContentView& content = m_content; // the redraw may delete this row
    content.model().deleteRule(ruleID, m_profileID);
    if (content.draft() && content.draft()->rule.id == ruleID)
        content.setDraft(std::nullopt);
}

void RuleRow::contextMenuEvent(QContextMenuEvent* event)
{
    contextMenu()->popup(event->globalPos());
}

void RuleRow::mousePressEvent(QMouseEvent* event)
{
    QFrame::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        m_pressedAt = event->position().toPoint();
}

void RuleRow::mouseMoveEvent(QMouseEvent* event)
{
    QFrame::mouseMoveEvent(event);
    if (!m_pressedAt || !(event->buttons() & Qt::LeftButton)
        || (event->position().toPoint() - *m_pressedAt).manhattanLength()
            < QApplication::startDragDistance())
        return;
    m_pressedAt.reset();
    auto* drag = new QDrag(this);
    drag->setMimeData(ruleDragData(m_rule));
    drag->setPixmap(grab());
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
}

void RuleRow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void RuleRow::dropEvent(QDropEvent* event)
{
    if (event->mimeData()->hasText() && drop(event->mimeData()->text()))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace quorvane
