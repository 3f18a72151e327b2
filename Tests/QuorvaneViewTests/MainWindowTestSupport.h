// The main window on a started demo model, for the tests of the window and its pages.
#pragma once

#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileRow.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include <functional>

#include <algorithm>
#include <string_view>

namespace quorvane {

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
    const Profile& profileNamed(std::string_view name) const
    {
        const std::vector<Profile>& profiles = model.configuration->profiles;
        const auto found = std::ranges::find(profiles, name, &Profile::name);
        EXPECT_NE(found, profiles.end()) << name;
        return *found;
    }
    RuleDraft draftOf(const Profile& profile, std::size_t index) const
    {
        return {.profileID = profile.id, .rule = profile.rules.at(index)};
    }
    ProfileRow& row(std::string_view name) const
    {
        return *content.sidebar().rowOf(profileNamed(name).id);
    }
    QString rowState(std::string_view name) const
    {
        return row(name).property("quorState").toString();
    }

    DemoWorld demo;
    AppModel& model = *demo.model;
    MainWindow window{model, demo.world.shell};
    ContentView& content = window.content();
    UUID workID = profileNamed("Work · sample").id;
    UUID eveningID = profileNamed("Evening · sample").id;
};

/// Drags `text` over `target` and drops it; whether the drop was accepted. `whileHovering` learns
/// whether the target took the drag as it entered.
inline bool dragAndDrop(
    QWidget& target, const QString& text, const std::function<void(bool)>& whileHovering)
{
    QMimeData data;
    data.setText(text);
    const QPoint centre = target.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    whileHovering(enter.isAccepted());
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return drop.isAccepted();
}

} // namespace quorvane
