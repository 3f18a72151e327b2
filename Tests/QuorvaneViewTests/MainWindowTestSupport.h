// The main window on a started demo model, for the tests of the window and its pages.
#pragma once

#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileList.h"
#include "Quorvane/Views/MainWindow/ProfileListModel.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include <functional>

#include <algorithm>
#include <string_view>

namespace quorvane {

/// One profile's row of the sidebar list, as a user would reach it.
struct SidebarRow {
    ProfileList& list;
    UUID profileID;

    [[nodiscard]] QWidget* widget() const { return list.viewport(); }
    [[nodiscard]] QPoint centre() const { return list.rowRect(profileID).center(); }
    [[nodiscard]] QModelIndex index() const
    {
        return list.rows().index(*list.rows().rowOf(profileID));
    }
    [[nodiscard]] QVariant data(int role) const { return index().data(role); }

    [[nodiscard]] QString name() const { return data(Qt::DisplayRole).toString(); }
    /// "selected", "dropTarget" or "".
    [[nodiscard]] QString state() const { return data(ProfileListModel::stateRole).toString(); }
    [[nodiscard]] bool showsActiveMark() const
    {
        return data(ProfileListModel::isActiveRole).toBool();
    }
    [[nodiscard]] bool isEnabled() const { return index().flags().testFlag(Qt::ItemIsEnabled); }
    [[nodiscard]] EditingTextField* nameField() const { return list.nameField(profileID); }
    [[nodiscard]] QMenu* contextMenu() const { return list.contextMenu(profileID); }
    bool drop(const QString& text) const { return list.drop(profileID, text); }

    void click(Qt::MouseButton button = Qt::LeftButton) const
    {
        QTest::mouseClick(widget(), button, {}, centre());
    }
    void doubleClick(Qt::MouseButton button = Qt::LeftButton) const
    {
        QTest::mouseDClick(widget(), button, {}, centre());
    }
};

class MainWindowFixture : public ::testing::Test {
protected:
    MainWindowFixture()
    {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        turn();
    }
    ~MainWindowFixture() override
    {
        demo.settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    /// Lets the views catch up with the model: one executor turn, and Qt's deferred deletes.
    void turn()
    {
        demo.world.executor.runUntilIdle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    /// Shows `page` with `profileID` selected, laid out.
    void show(AppPage page, const UUID& profileID)
    {
        model.selectProfile(profileID);
        model.page.set(page);
        turn();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    const Profile& profileNamed(std::string_view name) const
    {
        const auto& profiles = model.configuration->profiles;
        const auto found = std::ranges::find(profiles, name, &Profile::name);
        EXPECT_NE(found, profiles.end()) << name;
        return *found;
    }
    RuleDraft draftOf(const Profile& profile, std::size_t index) const
    {
        return {.profileID = profile.id, .rule = profile.rules.at(index)};
    }
    SidebarRow row(std::string_view name) const { return rowOf(profileNamed(name).id); }
    SidebarRow rowOf(const UUID& profileID) const
    {
        return {content.sidebar().profiles(), profileID};
    }
    bool hasRow(const UUID& profileID) const
    {
        return content.sidebar().profiles().rows().rowOf(profileID).has_value();
    }
    QString rowState(std::string_view name) const { return row(name).state(); }

    DemoWorld demo;
    AppModel& model = *demo.model;
    MainWindow window{model, demo.world.shell};
    ContentView& content = window.content();
    UUID workID = profileNamed("Work · sample").id;
    UUID eveningID = profileNamed("Evening · sample").id;
};

/// Drags `text` into `target` at `entry`, moves it to `centre` and drops it there, as Qt delivers
/// a drag: a move follows the enter and starts from the last answer, and none reaches a target
/// that refused the enter. Whether the drop was accepted; `whileHovering` learns whether the
/// target took the drag at `centre`.
inline bool dragAndDrop(QWidget& target, const QPoint& entry, const QPoint& centre,
    const QString& text, const std::function<void(bool)>& whileHovering)
{
    QMimeData data;
    data.setText(text);
    QDragEnterEvent enter(entry, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    bool isTaken = enter.isAccepted();
    for (const QPoint& position : {entry, centre}) {
        QDragMoveEvent move(position, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        move.setAccepted(isTaken);
        QApplication::sendEvent(&target, &move);
        isTaken = move.isAccepted();
    }
    whileHovering(isTaken);
    if (!isTaken) {
        QDragLeaveEvent leave;
        QApplication::sendEvent(&target, &leave);
        return false;
    }
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return drop.isAccepted();
}

inline bool dragAndDrop(
    QWidget& target, const QString& text, const std::function<void(bool)>& whileHovering)
{
    return dragAndDrop(target, target.rect().center(), target.rect().center(), text, whileHovering);
}

/// The same onto a profile's row in the sidebar.
inline bool dragAndDrop(
    const SidebarRow& row, const QString& text, const std::function<void(bool)>& whileHovering)
{
    return dragAndDrop(*row.widget(), row.centre(), row.centre(), text, whileHovering);
}

} // namespace quorvane
