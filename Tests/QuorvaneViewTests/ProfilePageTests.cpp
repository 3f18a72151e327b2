#include "Quorvane/Views/MainWindow/ProfilePage.h"

#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/MainWindow/RuleDrag.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

namespace quorvane {
namespace {

class ProfilePageTest : public MainWindowFixture {
protected:
    ProfilePageTest()
    {
        model.selectProfile(workID);
        turn();
    }

    ProfilePage& page() const { return *static_cast<ProfilePage*>(content.currentPage()); }
    RuleRow& ruleRow(std::string_view name) const
    {
        const RuleList& rules = profileNamed("Work · sample").rules;
        const auto rule = std::ranges::find(rules, name, &Rule::name);
        return *page().rulesTable().rowOf(rule->id);
    }
    std::vector<std::string> ruleNames() const
    {
        std::vector<std::string> names;
        for (const Rule& rule : profileNamed("Work · sample").rules)
            names.push_back(rule.name);
        return names;
    }
    QAction& menuEntry(QMenu& menu, const QString& text) const
    {
        const QList<QAction*> actions = menu.actions();
        return **std::ranges::find(actions, text, &QAction::text);
    }
    template <typename Widget> Widget& part(const char* name) const
    {
        return *page().findChild<Widget*>(QString::fromLatin1(name));
    }
};

TEST_F(ProfilePageTest, RowsDroppedOnOtherRowsMoveBeforeThem)
{
    ASSERT_EQ(ruleNames(),
        (std::vector<std::string>{"Deep focus", "Coding", "External screen", "Browsing"}));
    struct Case {
        std::string_view dragged;
        std::string_view target;
        bool accepted;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {"Coding", "Deep focus", true, {"Coding", "Deep focus", "External screen", "Browsing"}},
        {"Coding", "Deep focus", true, {"Coding", "Deep focus", "External screen", "Browsing"}},
        {"Deep focus", "Deep focus", true, {"Coding", "Deep focus", "External screen", "Browsing"}},
        {"Browsing", "Coding", true, {"Browsing", "Coding", "Deep focus", "External screen"}},
        {"", "Coding", false, {"Browsing", "Coding", "Deep focus", "External screen"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dragged) + " on " + std::string(c.target));
        const QString text = c.dragged.empty()
            ? QStringLiteral("Deep focus")
            : QString::fromStdString(ruleRow(c.dragged).ruleID().uuidString());
        EXPECT_EQ(dragAndDrop(ruleRow(c.target), text, [](bool) {}), c.accepted);
        turn();
        EXPECT_EQ(ruleNames(), c.order);
    }
    std::unique_ptr<QMimeData> data(ruleDragData(profileNamed("Work · sample").rules.front()));
    EXPECT_EQ(
        data->text().toStdString(), profileNamed("Work · sample").rules.front().id.uuidString());
    EXPECT_EQ(data->text(), data->text().toUpper());
}

TEST_F(ProfilePageTest, OrderButtonsStopAtTheEndsAndSayWhatTheyMove)
{
    const std::vector<std::string> names = ruleNames();
    for (std::size_t index = 0; index < names.size(); ++index) {
        SCOPED_TRACE(names[index]);
        RuleRow& shown = ruleRow(names[index]);
        auto* up = shown.findChild<QToolButton*>(QStringLiteral("up"));
        auto* down = shown.findChild<QToolButton*>(QStringLiteral("down"));
        EXPECT_EQ(up->isEnabled(), index > 0);
        EXPECT_EQ(down->isEnabled(), index + 1 < names.size());
        EXPECT_EQ(up->accessibleName().toStdString(), "Move " + names[index] + " up");
        EXPECT_EQ(down->accessibleName().toStdString(), "Move " + names[index] + " down");
    }
    QTest::mouseClick(
        ruleRow("Deep focus").findChild<QToolButton*>(QStringLiteral("down")), Qt::LeftButton);
    turn();
    EXPECT_EQ(ruleNames(),
        (std::vector<std::string>{"Coding", "Deep focus", "External screen", "Browsing"}));
    EXPECT_FALSE(ruleRow("Coding").findChild<QToolButton*>(QStringLiteral("up"))->isEnabled());
    EXPECT_TRUE(ruleRow("Deep focus").findChild<QToolButton*>(QStringLiteral("up"))->isEnabled());
    saveScreenshot(window, "profile-page-rules");
}

TEST_F(ProfilePageTest, DuplicateOpensAnUnsavedCopyWithoutEndingALiveEdit)
{
    const Rule coding = profileNamed("Work · sample").rules.at(1);
    model.previewRuleSettings(RuleDraft{.profileID = workID, .rule = coding});
    ASSERT_TRUE(model.liveRuleEdit.get());
    QMenu* menu = ruleRow("Coding").contextMenu();
    menuEntry(*menu, QStringLiteral("Duplicate rule")).trigger();
    delete menu;
    EXPECT_TRUE(model.liveRuleEdit.get());
    turn();
    ASSERT_TRUE(content.draft());
    const RuleDraft& draft = *content.draft();
    EXPECT_TRUE(draft.isNew);
    EXPECT_NE(draft.rule.id, coding.id);
    EXPECT_EQ(draft.rule.name, "Coding copy");
    EXPECT_EQ(draft.rule.conditions, coding.conditions);
    EXPECT_EQ(draft.rule.settings, coding.settings);
    EXPECT_EQ(draft.selectsApps, coding.conditions.hasAppCondition());
    EXPECT_NE(content.editor(), nullptr);
    EXPECT_TRUE(model.liveRuleEdit.get());
    EXPECT_EQ(profileNamed("Work · sample").rules.size(), 4U); // nothing saved yet
}

TEST_F(ProfilePageTest, DeletingTheEditedRuleClosesItsEditorOnly)
{
    QTest::mouseClick(
        ruleRow("Coding").findChild<QWidget*>(QStringLiteral("ruleButton")), Qt::LeftButton);
    turn();
    ASSERT_TRUE(content.draft());
    EXPECT_EQ(*model.selectedRuleID, content.draft()->rule.id);
    EXPECT_EQ(ruleRow("Coding").property("quorState").toString(), QStringLiteral("editing"));

    const std::string_view deleted[] = {"Browsing", "Coding"};
    for (const std::string_view name : deleted) {
        SCOPED_TRACE(std::string(name));
        QMenu* menu = ruleRow(name).contextMenu();
        menuEntry(*menu, QStringLiteral("Delete rule")).trigger();
        delete menu;
        turn();
        EXPECT_EQ(std::ranges::count(ruleNames(), name), 0);
        EXPECT_EQ(content.editor() != nullptr, name != "Coding");
    }
    EXPECT_FALSE(content.draft());
}

TEST_F(ProfilePageTest, DeleteRuleInTheContextMenuLooksDestructive)
{
    std::unique_ptr<QMenu> menu(ruleRow("Coding").contextMenu());
    menu->popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    const auto isRed = [&](const QString& entry) {
        return drawsRed(menu->grab(menu->actionGeometry(&menuEntry(*menu, entry))).toImage());
    };
    EXPECT_TRUE(isRed(QStringLiteral("Delete rule")));
    EXPECT_FALSE(isRed(QStringLiteral("Duplicate rule")));
    menu->close();
}

TEST_F(ProfilePageTest, TheSwitchTogglesAndSavesTheRule)
{
    auto& enabled = *ruleRow("Coding").findChild<SwitchButton*>(QStringLiteral("enabled"));
    EXPECT_EQ(enabled.accessibleName(), QStringLiteral("Enable Coding"));
    EXPECT_EQ(enabled.toolTip(), QStringLiteral("Disable rule"));
    QTest::mouseClick(&enabled, Qt::LeftButton);
    turn();
    EXPECT_FALSE(profileNamed("Work · sample").rules.at(1).isEnabled);
    EXPECT_FALSE(enabled.isChecked());
    EXPECT_EQ(enabled.toolTip(), QStringLiteral("Enable rule"));
    demo.settle();
    EXPECT_FALSE(configurationIn(model.settingsURL).profiles.at(1).rules.at(1).isEnabled);

    model.settingsError.set("The settings file is damaged."); // refused: the switch snaps back
    turn();
    EXPECT_FALSE(enabled.isEnabled());
    enabled.click();
    turn();
    EXPECT_FALSE(enabled.isChecked());
}

TEST_F(ProfilePageTest, CellsShowSetValuesAndDimTheRest)
{
    RuleRow& coding = ruleRow("Coding");
    auto& brightness = *coding.findChild<QLabel*>(QStringLiteral("brightness"));
    auto& hdr = *coding.findChild<QLabel*>(QStringLiteral("hdr"));
    EXPECT_EQ(brightness.text(), QStringLiteral("70%"));
    EXPECT_EQ(brightness.property("quorState").toString(), QString());
    EXPECT_EQ(hdr.text(), QStringLiteral("Default"));
    EXPECT_EQ(hdr.property("quorState").toString(), QStringLiteral("unset"));
    EXPECT_EQ(ruleRow("External screen").findChild<QLabel*>(QStringLiteral("hdr"))->text(),
        QStringLiteral("On"));
}

TEST_F(ProfilePageTest, TheHDRCellSaysWhenTheRuleCannotSetHDR)
{
    const auto hdrCell
        = [&] { return ruleRow("Coding").findChild<QLabel*>(QStringLiteral("hdr"))->text(); };
    const auto setCodingScreen = [&](std::optional<DisplayReference> screen) {
        model.configuration.modify([&](Configuration& document) {
            for (Profile& profile : document.profiles.editEach())
                for (std::size_t index = 0; index < profile.rules.size(); ++index)
                    if (profile.rules[index].name == "Coding") {
                        Rule& rule = profile.rules.edit(index);
                        rule.conditions.screen = screen;
                        rule.settings.hdr = true;
                    }
        });
        turn();
    };
    setCodingScreen(DisplayReference{.id = "demo-external", .name = "External"});
    EXPECT_EQ(hdrCell(), QStringLiteral("On"));
    // The built-in screen leaves HDR to macOS.
    setCodingScreen(DisplayReference{.id = "demo-builtin", .name = "Built-in"});
    EXPECT_EQ(hdrCell(), QStringLiteral("macOS"));
}

TEST_F(ProfilePageTest, AnEmptyProfileInvitesItsFirstRuleAndCollapsingHidesIt)
{
    model.createProfile("Home");
    turn();
    model.selectProfile(profileNamed("Home").id);
    turn();
    EXPECT_TRUE(part<QWidget>("emptyState").isVisible());
    EXPECT_TRUE(part<QWidget>("orderNote").isVisible());
    EXPECT_FALSE(part<RulesTable>("rulesArea").isVisible());
    saveScreenshot(window, "profile-page-empty");

    QTest::mouseClick(&part<QToolButton>("rulesHeader"), Qt::LeftButton);
    turn();
    EXPECT_FALSE(content.showsRules());
    EXPECT_FALSE(part<QWidget>("emptyState").isVisible());
    EXPECT_FALSE(part<QWidget>("orderNote").isVisible());
    ASSERT_TRUE(part<QPushButton>("addRule").isEnabled());
    QTest::mouseClick(&part<QPushButton>("addRule"), Qt::LeftButton);
    turn();
    EXPECT_TRUE(content.showsRules());
    EXPECT_TRUE(part<QWidget>("emptyState").isVisible());
    ASSERT_TRUE(content.draft());
    EXPECT_TRUE(content.draft()->isNew);
    EXPECT_EQ(content.draft()->rule.name, "");
    EXPECT_TRUE(content.draft()->rule.isEnabled);
    EXPECT_TRUE(content.draft()->rule.settings.isEmpty());
    EXPECT_FALSE(content.draft()->selectsApps);
}

TEST_F(ProfilePageTest, EveryCellStandsUnderItsColumnHeading)
{
    RulesTable& table = page().rulesTable();
    RuleRow& first = ruleRow("Deep focus");
    const auto left = [&](const QWidget& widget) { return widget.mapTo(&table, QPoint()).x(); };
    for (const SettingKey key : allSettingKeys) {
        const QString name = QString::fromLatin1(rawValue(key).data());
        SCOPED_TRACE(name.toStdString());
        const auto* heading = table.findChild<QLabel*>(name + QStringLiteral("Header"));
        const auto* cell = first.findChild<QLabel*>(name);
        ASSERT_TRUE(heading && cell);
        EXPECT_EQ(left(*heading), left(*cell));
    }
    EXPECT_EQ(left(*first.findChild<QWidget*>(QStringLiteral("handle"))), 22);
    EXPECT_EQ(table.width(), 776);
}

TEST_F(ProfilePageTest, TheRulesAreaGrowsWithTheRulesUpToItsLimit)
{
    const std::pair<std::size_t, int> heights[]
        = {{1, 122}, {2, 206}, {3, 290}, {4, 360}, {5, 360}};
    for (const auto& [count, height] : heights) {
        SCOPED_TRACE(count);
        EXPECT_EQ(ProfilePage::rulesAreaHeight(count), height);
    }
    EXPECT_EQ(part<RulesTable>("rulesArea").height(), 360);
    EXPECT_EQ(part<RulesTable>("rulesArea").width(), RulesTable::tableWidth);
    const RulesTable& table = page().rulesTable();
    EXPECT_EQ(table.verticalScrollBar()->maximum() + table.viewport()->height(),
        4 * RulesTable::rowHeight);
}

TEST_F(ProfilePageTest, TheWindowAccessNoticeAsksForThePermission)
{
    model.hasWindowAccess.set(false);
    turn();
    ASSERT_TRUE(model.needsWindowAccess(profileNamed("Work · sample")));
    EXPECT_TRUE(part<QWidget>("windowAccess").isVisible());
    demo.world.mac.accessibility.trusted = false;
    QTest::mouseClick(&part<QPushButton>("allowWindowAccess"), Qt::LeftButton);
    EXPECT_EQ(demo.world.mac.accessibility.promptsShown, 1U);
    model.hasWindowAccess.set(true);
    turn();
    EXPECT_FALSE(part<QWidget>("windowAccess").isVisible());
}

TEST_F(ProfilePageTest, TheMenuAndAddRuleFollowSettingsErrorsAndDisplayTests)
{
    QMenu& menu = *part<QToolButton>("profileMenu").menu();
    struct Case {
        std::string_view name;
        std::function<void()> enter;
        bool canDelete;
        bool canAdd;
    };
    const Case cases[] = {
        {"display test", [&] { model.preview.set(DisplayPreview{.id = UUID::random()}); }, false,
            true},
        {"settings error",
            [&] {
                model.preview.set(std::nullopt);
                model.settingsError.set("The settings file is damaged.");
            },
            false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        c.enter();
        turn();
        EXPECT_EQ(menuEntry(menu, QStringLiteral("Delete…")).isEnabled(), c.canDelete);
        EXPECT_TRUE(menuEntry(menu, QStringLiteral("Rename…")).isEnabled());
        EXPECT_TRUE(menuEntry(menu, QStringLiteral("Duplicate")).isEnabled());
        EXPECT_EQ(part<QPushButton>("addRule").isEnabled(), c.canAdd);
    }
}

TEST_F(ProfilePageTest, DoubleClickingTheNameRenamesInTheHeadingOnly)
{
    QTest::mouseDClick(&part<QLabel>("profileName"), Qt::LeftButton);
    turn();
    EditingTextField* field = page().findChild<EditingTextField*>();
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(part<QLabel>("profileName").isVisible());
    EXPECT_EQ(row("Work · sample").nameField(), nullptr);
    QTest::keyClicks(field, QStringLiteral("Office"));
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(part<QLabel>("profileName").text(), QStringLiteral("Office"));
    EXPECT_TRUE(part<QLabel>("profileName").isVisible());
    // The keyboard stays in the heading, not at the next control of the window.
    EXPECT_EQ(QApplication::focusWidget(), &part<QToolButton>("profileMenu"));
}

TEST_F(ProfilePageTest, RenamingAgainStartsOverFromTheProfilesName)
{
    QMenu& menu = *part<QToolButton>("profileMenu").menu();
    struct Case {
        std::string_view name;
        ProfileRenameTarget::Site site;
    };
    const Case cases[] = {
        {"heading", ProfileRenameTarget::Site::heading},
        {"sidebar", ProfileRenameTarget::Site::sidebar},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        const auto field = [&] {
            return c.site == ProfileRenameTarget::Site::heading
                ? page().findChild<EditingTextField*>()
                : row("Work · sample").nameField();
        };
        content.beginProfileRename({c.site, workID});
        turn();
        ASSERT_NE(field(), nullptr);
        QTest::keyClicks(field(), QStringLiteral("Lab"));
        // "Rename…" again on the open field: what was typed is abandoned, not kept on screen
        // while the old name is what Return would save.
        if (c.site == ProfileRenameTarget::Site::heading)
            menuEntry(menu, QStringLiteral("Rename…")).trigger();
        else
            content.beginProfileRename({c.site, workID});
        turn();
        ASSERT_NE(field(), nullptr);
        EXPECT_EQ(field()->text(), QStringLiteral("Work · sample"));
        QTest::keyClicks(field(), QStringLiteral("Office"));
        QTest::keyClick(field(), Qt::Key_Return);
        turn();
        EXPECT_EQ(content.profileWithID(workID)->name, "Office");
        model.renameProfile(workID, "Work · sample");
        turn();
    }
}

TEST_F(ProfilePageTest, OnlyALeftClickThatEndsInsideOpensOrSelects)
{
    QWidget& cell = *ruleRow("Coding").findChild<QWidget*>(QStringLiteral("ruleButton"));
    const SidebarRow evening = row("Evening · sample");
    const QPoint outside(-4, -4);
    struct Case {
        std::string_view name;
        std::function<void()> gesture;
        bool opensRule;
        bool selectsEvening;
        bool renamesEvening;
    };
    const Case cases[] = {
        {"right click on a cell", [&] { QTest::mouseClick(&cell, Qt::RightButton); }, false, false,
            false},
        {"left press dragged off the cell",
            [&] {
                QTest::mousePress(&cell, Qt::LeftButton);
                QTest::mouseRelease(&cell, Qt::LeftButton, {}, outside);
            },
            false, false, false},
        {"right press on a row",
            [&] { QTest::mousePress(evening.widget(), Qt::RightButton, {}, evening.centre()); },
            false, false, false},
        {"right double click on a row", [&] { evening.doubleClick(Qt::RightButton); }, false, false,
            false},
        {"left click on a cell", [&] { QTest::mouseClick(&cell, Qt::LeftButton); }, true, false,
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        c.gesture();
        // Ends any press left open.
        QTest::mouseRelease(evening.widget(), Qt::RightButton, {}, evening.centre());
        turn();
        EXPECT_EQ(content.draft().has_value(), c.opensRule);
        EXPECT_EQ(*model.selectedProfileID == eveningID, c.selectsEvening);
        EXPECT_EQ(content.renameTarget().has_value(), c.renamesEvening);
    }
}

} // namespace
} // namespace quorvane
