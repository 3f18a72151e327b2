#include "Quorvane/Views/MainWindow/ProfileList.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/MenuKey.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileListModel.h"
#include "Quorvane/Views/MainWindow/ProfileRowDelegate.h"
#include "Quorvane/Views/MainWindow/RuleDrag.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>

#include <algorithm>
#include <utility>

namespace quorvane {

namespace {

constexpr int cellHeight = ProfileRowDelegate::rowHeight + ProfileRowDelegate::gap;

} // namespace

ProfileList::ProfileList(ContentView& content, QWidget* parent)
    : QListView(parent)
    , m_content(content)
    , m_rows(new ProfileListModel(content, this))
{
    setObjectName(QStringLiteral("profiles"));
    setAccessibleName(QStringLiteral("Profiles"));
    setModel(m_rows);
    setItemDelegate(new ProfileRowDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(NoSelection);
    setEditTriggers(NoEditTriggers);
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    // Rows are clicked, not focused, as buttons are; Tab still reaches the list for the arrows.
    setFocusPolicy(Qt::TabFocus);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::PointingHandCursor);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    // The list scrolls to the selected profile itself, once laid out; its own scroll to a new
    // current row would come at once, at the height the list has before its new rows are laid out.
    setAutoScroll(false);

    const auto resize = [this] {
        updateGeometry();
        awaitLayout();
    };
    connect(m_rows, &QAbstractItemModel::rowsInserted, this, resize);
    connect(m_rows, &QAbstractItemModel::rowsRemoved, this, resize);
    connect(m_rows, &QAbstractItemModel::modelReset, this, resize);
}

void ProfileList::refresh()
{
    m_rows->refresh();
    showNameField();
    followSelection();
}

QRect ProfileList::rowRect(const UUID& profileID) const
{
    const std::optional<int> row = m_rows->rowOf(profileID);
    if (!row)
        return {};
    return ProfileRowDelegate::backgroundRect(visualRect(m_rows->index(*row)));
}

EditingTextField* ProfileList::nameField(const UUID& profileID) const
{
    return m_fieldProfileID == profileID ? m_field.data() : nullptr;
}

QSize ProfileList::sizeHint() const
{
    return {QListView::sizeHint().width(), m_rows->rowCount() * cellHeight};
}

QSize ProfileList::minimumSizeHint() const
{
    return {0, std::min(m_rows->rowCount(), 1) * cellHeight};
}

std::optional<UUID> ProfileList::profileAt(const QPoint& position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid()
        || !ProfileRowDelegate::backgroundRect(visualRect(index)).contains(position))
        return std::nullopt;
    return m_rows->profileID(index.row());
}

bool ProfileList::isDefault(const UUID& profileID) const
{
    return profileID == m_content.model().configuration->defaultProfileID;
}

std::optional<UUID> ProfileList::clickedProfile(const QMouseEvent& event) const
{
    const std::optional<UUID> profileID = profileAt(event.position().toPoint());
    // A row whose name field is open leaves the clicks to the field.
    if (event.button() != Qt::LeftButton || !profileID || !m_content.acceptsActions()
        || m_fieldProfileID == profileID)
        return std::nullopt;
    return profileID;
}

void ProfileList::dataChanged(
    const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles)
{
    // Skips QListView's step, which schedules a layout of every row; the item view's own
    // redraws the rows and tells assistive technology.
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void ProfileList::mousePressEvent(QMouseEvent* event)
{
    // Not the list's own handling: a click selects the profile, not an item of the list.
    if (const std::optional<UUID> profileID = clickedProfile(*event))
        m_content.model().selectProfile(*profileID);
}

void ProfileList::mouseDoubleClickEvent(QMouseEvent* event)
{
    const std::optional<UUID> profileID = clickedProfile(*event);
    if (!profileID)
        return;
    m_content.model().selectProfile(*profileID);
    m_content.beginProfileRename({ProfileRenameTarget::Site::sidebar, *profileID});
}

void ProfileList::keyPressEvent(QKeyEvent* event)
{
    if (openContextMenuForMenuKey(*this, *event, QPoint()))
        return;
    const QModelIndex before = currentIndex();
    QListView::keyPressEvent(event);
    const QModelIndex after = currentIndex();
    if (after.isValid() && after != before && m_content.acceptsActions())
        m_content.model().selectProfile(m_rows->profileID(after.row()));
}

QMenu* ProfileList::contextMenu(const UUID& profileID)
{
    if (isDefault(profileID))
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Rename…"), this, [this, profileID] {
        m_content.beginProfileRename({ProfileRenameTarget::Site::sidebar, profileID});
    });
    menu->addAction(QStringLiteral("Duplicate"), this, [this, profileID] {
        if (const Profile* profile = m_content.profileWithID(profileID))
            m_content.model().duplicateProfile(*profile);
    });
    menu->addSeparator();
    QAction* remove = menu->addAction(QStringLiteral("Delete profile…"), this, [this, profileID] {
        if (const Profile* profile = m_content.profileWithID(profileID))
            m_content.confirmDeletion(*profile);
    });
    QuorStyle::markDestructive(*remove);
    remove->setEnabled(!m_content.model().preview.get());
    return menu;
}

void ProfileList::contextMenuEvent(QContextMenuEvent* event)
{
    std::optional<UUID> profileID = profileAt(event->pos());
    QPoint position = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard && currentIndex().isValid()) {
        profileID = m_rows->profileID(currentIndex().row());
        position = viewport()->mapToGlobal(visualRect(currentIndex()).center());
    }
    if (!profileID || !m_content.acceptsActions())
        return;
    if (QMenu* menu = contextMenu(*profileID))
        menu->popup(position);
}

