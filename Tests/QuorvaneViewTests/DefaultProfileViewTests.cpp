#include "Quorvane/Views/MainWindow/DefaultProfileView.h"

#include "Quorvane/Views/Design/Notice.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

class DefaultProfileViewTest : public MainWindowFixture {
protected:
    DefaultProfileViewTest()
    {
        model.selectProfile(model.configuration->defaultProfileID);
        turn();
    }

    DefaultProfileView& page() const
    {
        auto* shown = dynamic_cast<DefaultProfileView*>(content.currentPage());
        EXPECT_NE(shown, nullptr);
        return *shown;
    }
    QWidget& card(const char* displayID) const
    {
        auto* found = page().findChild<QWidget*>(QString::fromLatin1(displayID));
        EXPECT_NE(found, nullptr) << displayID;
        return *found;
    }
    template <typename Widget>
    Widget& partOf(const char* displayID, SettingKey key, const char* name) const
    {
        return *card(displayID)
                    .findChild<SettingValueEditor*>(QString::fromUtf8(rawValue(key).data()))
                    ->findChild<Widget*>(QString::fromLatin1(name));
    }
    QPushButton& save() const { return *page().findChild<QPushButton*>(QStringLiteral("save")); }
    std::optional<SettingValue> stored(const std::string& displayID, SettingKey setting) const
    {
        return model.configuration->defaultSettings().value(keyOf(displayID, setting));
    }
};

