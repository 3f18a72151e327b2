#include "Quorvane/Views/MainWindow/ProfileRow.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>

#include <algorithm>

namespace quorvane {

ProfileRow::ProfileRow(ContentView& content, UUID profileID, QWidget* parent)
    : QFrame(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_icon(new QLabel(this))
    , m_name(new QLabel(this))
    , m_activeDot(new QWidget(this))
{
    QuorStyle::setRole(*this, QuorRole::profileRow);
    QuorStyle::setRole(*m_activeDot, QuorRole::activeDot);
    m_icon->setObjectName(QStringLiteral("icon"));
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setTextFormat(Qt::PlainText); // a name is shown as typed, never as markup
    m_activeDot->setObjectName(QStringLiteral("activeDot"));
    m_activeDot->setFixedSize(7, 7);
    m_activeDot->setToolTip(QStringLiteral("Active profile"));
    setAcceptDrops(true);
    setCursor(Qt::PointingHandCursor);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(m_icon);
    layout->addWidget(m_name, 1);
    layout->addWidget(m_activeDot);
    refresh();
}

bool ProfileRow::isDefault() const
{
    return m_profileID == m_content.model().configuration->defaultProfileID;
}

void ProfileRow::refresh()
{
    AppModel& model = m_content.model();
    const Profile* profile = m_content.profileWithID(m_profileID);
    if (!profile)
        return;
    const bool isRenaming = m_content.renameTarget()
        == ProfileRenameTarget{ProfileRenameTarget::Site::sidebar, m_profileID};
    showField(isRenaming);
    const bool showsLock = isDefault() && !isRenaming;
    m_icon->setPixmap(symbolIcon(
        showsLock ? "lock.rectangle.stack" : "rectangle.stack", QuorStyle::secondaryText())
                          .pixmap(16, 16));
    m_name->setText(QString::fromStdString(profile->name));
    m_name->setVisible(!isRenaming);
    m_activeDot->setVisible(!isRenaming && model.configuration->activeProfileID == m_profileID);
    setAccessibleName(QString::fromStdString(profile->name));

    const char* state = "";
    if (m_content.dropTargetProfileID() == m_profileID)
        state = "dropTarget";
    else if (*model.page == AppPage::profiles && model.selectedProfile().id == m_profileID)
        state = "selected";
    QuorStyle::setState(*this, state);
    setEnabled(m_content.acceptsActions());
}

void ProfileRow::showField(bool isRenaming)
{
    if (isRenaming && !m_field) {
        m_field = m_content.profileNameField(
            ProfileRenameTarget{ProfileRenameTarget::Site::sidebar, m_profileID}, this);
        static_cast<QHBoxLayout*>(layout())->insertWidget(1, m_field, 1);
        m_field->show();
        m_field->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!isRenaming && m_field) {
        // Later: the field may be inside its own key or focus handler.
        m_field->hide();
        m_field->deleteLater();
        m_field = nullptr;
    }
}

void ProfileRow::mousePressEvent(QMouseEvent* event)
{
    QFrame::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && !m_field)
        m_content.model().selectProfile(m_profileID);
}

void ProfileRow::mouseDoubleClickEvent(QMouseEvent* event)
{
    QFrame::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton || m_field)
        return;
    m_content.model().selectProfile(m_profileID);
    m_content.beginProfileRename({ProfileRenameTarget::Site::sidebar, m_profileID});
}

QMenu* ProfileRow::contextMenu()
{
    if (isDefault())
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Rename…"), this, [this] {
        m_content.beginProfileRename({ProfileRenameTarget::Site::sidebar, m_profileID});
    });
    menu->addAction(QStringLiteral("Duplicate"), this, [this] {
        if (const Profile* profile = m_content.profileWithID(m_profileID))
            m_content.model().duplicateProfile(*profile);
    });
    menu->addSeparator();
    QAction* remove = menu->addAction(QStringLiteral("Delete profile…"), this, [this] {
        if (const Profile* profile = m_content.profileWithID(m_profileID))
            m_content.confirmDeletion(*profile);
    });
    remove->setEnabled(!m_content.model().preview.get());
    return menu;
}

void ProfileRow::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = contextMenu())
        menu->popup(event->globalPos());
}

bool ProfileRow::acceptsDrop() const
{
    AppModel& model = m_content.model();
    return m_content.acceptsActions() && !model.preview.get() && !isDefault()
        && model.selectedProfile().id != m_profileID;
}

bool ProfileRow::drop(const QString& text)
{
    if (!acceptsDrop())
        return false;
    const std::optional<UUID> ruleID = UUID::parse(text.trimmed().toStdString());
    if (!ruleID)
        return false;
    // Whether the copy goes ahead shows later, through the model's confirmation.
    (void)m_content.model().copyRule(*ruleID, m_profileID);
    return true;
}

void ProfileRow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasText() || !acceptsDrop()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_content.setDropTarget(m_profileID, true);
}

void ProfileRow::dragLeaveEvent(QDragLeaveEvent* event)
{
    QFrame::dragLeaveEvent(event);
    m_content.setDropTarget(m_profileID, false);
}

void ProfileRow::dropEvent(QDropEvent* event)
{
    // The drag ends here: no leave follows a drop.
    m_content.setDropTarget(m_profileID, false);
    if (event->mimeData()->hasText() && drop(event->mimeData()->text()))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace quorvane
