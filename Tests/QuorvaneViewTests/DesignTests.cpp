#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/MonospacedDigitsLabel.h"
#include "Quorvane/Views/Design/Notice.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/Design/ProfileActivationToggle.h"
#include "Quorvane/Views/Design/QuorDisclosureHeader.h"
#include "Quorvane/Views/Design/QuorMark.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/Design/TabOrder.h"
#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvane {
namespace {

TEST(ViewRefreshTest, CoalescesTheChangesOfOneTurnIntoOneLaterRefresh)
{
    ManualExecutor executor;
    Observable<int> first{0};
    Observable<std::string> second;
    int refreshes = 0;
    ViewRefresh refresh(executor, [&] { ++refreshes; });
    refresh.watch(first, second);

    first.set(1);
    second.set("a");
    first.set(2);
    EXPECT_EQ(refreshes, 0); // never in the middle of the writer's work
    executor.runUntilIdle();
    EXPECT_EQ(refreshes, 1);
    first.set(2); // unchanged: no notification
    executor.runUntilIdle();
    EXPECT_EQ(refreshes, 1);
    second.set("b");
    executor.runUntilIdle();
    EXPECT_EQ(refreshes, 2);
}

TEST(ViewRefreshTest, ARefreshQueuedForAViewThatIsGoneDoesNothing)
{
    ManualExecutor executor;
    Observable<int> field{0};
    int refreshes = 0;
    auto refresh = std::make_unique<ViewRefresh>(executor, [&] { ++refreshes; });
    refresh->watch(field);
    field.set(1);
    refresh.reset();
    field.set(2);
    executor.runUntilIdle();
    EXPECT_EQ(refreshes, 0);
}

class EditingTextFieldTest : public ::testing::Test {
public:
    EditingTextFieldTest()
    {
        (new QVBoxLayout(&window))->addWidget(field);
        window.layout()->addWidget(elsewhere);
        window.show();
        window.activateWindow();
        field->setFocus();
    }

    /// What the field reported since the last call.
    std::vector<std::string> reports()
    {
        std::vector<std::string> taken;
        for (const auto& [name, spy] : spies)
            for (int count = spy->count(); count > 0; --count)
                taken.push_back(name);
        for (const auto& [name, spy] : spies)
            spy->clear();
        return taken;
    }

