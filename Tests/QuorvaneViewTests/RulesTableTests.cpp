#include "Quorvane/Views/MainWindow/RulesTable.h"

#include "Foundation/Format.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTableModel.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QAbstractItemModelTester>
#include <QDrag>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

/// A rule dragged over the table as the window system delivers it: the row under the pointer
/// takes the enter and the moves, and the row the drag last entered takes the drop, however the
/// rows scrolled beneath the pointer since.
class HeldDrag {
public:
    HeldDrag(RulesTable& table, const Rule& rule)
        : m_table(table)
    {
        m_data.setText(QString::fromStdString(rule.id.uuidString()));
    }

    /// Moves the pointer to `position` in the table's viewport.
    void moveTo(QPoint position)
    {
        m_pointer = m_table.viewport()->mapToGlobal(position);
        QWidget* under = m_table.viewport()->childAt(position);
        while (under && !dynamic_cast<RuleRow*>(under))
            under = under->parentWidget();
        if (under != m_target) {
            leave();
            m_target = under;
            send<QDragEnterEvent>();
        }
        send<QDragMoveEvent>();
    }
    void leave()
    {
        QDragLeaveEvent leave;
        if (m_target)
            QApplication::sendEvent(std::exchange(m_target, nullptr), &leave);
    }
    /// Whether the drop was taken.
    bool drop() { return send<QDropEvent>(std::exchange(m_target, nullptr)); }

private:
    template <typename Event> bool send(QWidget* target)
    {
        if (!target)
            return false;
        Event event(target->mapFromGlobal(m_pointer), Qt::MoveAction, &m_data, Qt::LeftButton,
            Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    }
    template <typename Event> void send() { send<Event>(m_target); }

    RulesTable& m_table;
    QMimeData m_data;
    QPoint m_pointer;
    QPointer<QWidget> m_target;
};

class RulesTableTest : public MainWindowFixture {
protected:
    RulesTableTest()
    {
        model.selectProfile(workID);
        turn();
    }

    RulesTable& table() const
    {
        return static_cast<ProfilePage*>(content.currentPage())->rulesTable();
    }
    const RuleList& rules() const { return profileNamed("Work · sample").rules; }
    const Rule& rule(std::string_view name) const
    {
        return *std::ranges::find(rules(), name, &Rule::name);
    }
    std::vector<UUID> ruleOrder() const
    {
        std::vector<UUID> order;
        std::ranges::transform(rules(), std::back_inserter(order), &Rule::id);
        return order;
    }
    /// The row showing the named rule; null when it is not on screen.
    RuleRow* rowOf(std::string_view name) const { return table().rowOf(rule(name).id); }
    template <typename Widget> Widget& partOf(std::string_view rowName, const char* name) const
    {
        return *rowOf(rowName)->findChild<Widget*>(QString::fromLatin1(name));
    }
    /// Whether the named rule's row shows whole, below the header.
    bool isWhollyShown(std::string_view name) const
    {
        const RuleRow* row = rowOf(name);
        return row && table().viewport()->rect().contains(row->geometry());
    }
    /// Adds rules named "Rule 4", "Rule 5"… until the profile holds `count`.
    void fillUpTo(std::size_t count)
    {
        model.configuration.modify([&](Configuration& document) {
            RuleList& work
                = document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                      .rules;
            while (work.size() < count)
                work.push_back({.id = UUID::random(),
                    .name = "Rule " + formatInteger(static_cast<std::int64_t>(work.size())),
                    .settings = {.brightness = 0.5}});
        });
        turn();
        scrollTo(0); // new rules scroll into view
    }
    void scrollTo(int value)
    {
        table().verticalScrollBar()->setValue(value);
        turn();
    }
    /// The row widgets the table holds, shown or spare.
    [[nodiscard]] std::size_t rowWidgets() const
    {
        const QObjectList children = table().viewport()->children();
        return static_cast<std::size_t>(std::ranges::count_if(
            children, [](const QObject* child) { return dynamic_cast<const RuleRow*>(child); }));
    }

    struct CapturedDrag {
        QString text;
        QPixmap image;
    };
    /// Presses on `start`, moves the pointer far enough for a drag and lets go; the drag that
    /// started, cancelled once looked at.
    std::optional<CapturedDrag> dragFrom(QWidget& start)
    {
        std::optional<CapturedDrag> captured;
        const auto capture = [&] {
            auto* drag = window.findChild<QDrag*>();
            if (captured || !drag)
                return;
            captured = CapturedDrag{drag->mimeData()->text(), drag->pixmap()};
            QDrag::cancel();
        };
        // Where the platform runs the drag in a loop of its own (X11), it is looked at there.
        QTimer inside;
        inside.setSingleShot(true);
        QObject::connect(&inside, &QTimer::timeout, capture);
        inside.start(0);
        const QPoint from = start.rect().center();
        const QPoint to = from + QPoint(QApplication::startDragDistance() + 4, 0);
        QTest::mousePress(&start, Qt::LeftButton, {}, from);
        QTest::mouseMove(&start, to);
        capture();
        QTest::mouseRelease(&start, Qt::LeftButton, {}, to);
        turn();
        return captured;
    }
};

TEST_F(RulesTableTest, ADragStartsOnTheRowOrAnyCellAndShowsOnlyTheRulesName)
{
    const char* const starts[] = {"handle", "name", "conditions", "brightness", "hdr", "contrast"};
    for (const char* start : starts) {
        SCOPED_TRACE(start);
        const std::optional<CapturedDrag> drag = dragFrom(partOf<QWidget>("Coding", start));
        ASSERT_TRUE(drag);
        EXPECT_EQ(drag->text.toStdString(), rule("Coding").id.uuidString());
        const QSize size = drag->image.deviceIndependentSize().toSize();
        EXPECT_GT(size.width(),
            QFontMetrics(partOf<QLabel>("Coding", "name").font())
                .horizontalAdvance(QStringLiteral("Coding")));
        EXPECT_LT(size.width(), 220);
        EXPECT_LT(size.height(), 40);
        EXPECT_FALSE(content.draft()) << "a drag is no click";
    }
    const std::optional<CapturedDrag> drag = dragFrom(partOf<QWidget>("Coding", "brightness"));
    ASSERT_TRUE(drag);
    QWidget frame;
    auto* image = new QLabel(&frame);
    image->setPixmap(drag->image);
    frame.resize(drag->image.deviceIndependentSize().toSize() + QSize(16, 16));
    image->move(8, 8);
    saveScreenshot(frame, "rules-drag-image");
}

TEST_F(RulesTableTest, TheHDRCellFollowsTheDisplaysAsWellAsTheDocument)
{
    model.configuration.modify([&](Configuration& document) {
        Rule& coding
            = document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                  .rules.edit(1);
        coding.conditions.screen = DisplayReference{.id = "demo-external", .name = "External"};
        coding.settings.hdr = true;
    });
    turn();
    ASSERT_EQ(partOf<QLabel>("Coding", "hdr").text(), QStringLiteral("On"));
    const ControlKey hdr{
        .target = ControlTarget::display("demo-external"), .setting = SettingKey::hdr};
    struct Case {
        std::string_view name;
        std::function<void()> change;
        QString shown;
    };
    const Case cases[] = {
        {"the capability is lost",
            [&] {
                model.hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
                    snapshot.capabilities[hdr] = {.available = false, .reason = "No HDR mode"};
                });
            },
            QStringLiteral("Unavailable")},
        {"the capability is back",
            [&] {
                model.hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
                    snapshot.capabilities[hdr] = {.available = true};
                });
            },
            QStringLiteral("On")},
        {"the screen counts as built in",
            [&] {
                std::vector<DisplayDevice> displays = model.displays.get();
                for (DisplayDevice& display : displays)
                    display.isBuiltIn = display.id == "demo-external";
                model.displays.set(std::move(displays));
            },
            QStringLiteral("macOS")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        c.change();
        turn();
        EXPECT_EQ(partOf<QLabel>("Coding", "hdr").text(), c.shown);
        EXPECT_EQ(partOf<QLabel>("Coding", "hdr").property("quorState").toString(), QString());
    }
}

