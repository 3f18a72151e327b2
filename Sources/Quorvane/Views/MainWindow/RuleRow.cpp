#include "Quorvane/Views/MainWindow/RuleRow.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/MenuKey.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/RuleDrag.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/RulesTableModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace quorvane {

namespace {

/// What every cell leaves empty at its right, so that its text never meets the next column's.
constexpr int columnGap = 8;
/// The rule column's width once the handle, the switch and the gaps around them are taken.
constexpr int nameWidth = 220 - 12 - 8 - 36 - 8 - columnGap;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// A tip that shows `shown` as typed: a tip that looks like markup is taken for markup.
QString plainToolTip(const QString& shown)
{
    if (!Qt::mightBeRichText(shown))
        return shown;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + shown.toHtmlEscaped()
        + QStringLiteral("</p>");
}

/// A cell that opens the rule when clicked. It lets the row see the press and the moves, so
/// that a drag may start on it as on the rest of the row.
class ClickableCell final : public QWidget {
public:
    ClickableCell(std::function<void()> action, QWidget* parent)
        : QWidget(parent)
        , m_action(std::move(action))
    {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_pressedAt = event->position().toPoint();
        event->ignore();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        // As far as the row takes it for a drag, it is no click.
        if (m_pressedAt
            && (event->position().toPoint() - *m_pressedAt).manhattanLength()
                >= QApplication::startDragDistance())
            m_pressedAt.reset();
        event->ignore();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const bool isClick = std::exchange(m_pressedAt, std::nullopt)
            && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
        if (isClick)
            m_action();
    }

private:
    std::function<void()> m_action;
    std::optional<QPoint> m_pressedAt;
};

/// A move up or down button. A click focuses it as a tab does, so that the next tab goes on from
/// it; the style shows the focus in its ring.
class OrderButton final : public QToolButton {
public:
    OrderButton(std::string_view symbol, QWidget* parent)
        : QToolButton(parent)
    {
        QuorStyle::setRole(*this, QuorRole::plain);
        setIcon(symbolIcon(symbol, QuorStyle::secondaryText()));
        setFixedSize(32, 32);
        setFocusPolicy(Qt::StrongFocus);
    }
};

/// What a dragged rule shows under the pointer: its name on a small card, not the whole row.
QPixmap dragImage(const QString& name, const QFont& font, qreal pixelRatio)
{
    const QFontMetrics metrics(font);
    const QString shown = metrics.elidedText(name, Qt::ElideRight, nameWidth);
    const QSize size(metrics.horizontalAdvance(shown) + 24, metrics.height() + 12);
    QPixmap image(size * pixelRatio);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0, 0, 0, 40));
    painter.setBrush(QuorStyle::card());
    painter.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 8, 8);
    painter.setPen(QuorStyle::primaryText());
    painter.setFont(font);
    painter.drawText(QRect(QPoint(), size), Qt::AlignCenter, shown);
    return image;
}

} // namespace

/// Text wrapped between words onto at most `lineCount` lines, within a word only where one is
/// longer than a line, the last line ending in "…" where the rest does not fit on it. `text()`
/// stays the whole text, and the label is as tall as the lines it shows.
class RuleRow::FittedLabel final : public QLabel {
public:
    explicit FittedLabel(int lineCount)
        : m_lineCount(lineCount)
    {
        setTextFormat(Qt::PlainText); // names are shown as typed, never as markup
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    /// Shows `shown` with `tip` as its tooltip; without one, the whole text is the tip where it
    /// does not fit.
    void showText(const QString& shown, std::optional<QString> tip = std::nullopt)
    {
        setText(shown);
        m_tip = std::move(tip);
        updateToolTip();
        updateGeometry();
    }

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override
    {
        const QMargins margins = contentsMargins();
        const auto lines = shownLines(width - margins.left() - margins.right()).size();
        return static_cast<int>(std::max<qsizetype>(lines, 1)) * fontMetrics().lineSpacing()
            + margins.top() + margins.bottom();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        updateToolTip();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(),
            isEnabled(), shownLines(area.width()).join(QChar::LineFeed), foregroundRole());
    }

private:
    [[nodiscard]] QStringList shownLines(int width) const
    {
        return elidedLines(text(), font(), width, m_lineCount);
    }
    [[nodiscard]] bool isElided() const
    {
        return shownLines(contentsRect().width()).join(QString()) != text();
    }
    void updateToolTip()
    {
        if (m_tip)
            setToolTip(plainToolTip(*m_tip));
        else
            setToolTip(isElided() ? plainToolTip(text()) : QString());
    }

    int m_lineCount;
    std::optional<QString> m_tip;
};