    QApplication& application = testApplication();
    QWidget window;
    EditingTextField* field = new EditingTextField(
        QStringLiteral("Profile name"), EditingTextField::Size::body, &window);
    QLineEdit* elsewhere = new QLineEdit(&window);
    std::vector<std::pair<std::string, std::unique_ptr<QSignalSpy>>> spies = [this] {
        std::vector<std::pair<std::string, std::unique_ptr<QSignalSpy>>> made;
        made.emplace_back(
            "submit", std::make_unique<QSignalSpy>(field, &EditingTextField::submitted));
        made.emplace_back(
            "cancel", std::make_unique<QSignalSpy>(field, &EditingTextField::cancelled));
        made.emplace_back("blur", std::make_unique<QSignalSpy>(field, &EditingTextField::blurred));
        return made;
    }();
};

TEST_F(EditingTextFieldTest, ReturnEnterEscapeAndARealFocusLossEndTheEditOnce)
{
    struct Case {
        std::string_view name;
        std::function<void(EditingTextFieldTest&)> act;
        std::vector<std::string> reported;
    };
    const auto key = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [key, modifiers](
                   EditingTextFieldTest& test) { QTest::keyClick(test.field, key, modifiers); };
    };
    const auto focusOut = [](Qt::FocusReason reason) {
        return [reason](EditingTextFieldTest& test) {
            QFocusEvent event(QEvent::FocusOut, reason);
            QApplication::sendEvent(test.field, &event);
        };
    };
    const Case cases[] = {
        {"Return", key(Qt::Key_Return), {"submit"}},
        {"keypad Enter", key(Qt::Key_Enter, Qt::KeypadModifier), {"submit"}},
        {"Escape", key(Qt::Key_Escape), {"cancel"}},
        {"click elsewhere", focusOut(Qt::MouseFocusReason), {"blur"}},
        {"Tab", focusOut(Qt::TabFocusReason), {"blur"}},
        {"a menu opens", focusOut(Qt::PopupFocusReason), {}},
        {"the window deactivates", focusOut(Qt::ActiveWindowFocusReason), {}},
        {"the menu bar", focusOut(Qt::MenuBarFocusReason), {}},
        {"a blur, then Return",
            [&](EditingTextFieldTest& test) {
                focusOut(Qt::MouseFocusReason)(test);
                QTest::keyClick(test.field, Qt::Key_Return);
            },
            {"blur"}},
        {"Return, then the field closes",
            [](EditingTextFieldTest& test) {
                QTest::keyClick(test.field, Qt::Key_Return);
                test.elsewhere->setFocus(Qt::OtherFocusReason);
                QTest::keyClick(test.field, Qt::Key_Escape);
            },
            {"submit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(field, &focusIn);
        reports();
        c.act(*this);
        EXPECT_EQ(reports(), c.reported);
    }
}

TEST_F(EditingTextFieldTest, HalfTypedTextSurvivesAModelRefresh)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    model.createProfile("Work");
    const UUID profileID = model.configuration->orderedProfiles().back().id;
    const auto nameOf = [&] {
        return QString::fromStdString(model.configuration->orderedProfiles().back().name);
    };
    ViewRefresh refresh(model.executor(), [&] { field->showModelText(nameOf()); });
    refresh.watch(model.configuration);
    field->clearFocus();
    field->showModelText(nameOf());
    EXPECT_EQ(field->text(), QStringLiteral("Work"));

    field->setFocus();
    QTest::keyClicks(field, QStringLiteral(" at home"));
    model.renameProfile(profileID, "Office"); // renamed elsewhere while the user types
    demo.world.executor.runUntilIdle();
    EXPECT_EQ(field->text(), QStringLiteral("Work at home"));
    field->clearFocus(); // typed text stays even without the keyboard
    field->showModelText(nameOf());
    EXPECT_EQ(field->text(), QStringLiteral("Work at home"));
    demo.settle();
}

class ProfileActivationToggleTest : public ::testing::Test {
protected:
    SwitchButton& active() const
    {
        return *toggle.findChild<SwitchButton*>(QStringLiteral("active"));
    }