TEST_F(RulesTableTest, ASpaceWhoseNameAnotherScreenSharesIsNamedWithItsScreen)
{
    const Desktop externalSpace{
        .id = "external-1", .name = "Space 1", .displayID = "demo-external"};
    const auto editWork = [&](const std::function<void(RuleList&)>& edit) {
        model.configuration.modify([&](Configuration& document) {
            edit(document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                     .rules);
        });
        turn();
    };
    const auto conditions = [&](std::string_view rule) {
        return partOf<QLabel>(rule, "conditions").text().toStdString();
    };
    editWork([&](RuleList& work) {
        work.edit(1).conditions.space = externalSpace; // Coding
        work.edit(3).conditions.space = *model.spacesByDisplay->at("demo-builtin").current;
    });
    EXPECT_EQ(conditions("Coding"), "Xcode + Space 1 (External screen 1)");
    EXPECT_EQ(conditions("Browsing"), "Safari + Space 1") << "the screens' only Space 1";

    model.spacesByDisplay.modify([&](std::map<std::string, SpaceSnapshot>& spaces) {
        spaces.at("demo-external").desktops.push_back(externalSpace);
    });
    turn();
    EXPECT_EQ(conditions("Browsing"), "Safari + Space 1 (MacBook display)");
    EXPECT_EQ(partOf<QLabel>("Coding", "conditions").toolTip(),
        QStringLiteral("Xcode + Space 1 (External screen 1)"));
    saveScreenshot(window, "rules-table-spaces-of-two-screens");

    editWork([](RuleList& work) {
        work.edit(1).conditions.screen = DisplayReference{"demo-external", "Desk"};
    });
    EXPECT_EQ(conditions("Coding"), "Xcode + Desk + Space 1") << "the screen says whose Space";
}

TEST_F(RulesTableTest, ANewlySavedRuleIsScrolledIntoViewBelowTheWholeHeader)
{
    const auto header = [&] {
        return table().grab({0, 0, RulesTable::tableWidth, RulesTable::headerHeight}).toImage();
    };
    const QImage unscrolled = header();
    model.deleteRule(rules().back().id, workID);
    for (const std::size_t count : {3U, 20U}) { // the fourth overflows by a few pixels
        SCOPED_TRACE(count);
        fillUpTo(count);
        const Rule added{.id = UUID::random(), .name = "Late", .settings = {.brightness = 0.3}};
        ASSERT_TRUE(model.saveRule(added, workID, true));
        turn();
        EXPECT_TRUE(isWhollyShown("Late"));
        EXPECT_EQ(table().verticalScrollBar()->value(), table().verticalScrollBar()->maximum());
        EXPECT_EQ(header(), unscrolled);
        model.deleteRule(added.id, workID);
    }
}

TEST_F(RulesTableTest, TheCardHoldsItsRulesWithoutAScrollBarUntilTheyOverflow)
{
    const auto hasScrollBar = [&] {
        const QList<QScrollBar*> bars = table().findChildren<QScrollBar*>();
        return std::ranges::any_of(bars, &QScrollBar::isVisible);
    };
    for (const std::size_t count : {4U, 3U, 2U, 1U}) {
        SCOPED_TRACE(count);
        model.configuration.modify([&](Configuration& document) {
            RuleList& work
                = document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                      .rules;
            work.erase(count, work.size());
        });
        turn();
        EXPECT_EQ(hasScrollBar(), count == 4);
        if (count < 4) {
            EXPECT_EQ(
                table().viewport()->height(), static_cast<int>(count) * RulesTable::rowHeight);
        }
    }
    saveScreenshot(table(), "rules-table-one-rule");
    const QImage shown = table().grab().toImage();
    const QColor card = QuorStyle::card();
    const auto pixel = [&](int x, int y) { return QColor(shown.pixel(x, y)); };
    const int rowMiddle = RulesTable::headerHeight + RulesTable::rowHeight / 2;
    EXPECT_EQ(pixel(RulesTable::tableWidth - 4, rowMiddle), card);
    EXPECT_EQ(pixel(0, 0), QuorStyle::canvas()) << "the card's corners are round";
    EXPECT_NE(pixel(0, rowMiddle), card) << "the hairline border";
    EXPECT_EQ(pixel(1, rowMiddle), card) << "one pixel wide";
    // The divider under the header, and the one under the row, which the border covers here.
    EXPECT_NE(pixel(300, RulesTable::headerHeight - 1), card);
    EXPECT_EQ(pixel(300, RulesTable::headerHeight - 2), card);
}

