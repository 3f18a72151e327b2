#include "Quorvane/Views/MainWindow/SettingsView.h"

#include "Quorvane/Views/Design/SwitchButton.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <string>

namespace quorvane {
namespace {

class SettingsViewTest : public ::testing::Test {
protected:
    SettingsViewTest() { view.show(); }

    template <typename Widget> Widget& part(const char* name) const
    {
        return *view.findChild<Widget*>(QString::fromLatin1(name));
    }

    DemoWorld demo;
    AppModel& model = *demo.model;
    SettingsView view{model};
};

TEST_F(SettingsViewTest, LaunchAtLoginShowsTheSystemsAnswer)
{
    struct Case {
        const char* name;
        LoginItemStatus afterRegister;
        std::optional<std::string> failure;
        bool checked;
        QString state;
    };
    const Case cases[] = {
        {"enabled", LoginItemStatus::enabled, std::nullopt, true,
            QStringLiteral("QuorVane opens when you log in.")},
        {"needs approval", LoginItemStatus::requiresApproval, std::nullopt, true,
            QStringLiteral(
                "Waiting for your approval in System Settings → General → Login Items.")},
        {"refused", LoginItemStatus::enabled, "The login item could not be added.", false,
            QStringLiteral("QuorVane does not open when you log in.")},
    };
    auto& login = part<SwitchButton>("launchAtLogin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        demo.world.loginItems.currentStatus = LoginItemStatus::notRegistered;
        demo.world.loginItems.statusAfterRegister = c.afterRegister;
        demo.world.loginItems.failure = c.failure;
        model.setLogin(false);
        demo.turn();
        ASSERT_FALSE(login.isChecked());
        QTest::mouseClick(&login, Qt::LeftButton);
        demo.turn();
        EXPECT_EQ(login.isChecked(), c.checked);
        EXPECT_EQ(part<QLabel>("loginState").text(), c.state);
        const QLabel& error = part<QLabel>("loginError");
        EXPECT_EQ(error.isVisibleTo(&view), c.failure.has_value());
        EXPECT_EQ(error.text().toStdString(), c.failure.value_or(""));
    }
}

TEST_F(SettingsViewTest, ControlsFollowTheDocumentAndAreLockedBySettingsErrors)
{
    auto& hold = part<QComboBox>("holdLength");
    auto& step = part<QComboBox>("brightnessKeyStep");
    auto& keys = part<SwitchButton>("brightnessKeys");
    EXPECT_EQ(hold.currentText(), QStringLiteral("30 minutes"));
    EXPECT_FALSE(step.isEnabled()) << "the step waits for the keys";
    QTest::mouseClick(&keys, Qt::LeftButton);
    EXPECT_TRUE(model.configuration->brightnessKeysEnabled);
    demo.turn();
    EXPECT_TRUE(step.isEnabled());
    emit step.activated(4);
    EXPECT_EQ(model.configuration->brightnessKeyStep, BrightnessKeyStep::ten);
    demo.turn();
    EXPECT_EQ(step.currentText(), QStringLiteral("10 %"));

    model.configuration.modify([](Configuration& c) { c.holdMinutes = 15; });
    demo.turn();
    EXPECT_EQ(hold.currentText(), QStringLiteral("15 minutes"));

    model.settingsError.set("The settings file is damaged.");
    demo.turn();
    for (QWidget* control :
        {static_cast<QWidget*>(&hold), static_cast<QWidget*>(&step), static_cast<QWidget*>(&keys),
            view.findChild<QWidget*>("smoothTransitions"), view.findChild<QWidget*>("debounce")}) {
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_FALSE(control->isEnabled());
    }
    emit hold.activated(0); // a stale menu still cannot change anything
    EXPECT_EQ(model.configuration->holdMinutes, 15);
    EXPECT_EQ(hold.currentText(), QStringLiteral("15 minutes"));
}

TEST_F(SettingsViewTest, KeyStatusExplainsWhatTheKeysDoNow)
{
    const QLabel& status = part<QLabel>("brightnessKeyStatus");
    EXPECT_FALSE(status.isVisibleTo(&view));
    model.brightnessKeyStatus.set(BrightnessKeyStatus::needsPermission);
    demo.turn();
    EXPECT_TRUE(status.text().startsWith(QStringLiteral("Waiting for access")));
    EXPECT_TRUE(status.isVisibleTo(&view));
    model.brightnessKeyStatus.set(BrightnessKeyStatus::active);
    demo.turn();
    EXPECT_EQ(status.text(), QStringLiteral("The brightness keys adjust the built-in display."));
    model.brightnessKeyStatus.set(BrightnessKeyStatus::off);
    demo.turn();
    EXPECT_FALSE(status.isVisibleTo(&view));
}

} // namespace
} // namespace quorvane