    DemoWorld demo;
    AppModel& model = *demo.model;
    UUID activeID = model.configuration->activeProfileID;
    ProfileActivationToggle toggle{model, activeID};
};

TEST_F(ProfileActivationToggleTest, FlipsThroughTheModelAndSnapsBackWhenRefused)
{
    toggle.show();
    ASSERT_TRUE(active().isChecked());
    QTest::mouseClick(&active(), Qt::LeftButton); // off: the Default profile takes over
    EXPECT_EQ(model.configuration->activeProfileID, model.configuration->defaultProfileID);
    EXPECT_FALSE(active().isChecked());
    demo.settle();

    model.preview.set(DisplayPreview{.id = UUID::random()}); // a display test refuses the flip
    QTest::mouseClick(&active(), Qt::LeftButton);
    EXPECT_EQ(model.configuration->activeProfileID, model.configuration->defaultProfileID);
    EXPECT_FALSE(active().isChecked());
    model.preview.set(std::nullopt);

    model.activateProfile(activeID); // a change elsewhere shows on the next turn
    EXPECT_FALSE(active().isChecked());
    demo.world.executor.runUntilIdle();
    EXPECT_TRUE(active().isChecked());
    model.setAutomation(false);
    demo.world.executor.runUntilIdle();
    EXPECT_FALSE(active().isChecked());
    demo.settle();
}

TEST(QuorDisclosureHeaderTest, AClickTogglesAndReportsWhileSettingOnlyShows)
{
    testApplication();
    QuorDisclosureHeader header(QStringLiteral("Rules"), true);
    QSignalSpy changes(&header, &QuorDisclosureHeader::expandedChanged);
    const bool expected[] = {false, true};
    for (const bool isExpanded : expected) {
        QTest::mouseClick(&header, Qt::LeftButton);
        EXPECT_EQ(header.isExpanded(), isExpanded);
        EXPECT_EQ(header.arrowType(), isExpanded ? Qt::DownArrow : Qt::RightArrow);
        ASSERT_FALSE(changes.isEmpty());
        EXPECT_EQ(changes.takeFirst().at(0).toBool(), isExpanded);
    }
    header.setExpanded(false);
    EXPECT_EQ(header.arrowType(), Qt::RightArrow);
    EXPECT_TRUE(changes.isEmpty());
}

TEST(DesignTest, PiecesTogether)
{
    testApplication();
    QWidget sampler;
    sampler.setFixedWidth(420);
    auto* layout = new QVBoxLayout(&sampler);
    layout->addWidget(new QuorMark(36, &sampler));
    auto* heading = new PageHeading(QStringLiteral("Profile"), QStringLiteral("Work"),
        QStringLiteral("Rules for the office"), &sampler);
    layout->addWidget(heading);
    layout->addWidget(new Notice(QStringLiteral("The settings file could not be read."),
        "exclamationmark.triangle", &sampler));
    layout->addWidget(
        new QuorDisclosureHeader(QStringLiteral("Rules"), false, std::nullopt, &sampler));
    auto* on = new SwitchButton(QStringLiteral("Active"), &sampler);
    on->setChecked(true);
    layout->addWidget(on);
    layout->addWidget(new SwitchButton(QStringLiteral("Off"), &sampler));
    layout->addWidget(new EditingTextField(
        QStringLiteral("Profile name"), EditingTextField::Size::heading, &sampler));
    sampler.show();
    heading->setSubtitle(std::nullopt);
    EXPECT_FALSE(heading->findChild<QLabel*>(QStringLiteral("subtitle"))->isVisible());
    EXPECT_EQ(
        heading->findChild<QLabel*>(QStringLiteral("eyebrow"))->text(), QStringLiteral("PROFILE"));
    for (auto* field : sampler.findChildren<EditingTextField*>())
        EXPECT_EQ(field->property("quorRole").toString(), QStringLiteral("editingHeading"));
    EXPECT_FALSE(
        EditingTextField(QString(), EditingTextField::Size::body).property("quorRole").isValid());
    saveScreenshot(sampler, "design-pieces");
}

TEST(DesignTest, EveryNamedSymbolIsDrawnAndAnyOtherNameIsEmpty)
{
    testApplication();
    const auto hasInk = [](const QIcon& icon) {
        const QImage image = icon.pixmap(16, 16).toImage();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(image.pixel(x, y)) > 0)
                    return true;
            }
        }
        return false;
    };
    for (const char* name : {"rectangle.stack", "lock.rectangle.stack", "plus", "display.2",
             "slider.horizontal.3", "checkmark.circle.fill", "xmark", "ellipsis",
             "line.3.horizontal", "chevron.up", "chevron.down", "exclamationmark.triangle",
             "exclamationmark.circle", "folder", "square.grid.2x2"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(hasInk(symbolIcon(name, Qt::black)));
    }
    EXPECT_TRUE(symbolIcon("no.such.symbol", Qt::black).isNull());
}

TEST(QuorStyleTest, DisabledTextAndControlsTakeTheDisabledLook)
{
    testApplication();
    struct Case {
        std::string_view kind;
        std::function<std::unique_ptr<QWidget>()> make;
    };
    const QString text = QStringLiteral("Night Shift");
    const Case cases[] = {
        {"label", [&] { return std::make_unique<QLabel>(text); }},
        {"button", [&] { return std::make_unique<QPushButton>(text); }},
        {"check box", [&] { return std::make_unique<QCheckBox>(text); }},
        {"switch", [&] { return std::make_unique<SwitchButton>(text); }},
        {"field", [&] { return std::make_unique<QLineEdit>(text); }},
        {"drop-down",
            [&] {
                auto box = std::make_unique<QComboBox>();
                box->addItem(text);
                return box;
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind));
        const std::unique_ptr<QWidget> widget = c.make();
        widget->resize(widget->sizeHint());
        const int enabledInk = qGray(ink(picture(*widget)).rgb());
        EXPECT_LT(enabledInk, 80);
        widget->setEnabled(false);
        EXPECT_GT(qGray(ink(picture(*widget)).rgb()), enabledInk + 80);
    }
}