TEST_F(DefaultProfileViewTest, ShowsEachScreensDefaultsWithWhatItsControlsTake)
{
    model.configuration.modify([](Configuration& document) {
        DefaultSettings defaults = document.defaultSettings();
        defaults.setExplicit(SettingValue::refresh(RefreshPreference::fixed(75'000)),
            keyOf("gone", SettingKey::refreshRate));
        document.setDefaultSettings(defaults);
    });
    turn();
    const std::string modeRatesReason
        = "Refresh rates at the profile's resolution · preview required";
    struct Case {
        const char* displayID;
        QString screen;
        QString status;
        QString brightness;
        QStringList hdr;
        QString hdrReason;
        QStringList refreshRates;
        std::string refreshReason;
    };
    const Case cases[] = {
        {"demo-builtin", "MacBook display", "Connected", "55%", {"Off"}, "HDR managed by macOS",
            {"60 Hz", "140 Hz", "Adaptive / ProMotion"}, modeRatesReason},
        {"demo-external", "External screen 1", "Connected", "55%", {"On", "Off"},
            "Simulated device", {"60 Hz", "140 Hz", "Adaptive / ProMotion"}, modeRatesReason},
        // Which rates a screen offers is known only while it is connected.
        {"gone", "Saved screen · gone", "Not connected", "Not set", {}, "Control unavailable",
            {"75 Hz"}, "Control unavailable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.displayID);
        EXPECT_EQ(card(c.displayID).findChild<QLabel*>(QStringLiteral("status"))->text(), c.status);
        // Every card has a Brightness: the names say whose.
        EXPECT_EQ(spokenName(partOf<QSlider>(c.displayID, SettingKey::brightness, "slider")),
            c.screen + " brightness");
        EXPECT_EQ(spokenName(partOf<QWidget>(c.displayID, SettingKey::brightness, "set")),
            "Set " + c.screen + " brightness");
        EXPECT_EQ(
            partOf<QLabel>(c.displayID, SettingKey::brightness, "value").text(), c.brightness);
        EXPECT_EQ(itemTexts(partOf<QComboBox>(c.displayID, SettingKey::hdr, "choice")),
            QStringList{"Not set"} + c.hdr);
        EXPECT_EQ(partOf<QLabel>(c.displayID, SettingKey::hdr, "reason").text(), c.hdrReason);
        EXPECT_EQ(partOf<QComboBox>(c.displayID, SettingKey::hdr, "choice").isEnabled(),
            !c.hdr.isEmpty());
        EXPECT_FALSE(partOf<QWidget>(c.displayID, SettingKey::brightness, "note").isVisible());
        EXPECT_EQ(itemTexts(partOf<QComboBox>(c.displayID, SettingKey::refreshRate, "choice")),
            QStringList{"Not set"} + c.refreshRates);
        EXPECT_EQ(
            partOf<QLabel>(c.displayID, SettingKey::refreshRate, "reason").text().toStdString(),
            c.refreshReason);
    }
    EXPECT_EQ(card("gone").findChild<QLabel*>(QStringLiteral("screenName"))->text(),
        QStringLiteral("Saved screen · gone"));
    EXPECT_EQ(partOf<QComboBox>("demo-external", SettingKey::hdr, "choice").currentText(),
        QStringLiteral("Off"));
    EXPECT_FALSE(save().isEnabled());
    QCoreApplication::processEvents(); // lays out the new card
    for (const Case& c : cases) {
        // Without a meta-object of its own an editor is found as any widget, so sift.
        std::vector<const SettingValueEditor*> editors;
        for (const QWidget* child : card(c.displayID).findChildren<QWidget*>()) {
            if (const auto* editor = dynamic_cast<const SettingValueEditor*>(child))
                editors.push_back(editor);
        }
        EXPECT_EQ(editors.size(), allSettingKeys.size());
        // The sliders in the left column, the display modes in the right one.
        const auto isMode = [](const SettingValueEditor* editor) {
            return editor->key() == SettingKey::hdr || editor->key() == SettingKey::refreshRate;
        };
        for (const SettingValueEditor* one : editors) {
            for (const SettingValueEditor* other : editors) {
                EXPECT_TRUE(one == other || !one->geometry().intersects(other->geometry()))
                    << c.displayID << ": " << rawValue(one->key()) << " and "
                    << rawValue(other->key());
                if (!isMode(one) && isMode(other)) {
                    EXPECT_LT(one->geometry().right(), other->geometry().left())
                        << c.displayID << ": " << rawValue(one->key()) << " and "
                        << rawValue(other->key());
                }
            }
        }
    }
    saveScreenshot(window, "default-profile");
}

TEST_F(DefaultProfileViewTest, EditsOutliveModelChangesAndASaveStartsAFreshDraft)
{
    QTest::keyClick(
        &partOf<QSlider>("demo-external", SettingKey::brightness, "slider"), Qt::Key_PageUp);
    EXPECT_TRUE(save().isEnabled());
    model.configuration.modify([](Configuration& document) {
        DefaultSettings defaults = document.defaultSettings();
        defaults.setExplicit(
            SettingValue::percent(0.3), keyOf("demo-external", SettingKey::brightness));
        defaults.setExplicit(
            SettingValue::percent(0.4), keyOf("demo-builtin", SettingKey::brightness));
        document.setDefaultSettings(defaults);
    });
    turn();
    EXPECT_EQ(partOf<QLabel>("demo-external", SettingKey::brightness, "value").text(),
        QStringLiteral("65%"));
    EXPECT_EQ(partOf<QLabel>("demo-builtin", SettingKey::brightness, "value").text(),
        QStringLiteral("40%"));

    model.settingsError.set("The settings file is damaged.");
    turn();
    EXPECT_FALSE(save().isEnabled());
    model.settingsError.set(std::nullopt);
    turn();
    QTest::mouseClick(&save(), Qt::LeftButton);
    turn();
    EXPECT_EQ(stored("demo-external", SettingKey::brightness), SettingValue::percent(0.65));
    EXPECT_EQ(stored("demo-builtin", SettingKey::brightness), SettingValue::percent(0.4));
    EXPECT_TRUE(page().draft().editedKeys.empty());
    EXPECT_EQ(page().draft().settings, model.configuration->defaultSettings());
    EXPECT_FALSE(save().isEnabled());

    // Clearing a value is an edit too: the screen is then left as it is.
    QTest::mouseClick(
        &partOf<QWidget>("demo-builtin", SettingKey::brightness, "set"), Qt::LeftButton);
    QTest::mouseClick(&save(), Qt::LeftButton);
    turn();
    EXPECT_EQ(stored("demo-builtin", SettingKey::brightness), std::nullopt);
    EXPECT_EQ(partOf<QLabel>("demo-builtin", SettingKey::brightness, "value").text(),
        QStringLiteral("Not set"));
}

TEST_F(DefaultProfileViewTest, SaveIsOfferedOnlyWhileThePageDiffersFromWhatIsStored)
{
    // The demo stores 55% brightness, 50% contrast, a neutral temperature, HDR off and 60 Hz.
    using enum SettingKey;
    const auto click = [&](SettingKey key, const char* part) {
        auto& clicked = partOf<QWidget>("demo-external", key, part);
        // At the left: with the slider hidden, the Neutral box stretches across the row.
        QTest::mouseClick(&clicked, Qt::LeftButton, {}, {8, clicked.height() / 2});
    };
    const auto press = [&](SettingKey key, Qt::Key pressed) {
        QTest::keyClick(&partOf<QSlider>("demo-external", key, "slider"), pressed);
    };
    const auto choose = [&](SettingKey key, const char* entry) {
        pick(partOf<QComboBox>("demo-external", key, "choice"), QString::fromUtf8(entry));
    };
    const auto shown = [&](SettingKey key) {
        if (key == hdr || key == refreshRate)
            return partOf<QComboBox>("demo-external", key, "choice").currentText().toStdString();
        return partOf<QLabel>("demo-external", key, "value").text().toStdString();
    };
    struct Case {
        std::string_view steps;
        SettingKey key;
        std::function<void()> edit;
        bool isChanged;
        /// Stored under the page afterwards: an edit shows its own value, one put back this.
        SettingValue storedLater;
    };
    const Case cases[] = {
        {"brightness switched off and on", brightness,
            [&] {
                click(brightness, "set");
                click(brightness, "set");
            },
            false, SettingValue::percent(0.3)},
        {"brightness slid up and back", brightness,
            [&] {
                press(brightness, Qt::Key_PageUp);
                press(brightness, Qt::Key_PageDown);
            },
            false, SettingValue::percent(0.3)},
        {"contrast stepped down and back", contrast,
            [&] {
                press(contrast, Qt::Key_Left);
                press(contrast, Qt::Key_Right);
            },
            false, SettingValue::percent(0.3)},
        {"Neutral unticked and ticked", temperature,
            [&] {
                click(temperature, "neutral");
                click(temperature, "neutral");
            },
            false, SettingValue::temperature(Temperature::kelvin(5000))},
        {"HDR on and back off", hdr,
            [&] {
                choose(hdr, "On");
                choose(hdr, "Off");
            },
            false, SettingValue::toggle(true)},
        {"another rate and back", refreshRate,
            [&] {
                choose(refreshRate, "140 Hz");
                choose(refreshRate, "60 Hz");
            },
            false, SettingValue::refresh(RefreshPreference::fixed(140'000))},
        {"brightness slid up", brightness, [&] { press(brightness, Qt::Key_PageUp); }, true,
            SettingValue::percent(0.3)},
        {"brightness switched off", brightness, [&] { click(brightness, "set"); }, true,
            SettingValue::percent(0.3)},
        {"Neutral unticked", temperature, [&] { click(temperature, "neutral"); }, true,
            SettingValue::temperature(Temperature::kelvin(5000))},
        {"HDR cleared", hdr, [&] { choose(hdr, "Not set"); }, true, SettingValue::toggle(true)},
        {"another rate", refreshRate, [&] { choose(refreshRate, "Adaptive / ProMotion"); }, true,
            SettingValue::refresh(RefreshPreference::fixed(140'000))},
    };
    const DefaultSettings original = model.configuration->defaultSettings();
    const auto store = [&](const DefaultSettings& defaults) {
        model.configuration.modify(
            [&](Configuration& document) { document.setDefaultSettings(defaults); });
        turn();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.steps));
        // A fresh page for each case: a visit elsewhere drops the last one's edits.
        store(original);
        show(AppPage::displays, model.configuration->defaultProfileID);
        show(AppPage::profiles, model.configuration->defaultProfileID);
        ASSERT_FALSE(save().isEnabled());
        c.edit();
        EXPECT_EQ(save().isEnabled(), c.isChanged);
        const std::string edited = shown(c.key);
        DefaultSettings later = original;
        later.setExplicit(c.storedLater, keyOf("demo-external", c.key));
        store(later);
        EXPECT_EQ(shown(c.key), c.isChanged ? edited : c.storedLater.label());
        EXPECT_EQ(save().isEnabled(), c.isChanged);
    }
}

TEST_F(DefaultProfileViewTest, SaveFollowsTheStoredValueThatChangesUnderAnEdit)
{
    QTest::keyClick(
        &partOf<QSlider>("demo-external", SettingKey::brightness, "slider"), Qt::Key_PageUp);
    struct Step {
        double stored;
        bool isChanged;
    };
    // 65% is the edit's value.
    for (const Step step : {Step{0.65, false}, Step{0.7, true}, Step{0.65, false}}) {
        SCOPED_TRACE(step.stored);
        model.configuration.modify([&](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.setExplicit(
                SettingValue::percent(step.stored), keyOf("demo-external", SettingKey::brightness));
            document.setDefaultSettings(defaults);
        });
        turn();
        EXPECT_EQ(save().isEnabled(), step.isChanged);
        EXPECT_EQ(partOf<QLabel>("demo-external", SettingKey::brightness, "value").text(),
            QStringLiteral("65%"));
    }
}

TEST_F(DefaultProfileViewTest, AControlThatCannotWorkTakesNoNewValueButLetsItsValueGo)
{
    const ControlKey contrast = keyOf("demo-builtin", SettingKey::contrast);
    model.hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
        snapshot.capabilities[contrast] = {.available = false, .reason = "Contrast unavailable"};
    });
    turn();
    auto& set = partOf<QWidget>("demo-builtin", SettingKey::contrast, "set");
    auto& slider = partOf<QSlider>("demo-builtin", SettingKey::contrast, "slider");
    EXPECT_EQ(partOf<QLabel>("demo-builtin", SettingKey::contrast, "reason").text(),
        QStringLiteral("Contrast unavailable"));
    EXPECT_TRUE(set.isEnabled());
    EXPECT_FALSE(slider.isEnabled());
    QTest::mouseClick(&set, Qt::LeftButton);
    EXPECT_EQ(page().draft().settings.value(contrast), std::nullopt);
    EXPECT_FALSE(set.isEnabled());
    EXPECT_FALSE(slider.isVisible());
    EXPECT_FALSE(partOf<QWidget>("demo-builtin", SettingKey::brightness, "reason").isVisible());
}

// FIXME: enable once the save path runs the display tests of changed modes; until then it saves
// at once.
TEST_F(DefaultProfileViewTest, AChangedHDRDefaultIsSavedOnlyThroughItsTest)
{
    auto& hdr = partOf<QComboBox>("demo-external", SettingKey::hdr, "choice");
    const auto button = [&](const char* name) {
        DisplayTestPanel* panel = DisplayTestPanelPresenter::of(model)->panel();
        EXPECT_NE(panel, nullptr);
        return panel->findChild<QPushButton*>(QString::fromLatin1(name));
    };
    struct Case {
        std::string_view answer;
        const char* button;
        bool isSaved;
    };
    const Case cases[] = {{"revert", "revert", false}, {"keep", "keep", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.answer));
        pick(hdr, QStringLiteral("On"));
        QTest::mouseClick(&save(), Qt::LeftButton);
        turn();
        ASSERT_TRUE(model.preview.get());
        EXPECT_FALSE(save().isEnabled());
        EXPECT_EQ(stored("demo-external", SettingKey::hdr), SettingValue::toggle(false));
        demo.world.executor.advance(2s);
        QTest::mouseClick(button(c.button), Qt::LeftButton);
        demo.settle();
        turn();
        EXPECT_FALSE(model.preview.get());
        EXPECT_EQ(stored("demo-external", SettingKey::hdr), SettingValue::toggle(c.isSaved));
        EXPECT_EQ(page().draft().editedKeys.empty(), c.isSaved);
        EXPECT_EQ(hdr.currentText(), QStringLiteral("On"));
    }
}

TEST_F(DefaultProfileViewTest, UntickingNeutralStartsWhereANewTemperatureStarts)
{
    // One screen per case: each editor's slider has been nowhere else yet.
    struct Case {
        const char* displayID;
        std::string_view steps;
        std::vector<const char*> clicked;
    };
    const Case cases[] = {
        {"demo-external", "unticked", {"neutral"}},
        {"demo-builtin", "switched off and on, then unticked", {"set", "set", "neutral"}},
    };
    model.configuration.modify([&](Configuration& document) {
        DefaultSettings defaults = document.defaultSettings();
        for (const Case& c : cases)
            defaults.setExplicit(SettingValue::temperature(Temperature::neutral()),
                keyOf(c.displayID, SettingKey::temperature));
        document.setDefaultSettings(defaults);
    });
    turn();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest); // places the Neutral boxes
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.steps));
        auto& value = partOf<QLabel>(c.displayID, SettingKey::temperature, "value");
        ASSERT_EQ(value.text(), QStringLiteral("Neutral"));
        for (const char* control : c.clicked) {
            // At the left: with the slider hidden, the Neutral box stretches across the row.
            auto& clicked = partOf<QWidget>(c.displayID, SettingKey::temperature, control);
            QTest::mouseClick(&clicked, Qt::LeftButton, {}, {8, clicked.height() / 2});
        }
        EXPECT_EQ(value.text(), QStringLiteral("6500 K"));
        EXPECT_EQ(partOf<QSlider>(c.displayID, SettingKey::temperature, "slider").value(), 6500);
    }
    QTest::mouseClick(&save(), Qt::LeftButton);
    turn();
    for (const Case& c : cases)
        EXPECT_EQ(stored(c.displayID, SettingKey::temperature),
            SettingValue::temperature(Temperature::kelvin(6500)));
}

TEST_F(DefaultProfileViewTest, BrightnessShowsWhenMacOSAutomaticBrightnessManagesIt)
{
    const auto noteShown = [&](const char* displayID) {
        return !partOf<Notice>(displayID, SettingKey::brightness, "note").isHidden();
    };
    EXPECT_FALSE(noteShown("demo-builtin"));
    model.saveDisplayPreferences(
        {.automaticBrightness = true}, model.configuration->defaultProfileID);
    demo.world.executor.advance(1s);
    turn();
    ASSERT_TRUE(model.automaticBrightnessManagesSettings(
        model.configuration->defaultProfileID, std::string("demo-builtin")));
    EXPECT_TRUE(noteShown("demo-builtin"));
    EXPECT_FALSE(partOf<Notice>("demo-builtin", SettingKey::contrast, "note").isVisible());
}

} // namespace
} // namespace quorvane