bool ProfileList::acceptsDrop(const UUID& profileID) const
{
    AppModel& model = m_content.model();
    return m_content.acceptsActions() && !model.preview.get() && !isDefault(profileID)
        && model.selectedProfile().id != profileID;
}

bool ProfileList::drop(const UUID& profileID, const QString& text)
{
    if (!acceptsDrop(profileID))
        return false;
    const std::optional<UUID> ruleID = draggedRuleID(text);
    if (!ruleID)
        return false;
    // Whether the copy goes ahead shows later, through the model's confirmation.
    (void)m_content.model().copyRule(*ruleID, profileID);
    return true;
}

void ProfileList::dragEnterEvent(QDragEnterEvent* event)
{
    // Taken wherever it enters, over a row that refuses it too: Qt sends no moves to a list that
    // refused the enter, and the drag could reach no row that takes it. The moves answer.
    if (draggedRuleID(event->mimeData()->text()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ProfileList::dragMoveEvent(QDragMoveEvent* event)
{
    const QPoint position = event->position().toPoint();
    const std::optional<UUID> profileID = profileAt(position);
    const bool accepts = profileID && acceptsDrop(*profileID);
    hover(accepts ? profileID : std::nullopt);
    // Near an edge the list scrolls, so that a drag reaches every profile.
    if (!viewport()
             ->rect()
             .adjusted(0, autoScrollMargin(), 0, -autoScrollMargin())
             .contains(position))
        startAutoScroll();
    // Refused only where the pointer is, the answer rectangle left at its point: the list may
    // scroll another row beneath it, and the next move asks again.
    if (accepts)
        event->acceptProposedAction();
    else
        event->ignore();
}

void ProfileList::hover(std::optional<UUID> profileID)
{
    if (m_hovered == profileID)
        return;
    if (m_hovered)
        m_content.setDropTarget(*m_hovered, false);
    m_hovered = std::move(profileID);
    if (m_hovered)
        m_content.setDropTarget(*m_hovered, true);
}

void ProfileList::dragLeaveEvent(QDragLeaveEvent* event)
{
    stopAutoScroll();
    hover(std::nullopt);
    event->accept();
}

void ProfileList::dropEvent(QDropEvent* event)
{
    // The drag ends here: no leave follows a drop.
    stopAutoScroll();
    hover(std::nullopt);
    const std::optional<UUID> profileID = profileAt(event->position().toPoint());
    if (profileID && event->mimeData()->hasText() && drop(*profileID, event->mimeData()->text()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ProfileList::showNameField()
{
    const std::optional<ProfileRenameTarget>& target = m_content.renameTarget();
    const bool isRenamingHere = target && target->site == ProfileRenameTarget::Site::sidebar
        && m_rows->rowOf(target->profileID);
    if (m_field && (!isRenamingHere || m_fieldProfileID != target->profileID))
        closeNameField();
    if (!isRenamingHere || m_field)
        return;
    m_field = m_content.profileNameField(*target, viewport());
    m_fieldProfileID = target->profileID;
    scrollTo(m_rows->index(*m_rows->rowOf(target->profileID)));
    placeNameField();
    m_field->show();
    m_field->setFocus(Qt::OtherFocusReason);
}

void ProfileList::closeNameField()
{
    // The keyboard stays with the rows, not the next control in the window, as the field closes.
    if (m_field->hasFocus())
        setFocus(Qt::OtherFocusReason);
    // Later: the field may be inside its own key or focus handler.
    m_field->hide();
    m_field->deleteLater();
    m_field = nullptr;
    m_fieldProfileID.reset();
}

void ProfileList::placeNameField()
{
    if (!m_field || !m_fieldProfileID)
        return;
    const std::optional<int> row = m_rows->rowOf(*m_fieldProfileID);
    if (!row)
        return;
    // A row scrolled out of sight keeps its field, out of sight too: the rename goes on.
    const QRect cell = visualRect(m_rows->index(*row));
    const QRect name = ProfileRowDelegate::nameRect(cell, false);
    const int height = m_field->sizeHint().height();
    m_field->setGeometry(name.left(), name.center().y() - height / 2 + 1, name.width(), height);
}

void ProfileList::followSelection()
{
    const UUID& selectedID = m_content.model().selectedProfile().id;
    const std::optional<int> row = m_rows->rowOf(selectedID);
    if (!row)
        return;
    selectionModel()->setCurrentIndex(m_rows->index(*row), QItemSelectionModel::NoUpdate);
    // A profile selected elsewhere, a new one say, comes into sight.
    if (std::exchange(m_shownSelection, selectedID) != selectedID)
        m_needsSelectionInSight = true;
    if (isVisible() && !m_awaitsLayout)
        bringSelectionIntoSight();
}

void ProfileList::bringSelectionIntoSight()
{
    if (!std::exchange(m_needsSelectionInSight, false))
        return;
    // Asked for only once a selection has been shown.
    if (const std::optional<int> row = m_rows->rowOf(*m_shownSelection))
        scrollTo(m_rows->index(*row));
}

void ProfileList::awaitLayout()
{
    // Queued behind the layout request that the new rows posted, so the scroll sees the list's
    // new height, not the one it had (none at all, before the settings were read).
    if (std::exchange(m_awaitsLayout, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_awaitsLayout = false;
            if (isVisible())
                bringSelectionIntoSight();
        },
        Qt::QueuedConnection);
}

void ProfileList::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    // Shown, the list stands at its final height: scrolled before, at the height of a list not
    // yet laid out, it would open away from its top with the selected row no nearer.
    bringSelectionIntoSight();
}

void ProfileList::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    placeNameField();
}

void ProfileList::updateGeometries()
{
    QListView::updateGeometries();
    placeNameField();
}

} // namespace quorvane