TEST(QuorStyleTest, DestructiveMenuEntriesAreRedWhileTheyCanBeChosen)
{
    testApplication();
    QMenu menu;
    QAction* keep = menu.addAction(QStringLiteral("Duplicate"));
    QAction* remove = menu.addAction(QStringLiteral("Delete rule"));
    QuorStyle::markDestructive(*remove);
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    const auto isRed
        = [&](QAction* entry) { return drawsRed(menu.grab(menu.actionGeometry(entry)).toImage()); };
    EXPECT_TRUE(isRed(remove));
    EXPECT_FALSE(isRed(keep));
    saveScreenshot(menu, "destructive-menu");
    remove->setEnabled(false);
    EXPECT_FALSE(isRed(remove));
    menu.close();

    QPushButton button(QStringLiteral("Delete profile"));
    QuorStyle::setRole(button, QuorRole::destructive);
    EXPECT_TRUE(drawsRed(picture(button)));
    button.setEnabled(false);
    EXPECT_FALSE(drawsRed(picture(button)));
    EXPECT_EQ(ink(picture(button)), QuorStyle::disabledText());
}

TEST(QuorStyleTest, TextRolesTakeTheirColours)
{
    testApplication();
    struct Case {
        QuorRole role;
        QColor colour;
    };
    const Case cases[] = {
        {QuorRole::pageTitle, QuorStyle::primaryText()},
        {QuorRole::secondary, QuorStyle::secondaryText()},
        {QuorRole::eyebrow, QuorStyle::secondaryText()},
        {QuorRole::subtitle, QuorStyle::secondaryText()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colour.name().toStdString());
        QLabel label(QStringLiteral("MWH"));
        QuorStyle::setRole(label, c.role);
        label.ensurePolished();
        label.resize(label.sizeHint());
        const QColor drawn = ink(picture(label));
        EXPECT_LE(std::abs(drawn.red() - c.colour.red())
                + std::abs(drawn.green() - c.colour.green())
                + std::abs(drawn.blue() - c.colour.blue()),
            30)
            << drawn.name().toStdString();
    }
}

TEST(ElidedLabelTest, ALongTextEndsWithAnEllipsisAndBecomesTheTooltip)
{
    testApplication();
    ElidedLabel label;
    label.setText(QStringLiteral("Evening"));
    label.show();
    label.resize(label.sizeHint());
    EXPECT_FALSE(label.isElided());
    EXPECT_EQ(label.toolTip(), QString());
    EXPECT_LT(label.minimumSizeHint().width(), label.sizeHint().width());

    const QString name = QStringLiteral("Evening with the big external display");
    label.setText(name);
    EXPECT_TRUE(label.isElided());
    EXPECT_EQ(label.toolTip(), name);
    EXPECT_EQ(label.text(), name);
    label.resize(label.sizeHint());
    EXPECT_FALSE(label.isElided());
    EXPECT_EQ(label.toolTip(), QString());
    label.resize(label.fontMetrics().horizontalAdvance(name), label.height());
    EXPECT_EQ(label.toolTip(), QString()) << "exactly wide enough";
    label.resize(label.fontMetrics().horizontalAdvance(name) - 1, label.height());
    EXPECT_EQ(label.toolTip(), name);
    label.resize(label.fontMetrics().horizontalAdvance(name), label.height());
    QFont larger = label.font();
    larger.setPixelSize(QFontInfo(larger).pixelSize() + 4);
    label.setFont(larger); // the same width no longer holds the name
    EXPECT_EQ(label.toolTip(), name);
    saveScreenshot(label, "elided-label");

    // Given two lines, a layout asks it for the height the width leaves it.
    label.setMaximumLineCount(2);
    const int narrow = label.fontMetrics().horizontalAdvance(name) / 2 + 10;
    ASSERT_TRUE(label.hasHeightForWidth());
    EXPECT_EQ(label.heightForWidth(narrow), 2 * label.fontMetrics().lineSpacing());
}

/// A paint device that keeps the texts drawn on it and draws nothing else.
class TextRecorder final : public QPaintDevice {
public:
    explicit TextRecorder(QSize size)
        : m_size(size)
    {
    }
    [[nodiscard]] QPaintEngine* paintEngine() const override { return &m_engine; }
    [[nodiscard]] const QStringList& texts() const { return m_engine.texts; }
    /// Where each text starts, in the order of texts().
    [[nodiscard]] const std::vector<int>& lefts() const { return m_engine.lefts; }

protected:
    [[nodiscard]] int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 1;
        }
    }