TEST_F(RulesTableTest, EachRowEndsInADividerUnderItsCells)
{
    const QImage shown = table().grab().toImage();
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const int bottom = RulesTable::headerHeight + (row + 1) * RulesTable::rowHeight - 1;
        EXPECT_NE(QColor(shown.pixel(300, bottom)), QuorStyle::card());
        EXPECT_EQ(QColor(shown.pixel(300, bottom - 1)), QuorStyle::card());
    }
    const QList<QLabel*> labels = table().findChildren<QLabel*>();
    const auto heading
        = [&](const QString& text) { return *std::ranges::find(labels, text, &QLabel::text); };
    EXPECT_TRUE(heading(QStringLiteral("ORDER"))->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(heading(QStringLiteral("Brightness"))->alignment() & Qt::AlignLeft);
}

TEST_F(RulesTableTest, ANotchOfTheWheelScrollsOneRow)
{
    fillUpTo(20);
    const QPointF inside(300, 200);
    QWheelEvent notch(inside, table().viewport()->mapToGlobal(inside), QPoint(), QPoint(0, -120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(table().viewport(), &notch);
    EXPECT_EQ(table().verticalScrollBar()->value(), RulesTable::rowHeight);
}

TEST_F(RulesTableTest, ANarrowerCardScrollsSidewaysWithTheHeader)
{
    table().setFixedWidth(RulesTable::tableWidth - 200);
    turn();
    QScrollBar& sideways = *table().horizontalScrollBar();
    EXPECT_EQ(sideways.maximum(), 200);
    sideways.setValue(sideways.maximum());
    const auto left = [&](const QWidget& widget) { return widget.mapTo(&table(), QPoint()).x(); };
    const QWidget& heading = *table().findChild<QLabel*>(QStringLiteral("contrastHeader"));
    const QWidget& cell = partOf<QLabel>("Coding", "contrast");
    EXPECT_EQ(left(heading), left(cell));
    EXPECT_EQ(left(partOf<QWidget>("Coding", "handle")), 22 - 200);
}

TEST_F(RulesTableTest, LongNamesEndInAnEllipsisWithTheWholeNameAsTip)
{
    const std::string longName = "Evening reading in the study with the big external display";
    model.configuration.modify([&](Configuration& document) {
        RuleList& work
            = document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                  .rules;
        work.edit(1).name = longName;
        // Conditions that would take three lines.
        RuleConditions& conditions = work.edit(2).conditions;
        conditions.screen = DisplayReference{"desk", "Office curved monitor on the left desk"};
        conditions.apps.clear();
        for (const char* app : {"Spreadsheets", "Presentations", "Calendar", "Mail"})
            conditions.apps.push_back({.id = std::string("com.example.") + app, .name = app});
    });
    turn();
    layOut();
    const auto& above = partOf<QLabel>(rules().at(2).name, "name");
    const auto& conditions = partOf<QLabel>(rules().at(2).name, "conditions");
    EXPECT_EQ(conditions.height(), 2 * conditions.fontMetrics().lineSpacing()) << "two whole lines";
    EXPECT_GE(conditions.y(), above.y() + above.height()) << "under the name";
    EXPECT_EQ(conditions.toolTip().toStdString(), rules().at(2).conditions.label());
    const auto& name = *table().rowOf(rules().at(1).id)->findChild<QLabel*>(QStringLiteral("name"));
    EXPECT_EQ(name.text().toStdString(), longName);
    EXPECT_EQ(name.toolTip().toStdString(), longName);
    EXPECT_EQ(partOf<QLabel>("Deep focus", "name").toolTip(), QString()) << "it fits";
    EXPECT_EQ(partOf<QLabel>("Deep focus", "conditions").font().pixelSize(), 10);
    saveScreenshot(table(), "rules-table-long-name");
    // However long, a cell's text ends a gap before the next column's heading.
    const auto left = [&](const QWidget& widget) { return widget.mapTo(&table(), QPoint()).x(); };
    const std::pair<const char*, const char*> neighbours[]
        = {{"name", "brightnessHeader"}, {"conditions", "brightnessHeader"},
            {"brightness", "hdrHeader"}, {"hdr", "temperatureHeader"},
            {"temperature", "refreshRateHeader"}, {"refreshRate", "contrastHeader"}};
    for (const auto& [cell, next] : neighbours) {
        SCOPED_TRACE(cell);
        const QLabel& text = partOf<QLabel>("Deep focus", cell);
        EXPECT_GE(left(*table().findChild<QLabel*>(next)) - (left(text) + text.width()), 8);
    }
}

TEST_F(RulesTableTest, ARowScrolledOutOfViewAndBackKeepsItsState)
{
    fillUpTo(40);
    QTest::mouseClick(&partOf<QWidget>("Coding", "ruleButton"), Qt::LeftButton);
    QTest::mouseClick(&partOf<SwitchButton>("Deep focus", "enabled"), Qt::LeftButton);
    turn();
    ASSERT_FALSE(rule("Deep focus").isEnabled);

    scrollTo(table().verticalScrollBar()->maximum());
    EXPECT_EQ(rowOf("Coding"), nullptr);
    EXPECT_TRUE(isWhollyShown("Rule 39"));
    saveScreenshot(table(), "rules-table-scrolled");
    // Widgets for what is on screen, not for every rule.
    EXPECT_LE(rowWidgets(), 8U);

    scrollTo(0);
    EXPECT_EQ(rowOf("Coding")->property("quorState").toString(), QStringLiteral("editing"));
    EXPECT_FALSE(partOf<SwitchButton>("Deep focus", "enabled").isChecked());
    EXPECT_EQ(
        partOf<SwitchButton>("Deep focus", "enabled").toolTip(), QStringLiteral("Enable rule"));
    EXPECT_EQ(partOf<QLabel>("Deep focus", "name").text(), QStringLiteral("Deep focus"));
    EXPECT_EQ(rowOf("Rule 39"), nullptr);
    saveScreenshot(table(), "rules-table-back-at-top");
}

TEST_F(RulesTableTest, TheOrderButtonsOfTheFirstAndLastRuleFollowAMove)
{
    fillUpTo(30);
    scrollTo(table().verticalScrollBar()->maximum());
    QTest::mouseClick(&partOf<QToolButton>("Rule 29", "up"), Qt::LeftButton);
    turn();
    EXPECT_EQ(rules().back().name, "Rule 28");
    EXPECT_FALSE(partOf<QToolButton>("Rule 28", "down").isEnabled());
    EXPECT_TRUE(partOf<QToolButton>("Rule 29", "down").isEnabled());
    EXPECT_EQ(partOf<QToolButton>("Rule 28", "down").accessibleName(),
        QStringLiteral("Move Rule 28 down"));

    scrollTo(0);
    QTest::mouseClick(&partOf<QToolButton>("Deep focus", "down"), Qt::LeftButton);
    turn();
    EXPECT_EQ(rules().front().name, "Coding");
    EXPECT_FALSE(partOf<QToolButton>("Coding", "up").isEnabled());
    EXPECT_TRUE(partOf<QToolButton>("Deep focus", "up").isEnabled());
}

TEST_F(RulesTableTest, RowsOnScreenFollowTheirRulesWhateverChangesAndWhereverRulesMove)
{
    fillUpTo(40);
    scrollTo(RulesTable::headerHeight + 20 * RulesTable::rowHeight);
    const auto expectRowsShowTheirRules = [&] {
        int shown = 0;
        for (const QObject* child : table().viewport()->children()) {
            const auto* row = dynamic_cast<const RuleRow*>(child);
            if (!row || row->isHidden())
                continue;
            ++shown;
            const Rule& expected = rules().at(static_cast<std::size_t>(row->shownRow()));
            SCOPED_TRACE(expected.name);
            EXPECT_EQ(row->ruleID(), expected.id);
            EXPECT_EQ(row->findChild<QLabel*>(QStringLiteral("name"))->text().toStdString(),
                expected.name);
            EXPECT_EQ(row->findChild<SwitchButton*>(QStringLiteral("enabled"))->isChecked(),
                expected.isEnabled);
        }
        EXPECT_GE(shown, 4);
    };
    const auto toggle = [&](std::string_view name) {
        model.toggleRule(rule(name).id, workID);
        turn();
    };

    Rule renamed = rule("Rule 21");
    renamed.name = "Rule 21 renamed";
    model.saveRule(renamed, workID, false);
    toggle("Rule 22");
    expectRowsShowTheirRules();
    // A rule moved above the rows on screen shifts them all down by one.
    model.moveRule(rule("Rule 5").id, rule("Rule 21 renamed").id, workID);
    turn();
    expectRowsShowTheirRules();
    toggle("Rule 5");
    expectRowsShowTheirRules();
    // Two rules swapped around one renamed: every row on screen reads its rule again.
    model.configuration.modify([&](Configuration& document) {
        RuleList& work
            = document.profiles.edit(std::ranges::find(document.profiles, workID, &Profile::id))
                  .rules;
        work.swap(21, 23);
        work.edit(22).name += " again";
    });
    turn();
    expectRowsShowTheirRules();
    // One changed while off screen shows its change once scrolled back.
    toggle("Coding");
    scrollTo(0);
    expectRowsShowTheirRules();
}

TEST_F(RulesTableTest, TheTabKeyWalksTheRulesInOrderAndScrollsThemIntoView)
{
    fillUpTo(30);
    partOf<SwitchButton>("Deep focus", "enabled").setFocus(Qt::ShortcutFocusReason);
    // The rule whose switch the tab key reaches next, and whether its row is wholly shown.
    const auto nextSwitch = [&](bool forward) -> std::optional<std::string> {
        for (int press = 0; press < 4; ++press) {
            QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab);
            turn();
            auto* focused = dynamic_cast<SwitchButton*>(QApplication::focusWidget());
            if (!focused)
                continue;
            const auto* row = static_cast<const RuleRow*>(focused->parentWidget()->parentWidget());
            const auto shown = std::ranges::find(rules(), row->ruleID(), &Rule::id);
            EXPECT_TRUE(isWhollyShown(shown->name)) << shown->name;
            return shown->name;
        }
        return std::nullopt;
    };
    for (int index = 1; index < 12; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(nextSwitch(true), rules().at(static_cast<std::size_t>(index)).name);
    }
    for (int index = 10; index >= 0; --index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(nextSwitch(false), rules().at(static_cast<std::size_t>(index)).name);
    }
}

TEST_F(RulesTableTest, TheFocusedRowKeepsTheFocusWhileScrolledAway)
{
    fillUpTo(30);
    SwitchButton& coding = partOf<SwitchButton>("Coding", "enabled");
    coding.setFocus(Qt::ShortcutFocusReason);
    scrollTo(table().verticalScrollBar()->maximum());
    EXPECT_EQ(QApplication::focusWidget(), &coding);
    EXPECT_FALSE(isWhollyShown("Coding"));
    QTest::keyClick(&coding, Qt::Key_Space);
    turn();
    EXPECT_FALSE(rule("Coding").isEnabled);
    // The next tab brings the focused rule's neighbours back.
    QTest::keyClick(&coding, Qt::Key_Tab);
    turn();
    EXPECT_EQ(QApplication::focusWidget(), &partOf<QToolButton>("Coding", "up"));
    EXPECT_TRUE(isWhollyShown("Coding"));
}

TEST_F(RulesTableTest, AClosingEditorGivesTheKeyboardBackToItsRuleScrolledBackIntoView)
{
    fillUpTo(30);
    QTest::mouseClick(&partOf<QWidget>("Coding", "ruleButton"), Qt::LeftButton);
    turn();
    ASSERT_TRUE(content.editor()->isAncestorOf(QApplication::focusWidget()));
    scrollTo(table().verticalScrollBar()->maximum());
    ASSERT_EQ(rowOf("Coding"), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    turn();
    ASSERT_FALSE(content.draft());
    ASSERT_TRUE(isWhollyShown("Coding"));
    EXPECT_EQ(QApplication::focusWidget(), &partOf<QWidget>("Coding", "enabled"));
}

TEST_F(RulesTableTest, TheKeysOfADeletedRulesControlReachNoOtherRule)
{
    // The deleted rule's row comes back for the rule below the last on screen.
    fillUpTo(30);
    struct Case {
        std::size_t deleted;
        const char* part;
        bool forward;
        /// Whether the table is scrolled to its end before the tab key.
        bool scrollsAway;
    };
    for (const Case& c : {Case{2, "enabled", true, false}, Case{2, "up", false, true},
             Case{0, "down", true, true}, Case{2, "enabled", false, false}}) {
        const auto& [deleted, part, forward, scrollsAway] = c;
        SCOPED_TRACE("rule " + std::to_string(deleted) + ", " + part
            + (forward ? ", then Tab" : ", then Shift+Tab")
            + (scrollsAway ? " after a scroll" : ""));
        scrollTo(0);
        const std::string name = rules().at(deleted).name;
        auto& control = partOf<QWidget>(name, part);
        control.setFocus(Qt::ShortcutFocusReason);
        QTest::keyClick(&control, Qt::Key_F10, Qt::ShiftModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* remove = menu->actions().back();
        ASSERT_EQ(remove->text(), QStringLiteral("Delete rule"));
        const HeardFocus screenReader;
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
        // As in the application, the refresh the deletion asks for comes through the event queue,
        // behind what the closing menu queued there.
        QMetaObject::invokeMethod(
            &window, [this] { turn(); }, Qt::QueuedConnection);
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(std::ranges::find(rules(), name, &Rule::name), rules().end());
        for (const HeardFocus::Heard& heard : screenReader.heard)
            EXPECT_NE(heard.object.data(), &control) << "the deleted rule's control was heard";
        const std::vector<Rule> left(rules().begin(), rules().end());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
        turn();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "another rule's menu";
        EXPECT_EQ(std::vector<Rule>(rules().begin(), rules().end()), left);
        // The tab keys go on from the deleted rule's place, to the rules on either side of it.
        if (scrollsAway)
            scrollTo(table().verticalScrollBar()->maximum());
        QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab);
        turn();
        const std::string reached = rules().at(forward ? deleted : deleted - 1).name;
        ASSERT_TRUE(isWhollyShown(reached));
        EXPECT_EQ(
            QApplication::focusWidget(), &partOf<QWidget>(reached, forward ? "enabled" : "down"));
    }
}

TEST_F(RulesTableTest, ADragHeldNearAnEdgeScrollsTheTableUntilItLeavesTheEdgeOrEnds)
{
    using namespace std::chrono_literals;
    fillUpTo(60);
    ASSERT_EQ(table().height(), ProfilePage::rulesAreaHeight(60)) << "the table scrolls itself";
    QScrollBar& bar = *table().verticalScrollBar();
    scrollTo(RulesTable::headerHeight + 30 * RulesTable::rowHeight);
    const QPoint top(300, RulesTable::autoScrollMargin - 1);
    const QPoint middle(300, table().viewport()->height() / 2);
    const QPoint bottom(300, table().viewport()->height() - RulesTable::autoScrollMargin);
    HeldDrag drag(table(), rule("Coding"));
    const auto scrolledAfter = [&](std::chrono::milliseconds held) {
        const int before = bar.value();
        demo.world.executor.advance(held);
        return bar.value() - before;
    };
    struct Step {
        std::string_view name;
        std::function<void()> action;
        std::chrono::milliseconds held;
        int scrolled;
    };
    const Step steps[] = {
        {"near the bottom edge", [&] { drag.moveTo(bottom); }, 49ms, 0},
        {"for the first step", [] {}, 1ms, 14},
        {"for two steps more, faster", [] {}, 100ms, 28 + 42},
        {"as fast as it goes", [] {}, 100ms, 84},
        {"away from the edge", [&] { drag.moveTo(middle); }, 1s, 0},
        {"just above the bottom margin", [&] { drag.moveTo(bottom - QPoint(0, 1)); }, 1s, 0},
        {"just below the top margin", [&] { drag.moveTo(top + QPoint(0, 1)); }, 1s, 0},
        {"near the top edge", [&] { drag.moveTo(top); }, 150ms, -(14 + 28 + 42)},
        {"off the table", [&] { drag.leave(); }, 1s, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.name));
        step.action();
        EXPECT_EQ(scrolledAfter(step.held), step.scrolled);
    }

    // The rows scroll a row beneath the held pointer; the drop lands on the rule under it now.
    drag.moveTo(bottom);
    EXPECT_EQ(scrolledAfter(150ms), RulesTable::rowHeight);
    const int under = (bar.value() + bottom.y()) / RulesTable::rowHeight;
    const std::string target = rules().at(static_cast<std::size_t>(under)).name;
    EXPECT_TRUE(drag.drop());
    turn();
    EXPECT_EQ(scrolledAfter(1s), 0) << "the drop ended the drag";
    const auto coding = std::ranges::find(rules(), "Coding", &Rule::name);
    ASSERT_NE(coding + 1, rules().end());
    EXPECT_EQ(coding[1].name, target);

    // Held long enough, the table runs to its end and stops there.
    drag.moveTo(bottom);
    demo.world.executor.advance(5s);
    EXPECT_EQ(bar.value(), bar.maximum());

    // In the shortest window the page, scrolled to its end, hides the table's top edge: the top
    // of what shows of the table counts as its edge.
    QScrollArea* page = nullptr;
    for (QWidget* above = table().parentWidget(); above && !page; above = above->parentWidget())
        page = qobject_cast<QScrollArea*>(above);
    window.resize(window.width(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    page->verticalScrollBar()->setValue(page->verticalScrollBar()->maximum());
    const QPoint pageTop = table().viewport()->mapFrom(page->viewport(), QPoint(300, 4));
    ASSERT_GT(pageTop.y(), RulesTable::autoScrollMargin);
    drag.moveTo(pageTop);
    EXPECT_EQ(scrolledAfter(50ms), -14);
    drag.leave();
}

TEST_F(RulesTableTest, EveryTabStopOfTheTableIsARowsControlWithAnAmberRingAndTheRowsMenu)
{
    // The ring's pixels, blended with the card: warm, where nothing else in a row is.
    for (QWidget* control : rowOf("Coding")->focusableControls()) {
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_EQ(ringPixels(picture(*control)), 0);
        control->setFocus(Qt::ShortcutFocusReason);
        EXPECT_GT(ringPixels(picture(*control)), 40);
        saveScreenshot(table(), "rules-focused-" + control->objectName().toStdString());
        // Shift+F10, for keyboards without a Menu key; neither half alone opens the menu.
        QTest::keyClick(control, Qt::Key_F10);
        QTest::keyClick(control, Qt::Key_F9, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        QTest::keyClick(control, Qt::Key_F10, Qt::ShiftModifier);
        QWidget* menu = QApplication::activePopupWidget();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->parentWidget(), rowOf("Coding"));
        menu->close();
    }
    // From the button before the table, the tab key goes from control to control of the rows.
    window.findChild<QWidget*>(QStringLiteral("addRule"))->setFocus(Qt::ShortcutFocusReason);
    const std::vector<std::pair<std::string_view, const char*>> stops = {
        {"Deep focus", "enabled"}, {"Deep focus", "down"}, {"Coding", "enabled"}, {"Coding", "up"}};
    for (const auto& [rule, part] : stops) {
        SCOPED_TRACE(std::string(rule) + " " + part);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), &partOf<QWidget>(rule, part));
    }
}

TEST_F(RulesTableTest, AClickedOrderButtonKeepsTheFocusWithItsRuleSoThatTabGoesOnFromThere)
{
    fillUpTo(60);
    QScrollBar& bar = *table().verticalScrollBar();
    struct Case {
        std::string_view name;
        int scrolledTo;
        std::string_view rule;
        const char* clicked;
        /// Where the focus is after the click, and after one tab: a control of a rule, or with
        /// no control named, a place in the rule's row where keys do nothing.
        std::pair<std::string_view, const char*> focused;
        std::pair<std::string_view, const char*> tabbedTo;
    };
    const int middle = RulesTable::headerHeight + 28 * RulesTable::rowHeight;
    const Case cases[] = {
        {"up", middle, "Rule 30", "up", {"Rule 30", "up"}, {"Rule 30", "down"}},
        // Rule 30 is at 29 now.
        {"down", middle, "Rule 30", "down", {"Rule 30", "down"}, {"Rule 31", "enabled"}},
        // At either end the button disables itself: the focus stays with the rule, never on
        // the button that would undo the move, and Tab goes on from the button.
        {"up to the top", 0, "Coding", "up", {"Coding", nullptr}, {"Coding", "down"}},
        {"down to the bottom", bar.maximum(), "Rule 58", "down", {"Rule 58", nullptr}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        scrollTo(c.scrolledTo);
        ASSERT_TRUE(isWhollyShown(c.rule));
        QTest::mouseClick(&partOf<QToolButton>(c.rule, c.clicked), Qt::LeftButton);
        turn();
        const int scrolled = bar.value();
        EXPECT_EQ(scrolled, c.scrolledTo);
        QWidget* const focused = QApplication::focusWidget();
        if (c.focused.second) {
            EXPECT_EQ(focused, &partOf<QToolButton>(c.focused.first, c.focused.second));
        } else {
            EXPECT_TRUE(focused && rowOf(c.focused.first)->isAncestorOf(focused)
                && !(focused->focusPolicy() & Qt::TabFocus));
            const std::vector<UUID> order = ruleOrder();
            QTest::keyClick(focused, Qt::Key_Space);
            turn();
            EXPECT_EQ(ruleOrder(), order) << "a second Space moved the rule back";
        }
        if (c.tabbedTo.first.empty())
            continue;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        turn();
        EXPECT_EQ(
            QApplication::focusWidget(), &partOf<QWidget>(c.tabbedTo.first, c.tabbedTo.second));
        EXPECT_EQ(bar.value(), scrolled) << "the table does not jump";
    }
    // A click beside the controls leaves the table where it is at the next tab, too.
    scrollTo(middle);
    QTest::mouseClick(&partOf<QWidget>("Rule 30", "handle"), Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    turn();
    EXPECT_EQ(bar.value(), middle);
}

/// Records every announcement of the table model.
struct Announcements {
    explicit Announcements(RulesTableModel& rules)
        : changed(&rules, &QAbstractItemModel::dataChanged)
        , inserted(&rules, &QAbstractItemModel::rowsInserted)
        , removed(&rules, &QAbstractItemModel::rowsRemoved)
        , moved(&rules, &QAbstractItemModel::rowsMoved)
        , reset(&rules, &QAbstractItemModel::modelReset)
    {
    }
    /// Each signal as "changed 2-2" (rows), "inserted 4-4", "moved 3 to 0"; then clears them.
    std::vector<std::string> take()
    {
        std::vector<std::string> seen;
        const auto rows = [](const QList<QVariant>& arguments, int first, int last) {
            return formatInteger(arguments.at(first).value<QModelIndex>().row()) + "-"
                + formatInteger(arguments.at(last).value<QModelIndex>().row());
        };
        for (const QList<QVariant>& signal : changed)
            seen.push_back("changed " + rows(signal, 0, 1));
        for (const QList<QVariant>& signal : inserted)
            seen.push_back("inserted " + formatInteger(signal.at(1).toInt()) + "-"
                + formatInteger(signal.at(2).toInt()));
        for (const QList<QVariant>& signal : removed)
            seen.push_back("removed " + formatInteger(signal.at(1).toInt()) + "-"
                + formatInteger(signal.at(2).toInt()));
        for (const QList<QVariant>& signal : moved)
            seen.push_back("moved " + formatInteger(signal.at(1).toInt()) + " to "
                + formatInteger(signal.at(4).toInt()));
        if (!reset.isEmpty())
            seen.emplace_back("reset");
        for (QSignalSpy* spy : {&changed, &inserted, &removed, &moved, &reset})
            spy->clear();
        return seen;
    }

    QSignalSpy changed;
    QSignalSpy inserted;
    QSignalSpy removed;
    QSignalSpy moved;
    QSignalSpy reset;
};

/// A change to the document and what the table model announces for it.
struct AnnouncementCase {
    std::string_view name;
    std::function<void()> change;
    std::vector<std::string> announced;
};

TEST(RulesTableModelTest, AnnouncesOnlyWhatChanged)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    const auto work = [&]() -> const Profile& { return model.configuration->profiles.at(1); };
    const auto ruleID = [&](std::size_t index) { return work().rules.at(index).id; };
    const auto editFirst = [&](const std::function<void(Rule&)>& edit) {
        model.configuration.modify(
            [&](Configuration& document) { edit(document.profiles.edit(1).rules.edit(0)); });
    };
    RulesTableModel rules(model, work().id);
    QAbstractItemModelTester tester(&rules, QAbstractItemModelTester::FailureReportingMode::Fatal);
    Announcements announced(rules);
    ASSERT_EQ(rules.rowCount(), 4);

    const AnnouncementCase cases[] = {
        {"nothing", [] {}, {}},
        // Another object than the row last read, holding the same rule: nothing to show.
        {"a rule copied unchanged beside another change",
            [&] {
                model.configuration.modify([](Configuration& document) {
                    document.profiles.edit(1).rules.edit(0).isEnabled ^= false;
                    document.smoothTransitions = !document.smoothTransitions;
                });
            },
            {}},
        {"a toggle", [&] { model.toggleRule(ruleID(2), work().id); }, {"changed 2-2"}},
        // A swap reads as the lower rule moving up.
        {"a move down", [&] { model.moveRule(ruleID(0), work().id, 1); }, {"moved 1 to 0"}},
        {"a move up", [&] { model.moveRule(ruleID(3), work().id, -1); }, {"moved 3 to 2"}},
        {"a drop two rows up", [&] { model.moveRule(ruleID(3), ruleID(1), work().id); },
            {"moved 3 to 1"}},
        {"a drop two rows down", [&] { model.moveRule(ruleID(0), ruleID(3), work().id); },
            {"moved 0 to 3"}},
        {"a deletion", [&] { model.deleteRule(ruleID(1), work().id); }, {"removed 1-1"}},
        {"a new rule",
            [&] {
                model.saveRule(
                    {.id = UUID::random(), .name = "Late", .settings = {.contrast = 0.4}},
                    work().id, false);
            },
            {"inserted 3-3"}},
        {"an edit",
            [&] {
                Rule edited = work().rules.at(0);
                edited.settings.brightness = 0.2;
                model.saveRule(edited, work().id, false);
            },
            {"changed 0-0"}},
        {"another temperature",
            [&] {
                editFirst(
                    [](Rule& rule) { rule.settings.temperature = Temperature::kelvin(4100); });
            },
            {"changed 0-0"}},
        {"a neutral temperature",
            [&] {
                editFirst([](Rule& rule) { rule.settings.temperature = Temperature::neutral(); });
            },
            {"changed 0-0"}},
        {"another refresh rate",
            [&] {
                editFirst([](Rule& rule) {
                    rule.settings.refreshRate = RefreshPreference::fixed(60'000);
                });
            },
            {"changed 0-0"}},
        {"an adaptive refresh rate",
            [&] {
                editFirst(
                    [](Rule& rule) { rule.settings.refreshRate = RefreshPreference::adaptive(); });
            },
            {"changed 0-0"}},
        {"another screen",
            [&] {
                editFirst([](Rule& rule) {
                    rule.conditions.screen
                        = DisplayReference{.id = "demo-builtin", .name = "Built-in"};
                });
            },
            {"changed 0-0"}},
        {"two rules swapped with another edited",
            [&] {
                model.configuration.modify([&](Configuration& document) {
                    RuleList& changed = document.profiles.edit(1).rules;
                    changed.swap(0, 2);
                    changed.edit(1).name = "Renamed";
                });
            },
            {"reset"}},
        {"the first rule moved to the end as the one before it is replaced",
            [&] {
                model.configuration.modify([&](Configuration& document) {
                    RuleList& changed = document.profiles.edit(1).rules;
                    changed.move(0, changed.size() - 1);
                    changed.edit(changed.size() - 2) = {.id = UUID::random(), .name = "Other"};
                });
            },
            {"reset"}},
        {"one rule swapped for two new ones",
            [&] {
                model.configuration.modify([&](Configuration& document) {
                    RuleList& changed = document.profiles.edit(1).rules;
                    changed.erase(1);
                    for (const char* name : {"New", "Newer"})
                        changed.push_back({.id = UUID::random(), .name = name});
                });
            },
            {"reset"}},
    };
    for (const AnnouncementCase& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        c.change();
        rules.refresh();
        EXPECT_EQ(announced.take(), c.announced);
        ASSERT_EQ(rules.rowCount(), static_cast<int>(work().rules.size()));
        for (int row = 0; row < rules.rowCount(); ++row)
            EXPECT_EQ(rules.rule(row), work().rules.at(static_cast<std::size_t>(row)));
    }

    model.hardwareSnapshot.modify([](HardwareSnapshot&) {});
    demo.turn();
    const int hdr = RulesTableModel::columnOf(SettingKey::hdr);
    ASSERT_EQ(announced.changed.size(), 1);
    EXPECT_EQ(announced.changed.front().at(0).value<QModelIndex>(), rules.index(0, hdr));
    EXPECT_EQ(announced.changed.front().at(1).value<QModelIndex>(),
        rules.index(rules.rowCount() - 1, hdr));
}

TEST(RulesTableModelTest, OnlyTheWatchedRowsAnnounceChangesWhereverTheyMove)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    const auto work = [&]() -> const Profile& { return model.configuration->profiles.at(1); };
    const auto toggle = [&](std::vector<std::size_t> indices) {
        return [&model, &work, indices = std::move(indices)] {
            std::vector<UUID> toggled;
            for (const std::size_t index : indices)
                toggled.push_back(work().rules.at(index).id);
            for (const UUID& ruleID : toggled)
                model.toggleRule(ruleID, work().id);
        };
    };
    RulesTableModel rules(model, work().id);
    /// The change, then the rows watched from then on.
    const auto thenWatch = [&rules](std::function<void()> change, std::vector<int> rows) {
        return [&rules, change = std::move(change), rows = std::move(rows)] {
            change();
            rules.watchRows(rows);
        };
    };
    /// Gives the rule at `index` an identifier one bit away from its own: another rule.
    const auto flipIDBit = [&](std::size_t index, std::size_t byte) {
        return [&model, index, byte] {
            model.configuration.modify([&](Configuration& document) {
                Rule& changed = document.profiles.edit(1).rules.edit(index);
                UUID::Bytes bytes = changed.id.bytes();
                bytes.at(byte) ^= 1;
                changed.id = UUID(bytes);
            });
        };
    };
    Announcements announced(rules);
    ASSERT_EQ(rules.rowCount(), 4);

    const AnnouncementCase cases[] = {
        {"watch the middle rows", thenWatch([] {}, {1, 2}), {}},
        {"a row not watched", toggle({0, 3}), {}},
        {"both watched rows", toggle({1, 2}), {"changed 1-2"}},
        {"a watched row moved up", [&] { model.moveRule(work().rules.at(2).id, work().id, -1); },
            {"moved 2 to 1"}},
        {"both after the move", toggle({1, 2}), {"changed 1-2"}},
        {"the row above removed", [&] { model.deleteRule(work().rules.at(0).id, work().id); },
            {"removed 0-0"}},
        {"both after the removal", toggle({0, 1, 2}), {"changed 0-1"}},
        // A change made before the row is watched was never shown: the row is read as it is.
        {"a row watched once changed", thenWatch(toggle({2}), {0, 2}), {}},
        {"the rows watched now", toggle({0, 1, 2}), {"changed 0-0", "changed 2-2"}},
        // A row still watched keeps its pending change.
        {"a change pending as the watch is narrowed", thenWatch(toggle({0, 2}), {0}),
            {"changed 0-0"}},
        {"an identifier changed in its first byte", flipIDBit(1, 0), {"reset"}},
        {"an identifier changed in its last byte", flipIDBit(1, 15), {"reset"}},
    };
    for (const AnnouncementCase& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        c.change();
        rules.refresh();
        EXPECT_EQ(announced.take(), c.announced);
    }
}

TEST(RulesTableModelTest, RowsReadBeforeTheRefreshAreTheOldRowsFoundByTheirRules)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    const Profile work = model.configuration->profiles.at(1);
    RulesTableModel rules(model, work.id);
    model.deleteRule(work.rules.at(1).id, work.id);
    const auto name = [&](int row) { return rules.data(rules.index(row, 0), Qt::DisplayRole); };
    ASSERT_EQ(rules.rowCount(), 4);
    EXPECT_FALSE(name(1).isValid()) << "its rule is gone";
    for (const int row : {0, 2, 3})
        EXPECT_EQ(
            name(row).toString().toStdString(), work.rules.at(static_cast<std::size_t>(row)).name);
    rules.refresh();
    EXPECT_EQ(rules.rowCount(), 3);
    EXPECT_EQ(name(2).toString().toStdString(), work.rules.at(3).name);
}

TEST(RulesTableModelTest, CellsShowTheSettingsAndTheHeaderTheColumns)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    const Profile& work = model.configuration->profiles.at(1);
    RulesTableModel rules(model, work.id);
    const auto cell = [&](int row, SettingKey key, int role = Qt::DisplayRole) {
        return rules.data(rules.index(row, RulesTableModel::columnOf(key)), role);
    };
    ASSERT_EQ(work.rules.at(1).name, "Coding");
    EXPECT_EQ(rules.data(rules.index(1, RulesTableModel::ruleColumn), Qt::DisplayRole),
        QStringLiteral("Coding"));
    EXPECT_EQ(cell(1, SettingKey::brightness), QStringLiteral("70%"));
    EXPECT_TRUE(cell(1, SettingKey::brightness, RulesTableModel::isSetRole).toBool());
    EXPECT_EQ(cell(1, SettingKey::contrast), QStringLiteral("Default"));
    EXPECT_FALSE(cell(1, SettingKey::contrast, RulesTableModel::isSetRole).toBool());
    EXPECT_EQ(
        cell(1, SettingKey::hdr), QString::fromStdString(model.hdrRuleLabel(work.rules.at(1))));
    EXPECT_FALSE(
        rules.data(rules.index(1, RulesTableModel::orderColumn), Qt::DisplayRole).isValid());

    const QString headers[] = {QStringLiteral("RULE / ALL CONDITIONS"),
        QStringLiteral("Brightness"), QStringLiteral("HDR"), QStringLiteral("Temperature"),
        QStringLiteral("Refresh rate"), QStringLiteral("Contrast"), QStringLiteral("ORDER")};
    ASSERT_EQ(rules.columnCount(), 7);
    EXPECT_FALSE(rules.headerData(rules.columnCount(), Qt::Horizontal, Qt::DisplayRole).isValid());
    EXPECT_FALSE(rules.headerData(0, Qt::Vertical, Qt::DisplayRole).isValid());
    EXPECT_EQ(rules.rowOf(work.rules.at(2).id), 2);
    EXPECT_EQ(rules.rowOf(UUID::random()), std::nullopt);
    EXPECT_EQ(rules.rowCount(rules.index(0, 0)), 0) << "a table: no cell has children";
    EXPECT_EQ(rules.columnCount(rules.index(0, 0)), 0);
    for (int column = 0; column < rules.columnCount(); ++column)
        EXPECT_EQ(rules.headerData(column, Qt::Horizontal, Qt::DisplayRole), headers[column]);
}

} // namespace
} // namespace quorvane
