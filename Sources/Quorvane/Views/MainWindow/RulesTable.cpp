#include "Quorvane/Views/MainWindow/RulesTable.h"

#include "Concurrency/Executor.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTableModel.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int cornerRadius = 14;
/// A held drag scrolls a sixth of a row at its first step, and speeds up to half a row a step.
constexpr int autoScrollStep = RulesTable::rowHeight / 6;
constexpr int fastestAutoScrollSteps = 3;

/// The part of `widget` that its ancestors up to its window leave on screen, in its coordinates:
/// the page may have scrolled part of the table away.
QRect visiblePart(const QWidget& widget)
{
    QRect shown = widget.rect();
    for (const QWidget* ancestor = &widget; !ancestor->isWindow();) {
        ancestor = ancestor->parentWidget();
        shown &= QRect(widget.mapFrom(ancestor, QPoint()), ancestor->size());
    }
    return shown;
}

QWidget* divider(QWidget* parent)
{
    auto* line = new QWidget(parent);
    QuorStyle::setRole(*line, QuorRole::divider);
    line->setFixedHeight(1);
    return line;
}

QLabel* headerLabel(const RulesTableModel& rules, int column, int width, QWidget* parent)
{
    auto* label
        = new QLabel(rules.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), parent);
    QuorStyle::setRole(*label, QuorRole::tableHeader);
    label->setFixedWidth(width);
    const bool isOrder = column == RulesTableModel::orderColumn;
    label->setAlignment((isOrder ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    return label;
}

QWidget* headerRow(const RulesTableModel& rules, QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* labels = new QHBoxLayout;
    labels->setContentsMargins(22, 12, 22, 12);
    labels->setSpacing(0);
    labels->addWidget(headerLabel(rules, RulesTableModel::ruleColumn, 220, header));
    for (const SettingKey key : allSettingKeys) {
        QLabel* label = headerLabel(rules, RulesTableModel::columnOf(key), 88, header);
        label->setObjectName(
            QString::fromLatin1(rawValue(key).data(), static_cast<qsizetype>(rawValue(key).size()))
            + QStringLiteral("Header"));
        labels->addWidget(label);
    }
    labels->addWidget(headerLabel(rules, RulesTableModel::orderColumn, 72, header));
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(labels, 1);
    layout->addWidget(divider(header));
    header->setFixedSize(RulesTable::tableWidth, RulesTable::headerHeight);
    header->setBackgroundRole(QPalette::Base);
    header->setAutoFillBackground(true);
    return header;
}

/// A scroll bar drawn over the table's edge, mirroring the area's own hidden one: the table is
/// exactly as wide and, while the rules fit, as high as its area, so a bar beside it would cover
/// the order buttons or push the table aside.
QScrollBar* overlayBar(QScrollBar& hidden, QWidget& area)
{
    auto* overlay = new QScrollBar(hidden.orientation(), &area);
    overlay->setFocusPolicy(Qt::NoFocus);
    QObject::connect(
        &hidden, &QScrollBar::rangeChanged, overlay, [&hidden, overlay](int low, int high) {
            overlay->setPageStep(hidden.pageStep());
            overlay->setRange(low, high);
            overlay->setVisible(high > low);
        });
    QObject::connect(&hidden, &QScrollBar::valueChanged, overlay, &QScrollBar::setValue);
    QObject::connect(overlay, &QScrollBar::valueChanged, &hidden, &QScrollBar::setValue);
    overlay->hide();
    return overlay;
}

/// The card's rounded corners and hairline border, drawn over the rows that scroll beneath.
class CardOutline final : public QWidget {
public:
    explicit CardOutline(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds(rect());
        QPainterPath card;
        card.addRoundedRect(bounds, cornerRadius, cornerRadius);
        QPainterPath outside;
        outside.addRect(bounds);
        painter.fillPath(outside.subtracted(card), palette().window());
        QColor border = QuorStyle::primaryText();
        border.setAlphaF(0.06f);
        painter.setPen(QPen(border, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(
            bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
    }
};

} // namespace

RulesTable::RulesTable(ContentView& content, UUID profileID, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_rules(new RulesTableModel(content.model(), m_profileID, this))
    , m_header(headerRow(*m_rules, this))
    , m_verticalBar(overlayBar(*verticalScrollBar(), *this))
    , m_horizontalBar(overlayBar(*horizontalScrollBar(), *this))
    , m_outline(new CardOutline(this))
{
    setFrameShape(QFrame::NoFrame);
    // The rows' controls take the focus and show it. The card itself has no way to show it: as a
    // tab stop it would hide the focus, and taking a click it would send the next tab to the
    // first row laid out, above the ones on screen.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The header stands above the viewport, which shows only rows: what scrolls into view there
    // is seen.
    setViewportMargins(0, headerHeight, 0, 0);
    // The focus waits on the viewport itself, where keys do nothing, while no row holds it.
    viewport()->setFocusProxy(nullptr);
    // A notch of the wheel scrolls by one row.
    verticalScrollBar()->setSingleStep(rowHeight / 3);
    horizontalScrollBar()->setSingleStep(rowHeight / 3);
    m_outline->raise();
    m_verticalBar->raise();
    m_horizontalBar->raise();

    connect(m_rules, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            for (RuleRow* row : m_rows) {
                if (!row->isHidden() && row->shownRow() >= topLeft.row()
                    && row->shownRow() <= bottomRight.row())
                    row->showRule(*m_rules, row->shownRow());
            }
        });
    const auto relayout = [this] {
        updateScrollRanges();
        layoutRows(Reshow::all);
    };
    connect(m_rules, &QAbstractItemModel::rowsRemoved, this, relayout);
    connect(m_rules, &QAbstractItemModel::rowsMoved, this, [this, relayout] {
        // The focus goes with its rule, and stays in sight when it was.
        const RuleRow* focused = focusedRowWidget();
        const bool wasShown = focused && viewport()->rect().intersects(focused->geometry());
        relayout();
        if (const std::optional<int> row = focusedRow(); row && wasShown)
            scrollToRow(*row);
    });
    connect(m_rules, &QAbstractItemModel::modelReset, this, relayout);
    connect(m_rules, &QAbstractItemModel::rowsInserted, this,
        [this, relayout](const QModelIndex&, int, int last) {
            relayout();
            scrollToRow(last); // a new rule shows at once, however long the table
        });
    relayout();
}

void RulesTable::refresh()
{
    m_rules->refresh();
    for (RuleRow* row : m_rows) {
        if (!row->isHidden())
            row->showState();
    }
}

RuleRow* RulesTable::rowOf(const UUID& ruleID) const
{
    const auto row = std::ranges::find_if(
        m_rows, [&](const RuleRow* row) { return !row->isHidden() && row->ruleID() == ruleID; });
    return row == m_rows.end() ? nullptr : *row;
}

void RulesTable::scrollToRow(int row)
{
    const int top = row * rowHeight;
    const int bottom = (row + 1) * rowHeight;
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(top);
    else if (bottom > bar->value() + viewport()->height())
        bar->setValue(bottom - viewport()->height());
}

QWidget* RulesTable::revealRule(const UUID& ruleID)
{
    const std::optional<int> row = m_rules->rowOf(ruleID);
    if (!row)
        return nullptr;
    scrollToRow(*row);
    RuleRow* shown = rowOf(ruleID);
    return shown ? shown->focusableControls().front() : nullptr;
}

void RulesTable::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
    layoutRows(Reshow::newlyPlaced);
    placeOverlays();
}

void RulesTable::scrollContentsBy(int, int) { layoutRows(Reshow::newlyPlaced); }

bool RulesTable::focusNextPrevChild(bool next)
{
    // Qt passes on the focus of a control it disables or hides, as a tab would. It stays, and
    // waits where keys do nothing; the rows stay where they are.
    if (const QWidget* focus = window()->focusWidget();
        focus && isAncestorOf(focus) && !(focus->isEnabled() && focus->isVisible()))
        return true;
    // A focused row scrolled out of view brings its neighbours back first, so that the focus
    // moves on to them.
    if (const std::optional<int> row = focusedRow())
        scrollToRow(*row);
    const bool moved = QAbstractScrollArea::focusNextPrevChild(next);
    if (const std::optional<int> row = focusedRow())
        scrollToRow(*row);
    return moved;
}

bool RulesTable::eventFilter(QObject* watched, QEvent* event)
{
    // Drags reach only the rows among the widgets watched: the scroll bars take none.
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove) {
        const auto& drag = static_cast<const QDragMoveEvent&>(*event);
        if (drag.mimeData()->hasText())
            followDrag(
                static_cast<QWidget*>(watched)->mapTo(viewport(), drag.position().toPoint()));
    }
    // A leave may only pass the drag on to the next row, so the scroll goes on until its step.
    if (type == QEvent::DragLeave || type == QEvent::Drop)
        m_dragPosition.reset();
    if (type == QEvent::Drop)
        return redirectDrop(static_cast<QWidget&>(*watched), static_cast<QDropEvent&>(*event));
    return QAbstractScrollArea::eventFilter(watched, event);
}

void RulesTable::updateScrollRanges()
{
    const QSize shown = viewport()->size();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setPageStep(shown.height());
    vertical->setRange(0, std::max(0, rowHeight * m_rules->rowCount() - shown.height()));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setPageStep(shown.width());
    horizontal->setRange(0, std::max(0, tableWidth - shown.width()));
}

void RulesTable::layoutRows(Reshow reshow)
{
    // A row shown anew may move the focus, and the focus scroll the table, while the rows are
    // laid out: the layout that asks for runs once this one is over, never inside it.
    if (m_isLayingOut) {
        m_pendingLayout = std::max(m_pendingLayout.value_or(reshow), reshow); // all covers both
        return;
    }
    m_isLayingOut = true;
    for (std::optional<Reshow> next = reshow; next;
         next = std::exchange(m_pendingLayout, std::nullopt))
        layOutOnce(*next);
    m_isLayingOut = false;
}

void RulesTable::layOutOnce(Reshow reshow)
{
    m_rules->refresh(); // what follows reads rows, and must read them as the document has them
    const std::map<int, RuleRow*> placed = assignRows(reshow);
    const QPoint origin(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    m_header->move(origin.x(), 0); // whole, however far the rows scroll
    std::vector<int> shown;
    for (const auto& [index, row] : placed) {
        row->move(origin + QPoint(0, index * rowHeight));
        row->show();
        shown.push_back(index);
    }
    // A row placed later reads its rule then; changes elsewhere need no look.
    m_rules->watchRows(shown);
    orderFocusChain(placed);
}

std::map<int, RuleRow*> RulesTable::assignRows(Reshow reshow)
{
    // Plain names, not a structured binding: clang 14 lets no lambda capture one.
    const std::pair<int, int> range = placedRows();
    const int first = range.first;
    const int end = range.second;
    const std::optional<int> focused = focusedRow();
    updateVacatedRow();
    const int vacated = m_vacated ? m_vacated->shownRow() : -1;
    // The focused row stays even off screen, so that the focus stays with its rule; so do the
    // rules on either side of a vacated row, which the tab keys reach from it.
    const auto isWanted = [&](int row) {
        return (row >= first && row < end) || row == focused
            || (vacated >= 0 && (row == vacated - 1 || row == vacated));
    };
    std::map<int, RuleRow*> placed;
    std::vector<RuleRow*> spare;
    for (RuleRow* row : m_rows) {
        const std::optional<int> shown = tableRowOf(*row);
        if (row == m_vacated)
            continue;
        if (!shown || !isWanted(*shown) || placed.contains(*shown)) {
            spare.push_back(row);
            continue;
        }
        if (reshow == Reshow::all || *shown != row->shownRow())
            row->showRule(*m_rules, *shown);
        placed.emplace(*shown, row);
    }
    const auto takeSpare = [&] {
        if (spare.empty())
            return addRow();
        RuleRow* row = spare.back();
        spare.pop_back();
        return row;
    };
    for (int index = first; index < end; ++index) {
        if (placed.contains(index))
            continue;
        RuleRow* row = takeSpare();
        row->showRule(*m_rules, index);
        placed.emplace(index, row);
    }
    for (RuleRow* row : spare)
        row->hide();
    if (m_vacated)
        m_vacated->hide();
    return placed;
}

void RulesTable::updateVacatedRow()
{
    const QWidget* focus = window()->focusWidget();
    const auto vacated = std::ranges::find_if(
        m_rows, [&](const RuleRow* row) { return row->isAncestorOf(focus) && !tableRowOf(*row); });
    if (vacated != m_rows.end())
        m_vacated = *vacated;
    else if (focus != viewport())
        m_vacated = nullptr; // the focus moved on: the row is a spare like any other
}

RuleRow* RulesTable::addRow()
{
    auto* row = new RuleRow(m_content, m_profileID, viewport());
    row->installEventFilter(this);
    m_rows.push_back(row);
    return row;
}

void RulesTable::placeOverlays()
{
    m_outline->setGeometry(rect());
    // Beside the rows, which are what scrolls.
    m_verticalBar->setGeometry(width() - 10, headerHeight + 2, 8, height() - headerHeight - 4);
    m_horizontalBar->setGeometry(2, height() - 10, width() - 4, 8);
}

std::pair<int, int> RulesTable::placedRows() const
{
    const int top = verticalScrollBar()->value();
    const int firstShown = top / rowHeight;
    const int endShown = (top + viewport()->height() + rowHeight - 1) / rowHeight;
    return {std::max(0, firstShown - 1), std::min(m_rules->rowCount(), endShown + 1)};
}

std::optional<int> RulesTable::tableRowOf(const RuleRow& row) const
{
    if (row.isHidden())
        return std::nullopt;
    const int shown = row.shownRow();
    if (shown < m_rules->rowCount() && m_rules->ruleID(shown) == row.ruleID())
        return shown;
    return m_rules->rowOf(row.ruleID());
}

RuleRow* RulesTable::focusedRowWidget() const
{
    const QWidget* focus = window()->focusWidget();
    const auto row = std::ranges::find_if(
        m_rows, [&](const RuleRow* row) { return !row->isHidden() && row->isAncestorOf(focus); });
    return row == m_rows.end() ? nullptr : *row;
}

std::optional<int> RulesTable::focusedRow() const
{
    const RuleRow* row = focusedRowWidget();
    return row ? tableRowOf(*row) : std::nullopt;
}

void RulesTable::orderFocusChain(const std::map<int, RuleRow*>& placed)
{
    // Spare widgets come back in any order: the tab key follows the rules, not the widgets. The
    // vacated row keeps its rule's place, just before the rule that took it.
    std::vector<std::pair<int, const RuleRow*>> order;
    for (const auto& [index, row] : placed)
        order.emplace_back(2 * index + 1, row);
    if (m_vacated)
        order.emplace_back(2 * m_vacated->shownRow(), m_vacated);
    std::ranges::sort(order);
    // Qt chains nothing after a widget that takes no focus, as the card: the rows follow the last
    // stop before it, also when they were made after the page.
    QWidget* previous = previousInFocusChain();
    while (
        previous != this && (!(previous->focusPolicy() & Qt::TabFocus) || isAncestorOf(previous)))
        previous = previous->previousInFocusChain();
    for (const auto& [place, row] : order) {
        for (QWidget* control : row->focusableControls()) {
            QWidget::setTabOrder(previous, control);
            previous = control;
        }
    }
}

void RulesTable::followDrag(QPoint position)
{
    m_dragPosition = position;
    if (m_autoScrollTick.isPending() || autoScrollDirection() == 0)
        return;
    m_autoScrollSteps = 0;
    scheduleAutoScroll();
}

int RulesTable::autoScrollDirection() const
{
    if (!m_dragPosition)
        return 0;
    const QRect shown = visiblePart(*viewport());
    const QScrollBar& bar = *verticalScrollBar();
    if (m_dragPosition->y() < shown.top() + autoScrollMargin && bar.value() > bar.minimum())
        return -1;
    if (m_dragPosition->y() > shown.bottom() - autoScrollMargin && bar.value() < bar.maximum())
        return 1;
    return 0;
}

void RulesTable::scheduleAutoScroll()
{
    // The executor's clock, not a Qt timer: tests hold a drag on virtual time.
    m_autoScrollTick.start(
        m_content.model().executor(), autoScrollInterval, [this] { autoScroll(); });
}

void RulesTable::autoScroll()
{
    const int direction = autoScrollDirection();
    if (direction == 0)
        return;
    m_autoScrollSteps = std::min(m_autoScrollSteps + 1, fastestAutoScrollSteps);
    QScrollBar& bar = *verticalScrollBar();
    bar.setValue(bar.value() + direction * m_autoScrollSteps * autoScrollStep);
    scheduleAutoScroll();
}

bool RulesTable::redirectDrop(const QWidget& receiver, QDropEvent& event)
{
    RuleRow* target = rowAt(receiver.mapTo(viewport(), event.position().toPoint()));
    if (target == &receiver)
        return false;
    if (target && event.mimeData()->hasText() && target->drop(event.mimeData()->text()))
        event.acceptProposedAction();
    else
        event.ignore();
    return true;
}

RuleRow* RulesTable::rowAt(QPoint position) const
{
    const auto row = std::ranges::find_if(m_rows,
        [&](const RuleRow* row) { return !row->isHidden() && row->geometry().contains(position); });
    return row == m_rows.end() ? nullptr : *row;
}

} // namespace quorvane