private:
    struct Engine final : QPaintEngine {
        Engine()
            : QPaintEngine(AllFeatures)
        {
        }
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override { }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { }
        void drawPath(const QPainterPath&) override { }
        void drawTextItem(const QPointF& origin, const QTextItem& item) override
        {
            texts.push_back(item.text());
            lefts.push_back(qRound(state->transform().map(origin).x()));
        }
        Type type() const override { return User; }
        QStringList texts;
        std::vector<int> lefts;
    };
    QSize m_size;
    mutable Engine m_engine;
};

TEST(QuorStyleTest, ATooNarrowDropDownEndsItsEntryWithAnEllipsis)
{
    testApplication();
    const QString name = QStringLiteral("Studio evening colour grading");
    QComboBox box;
    box.addItem(name);
    box.show();
    struct Case {
        std::string_view width;
        int narrowedBy;
        bool isCut;
    };
    const Case cases[] = {{"room enough", 0, false}, {"half as wide", 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.width));
        box.setFixedWidth(
            c.narrowedBy ? box.sizeHint().width() / c.narrowedBy : box.sizeHint().width());
        TextRecorder recorder(box.size());
        box.render(&recorder);
        const QString drawn = recorder.texts().join(QString());
        EXPECT_EQ(drawn.endsWith(QStringLiteral("…")), c.isCut) << drawn.toStdString();
        EXPECT_TRUE(name.startsWith(drawn.chopped(c.isCut ? 1 : 0))) << drawn.toStdString();
        if (c.isCut)
            saveScreenshot(box, "elided-drop-down");
    }
}

TEST(MonospacedDigitsLabelTest, EachDigitTakesACellAsWideAsTheWidestDigit)
{
    testApplication();
    MonospacedDigitsLabel label;
    label.setText(QStringLiteral("in 15 s"));
    label.show();
    const QFontMetrics metrics = label.fontMetrics();
    int widest = 0;
    for (const QChar digit : QStringLiteral("0123456789"))
        widest = std::max(widest, metrics.horizontalAdvance(digit));
    const int prefix = metrics.horizontalAdvance(QStringLiteral("in "));
    EXPECT_EQ(label.sizeHint().width(),
        prefix + 2 * widest + metrics.horizontalAdvance(QStringLiteral(" s")));
    label.resize(label.sizeHint());
    TextRecorder recorder(label.size());
    label.render(&recorder);
    EXPECT_EQ(recorder.texts(), (QStringList{"in ", "1", "5", " s"}));
    ASSERT_EQ(recorder.lefts().size(), 4U);
    EXPECT_EQ(recorder.lefts().front(), 0);
    EXPECT_EQ(recorder.lefts().back(), prefix + 2 * widest);
}

TEST(TabOrderTest, TabFollowsTheLayoutAndTheViewKeepsItsEvents)
{
    testApplication();
    struct View final : QWidget {
        int resizes = 0;
        void resizeEvent(QResizeEvent*) override { ++resizes; }
    };
    auto* view = new View;
    // Made bottom first, as a rebuilt part would be.
    auto* bottom = new QPushButton(QStringLiteral("Bottom"), view);
    auto* middle = new QPushButton(QStringLiteral("Middle"), view);
    auto* top = new QPushButton(QStringLiteral("Top"), view);
    auto* layout = new QVBoxLayout(view);
    for (QWidget* stop : {top, middle, bottom})
        layout->addWidget(stop);
    const auto tabbedTo = [](QWidget* from) {
        do
            from = from->nextInFocusChain();
        while (!(from->focusPolicy() & Qt::TabFocus));
        return from;
    };
    followLayout(*view);
    EXPECT_EQ(tabbedTo(top), middle);
    // Into a window as the main window takes a page: in a scroll area.
    QScrollArea window;
    window.setWidget(view);
    window.show();
    EXPECT_EQ(tabbedTo(top), middle);
    EXPECT_EQ(tabbedTo(middle), bottom);
    EXPECT_GT(view->resizes, 0) << "the view still gets its own events";
}

} // namespace
} // namespace quorvane