RuleRow::RuleRow(ContentView& content, UUID profileID, QWidget* parent)
    : QFrame(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_enabled(new SwitchButton(QString(), this))
    , m_name(new FittedLabel(1))
    , m_conditions(new FittedLabel(2))
    , m_up(new OrderButton("chevron.up", this))
    , m_down(new OrderButton("chevron.down", this))
{
    QuorStyle::setRole(*this, QuorRole::ruleRow);
    setAttribute(Qt::WA_StyledBackground);
    setAcceptDrops(true);
    setFixedSize(RulesTable::tableWidth, RulesTable::rowHeight);
    m_enabled->setObjectName(QStringLiteral("enabled"));
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    m_name->setObjectName(QStringLiteral("name"));
    m_conditions->setObjectName(QStringLiteral("conditions"));
    QuorStyle::setRole(*m_name, QuorRole::ruleName);
    QuorStyle::setRole(*m_conditions, QuorRole::ruleConditions);

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

    auto* ruleColumn = new QWidget(this);
    ruleColumn->setFixedWidth(220);
    auto* ruleLayout = new QHBoxLayout(ruleColumn);
    ruleLayout->setContentsMargins(0, 0, 0, 0);
    ruleLayout->setSpacing(8);
    ruleLayout->addWidget(handle);
    ruleLayout->addWidget(m_enabled);
    ruleLayout->addWidget(ruleButton, 1);

    // The divider under the row belongs to it, so that it moves with the row.
    auto* divider = new QWidget(this);
    QuorStyle::setRole(*divider, QuorRole::divider);
    divider->setGeometry(0, RulesTable::rowHeight - 1, RulesTable::tableWidth, 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(22, 16, 22, 16 + 1);
    layout->setSpacing(0);
    layout->addWidget(ruleColumn);
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
        // The document, not m_rule: the row shows a toggle only from the next refresh on, and a
        // second press before it must undo the first.
        if (isOn != isEnabledNow())
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
    layout->setContentsMargins(0, 0, columnGap, 0);
    layout->addWidget(content);
    if (width > 0)
        cell->setFixedSize(width, 32);
    return cell;
}

void RuleRow::showRule(const RulesTableModel& rules, int row)
{
    m_row = row;
    m_rule = rules.rule(row);
    // Named for its rule, so that its controls are known for that rule as the rows are reused.
    setObjectName(QStringLiteral("rule:") + text(m_rule.id.uuidString()));
    const QString name = text(m_rule.name);
    m_enabled->setAccessibleName(QStringLiteral("Enable ") + name);
    m_name->showText(name);
    const QModelIndex ruleCell = rules.index(row, RulesTableModel::ruleColumn);
    m_conditions->showText(ruleCell.data(RulesTableModel::conditionsRole).toString(),
        ruleCell.data(Qt::ToolTipRole).toString());
    for (const auto& [key, value] : m_values) {
        const QModelIndex cell = rules.index(row, RulesTableModel::columnOf(key));
        value->setText(cell.data().toString());
        QuorStyle::setState(*value, cell.data(RulesTableModel::isSetRole).toBool() ? "" : "unset");
    }
    showOrderButtons(row, rules.rowCount());
    m_up->setAccessibleName(QStringLiteral("Move ") + name + QStringLiteral(" up"));
    m_down->setAccessibleName(QStringLiteral("Move ") + name + QStringLiteral(" down"));
    showState();
}

void RuleRow::showOrderButtons(int row, int rowCount)
{
    const bool canMoveUp = row > 0;
    const bool canMoveDown = row + 1 < rowCount;
    m_up->setEnabled(canMoveUp);
    m_down->setEnabled(canMoveDown);
}

void RuleRow::showState()
{
    m_enabled->setChecked(m_rule.isEnabled);
    m_enabled->setToolTip(
        m_rule.isEnabled ? QStringLiteral("Disable rule") : QStringLiteral("Enable rule"));
    m_enabled->setEnabled(m_content.acceptsActions());
    const std::optional<RuleDraft>& draft = m_content.draft();
    QuorStyle::setState(*this, draft && draft->rule.id == m_rule.id ? "editing" : "");
}

bool RuleRow::isEnabledNow() const
{
    const Profile* profile = m_content.profileWithID(m_profileID);
    if (!profile)
        return false;
    const auto rule = std::ranges::find(profile->rules, m_rule.id, &Rule::id);
    return rule != profile->rules.end() && rule->isEnabled;
}

std::array<QWidget*, 3> RuleRow::focusableControls() const { return {m_enabled, m_up, m_down}; }

bool RuleRow::drop(const QString& text)
{
    const std::optional<UUID> moved = draggedRuleID(text);
    if (!moved)
        return false;
    m_content.model().moveRule(*moved, m_rule.id, m_profileID);
    return true;
}

QMenu* RuleRow::contextMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu keeps the rule it opened on, whatever the row shows once the table scrolls.
    menu->addAction(
        QStringLiteral("Edit rule"), this, [this, rule = m_rule] { m_content.edit(rule); });
    menu->addAction(
        QStringLiteral("Duplicate rule"), this, [this, rule = m_rule] { duplicate(rule); });
    QuorStyle::markDestructive(*menu->addAction(
        QStringLiteral("Delete rule"), this, [this, ruleID = m_rule.id] { remove(ruleID); }));
    return menu;
}

void RuleRow::duplicate(Rule copy)
{
    copy.id = UUID::random();
    copy.name += " copy";
    const bool selectsApps = copy.conditions.hasAppCondition();
    m_content.setDraft(RuleDraft{.profileID = m_profileID,
        .rule = std::move(copy),
        .isNew = true,
        .selectsApps = selectsApps});
}

void RuleRow::remove(const UUID& ruleID)
{
    m_content.model().deleteRule(ruleID, m_profileID);
    if (m_content.draft() && m_content.draft()->rule.id == ruleID)
        m_content.setDraft(std::nullopt);
    // Now, not at the end of the turn: the closing menu has given the keys back to the deleted
    // rule's control, and a screen reader would hear of it before a queued refresh took it away.
    m_content.refresh();
}

void RuleRow::contextMenuEvent(QContextMenuEvent* event)
{
    contextMenu()->popup(event->globalPos());
}

void RuleRow::keyPressEvent(QKeyEvent* event)
{
    // The menu opens at the focused control, as the Menu key opens it.
    const QWidget* focused = focusWidget() ? focusWidget() : this;
    if (!openContextMenuForMenuKey(*this, *event, focused->mapTo(this, focused->rect().center())))
        QFrame::keyPressEvent(event);
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
    const QPixmap image = dragImage(text(m_rule.name), m_name->font(), devicePixelRatio());
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(12, static_cast<int>(image.deviceIndependentSize().height() / 2)));
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
