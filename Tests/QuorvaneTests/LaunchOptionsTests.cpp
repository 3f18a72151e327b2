#include "Quorvane/LaunchOptions.h"

#include "SimulatedMac/SimulatedApplication.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quorvane {
namespace {

const std::string program = "/Applications/Quorvane.app/Contents/MacOS/Quorvane";

using Variables = std::map<std::string, std::string>;

/// Looks the names up in `variables`, which must outlive the lookup.
EnvironmentLookup lookupIn(const Variables& variables)
{
    return [&variables](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(std::string(name));
        if (found == variables.end())
            return std::nullopt;
        return found->second;
    };
}

TEST(LaunchOptionsTest, TheCommandLineNamesItsFileOrIsRefused)
{
    using Arguments = std::vector<std::string>;
    struct Case {
        const char* what;
        Arguments arguments;
        Arguments checked;
    };
    const Case accepted[] = {
        {"nothing", {program}, {program}},
        {"demo", {program, "--ui-demo"}, {program, "--ui-demo"}},
        {"file after the option", {program, "--settings-path", "/f.json"},
            {program, "--settings-path", "/f.json"}},
        {"file after an equals sign", {program, "--settings-path=/f.json"},
            {program, "--settings-path", "/f.json"}},
        {"a name with an equals sign", {program, "--settings-path=a=b.json"},
            {program, "--settings-path", "a=b.json"}},
        {"a name starting with a dash", {program, "--settings-path=-f.json"},
            {program, "--settings-path", "-f.json"}},
        {"both, in any order", {program, "--settings-path", "f.json", "--ui-demo"},
            {program, "--ui-demo", "--settings-path", "f.json"}},
    };
    for (const Case& c : accepted) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(checkedArguments(c.arguments), c.checked);
    }

    struct Refused {
        const char* what;
        Arguments arguments;
        std::string message;
    };
    const std::string missing = "The option --settings-path needs a file: --settings-path FILE.";
    const std::string empty = "The option --settings-path names no file.";
    const Refused refused[] = {
        {"option last", {program, "--settings-path"}, missing},
        {"option before another option", {program, "--settings-path", "--ui-demo"}, missing},
        {"empty file", {program, "--settings-path", ""}, empty},
        {"empty file after an equals sign", {program, "--settings-path="}, empty},
        {"misspelt option", {program, "--setings-path", "f.json"},
            "QuorVane has no option \"--setings-path\"."},
        {"switch with a value", {program, "--ui-demo=1"},
            "QuorVane has no option \"--ui-demo=1\"."},
        {"option in other case", {program, "--Settings-Path", "f.json"},
            "QuorVane has no option \"--Settings-Path\"."},
        {"a file without its option", {program, "f.json"},
            "QuorVane takes no argument \"f.json\"."},
        {"two files", {program, "--settings-path", "a.json", "--settings-path=b.json"},
            "The option --settings-path is given twice."},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.what);
        try {
            (void)checkedArguments(c.arguments);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

TEST(LaunchOptionsTest, QtsOptionsAreTakenOutAsQtTakesThem)
{
    using Arguments = std::vector<std::string>;
    struct Case {
        const char* what;
        Arguments arguments;
        std::string_view platform;
        Arguments left;
    };
    const std::string p = program;
    // Each row leaves what QApplication leaves in Qt 6.4 (tried here).
    const Case cases[] = {
        {"nothing", {}, "xcb", {}},
        {"switches", {p, "-reverse", "--testability", "-widgetcount", "-nograb", "--ui-demo"},
            "xcb", {p, "--ui-demo"}},
        {"options with values",
            {p, "-style", "Fusion", "--stylesheet", "a.qss", "-session", "s", "-plugin", "x",
                "-platformtheme", "t", "-qmljsdebugger", "port:1", "f.json"},
            "offscreen", {p, "f.json"}},
        {"values after an equals sign",
            {p, "-style=Fusion", "--stylesheet=a.qss", "-qmljsdebugger=", "-platform=xcb"}, "xcb",
            {p, "-platform=xcb"}},
        {"options that go without their value", {p, "--ui-demo", "-plugin", "-platform"}, "xcb",
            {p, "--ui-demo"}},
        {"an option that stays without its value", {p, "--ui-demo", "-style"}, "xcb",
            {p, "--ui-demo", "-style"}},
        {"X11's options",
            {p, "-geometry", "1x1", "-title", "t", "-display", ":1", "-visual", "1", "-name"},
            "xcb", {p, "-name"}},
        {"X11's options elsewhere", {p, "-geometry", "1x1", "-display", ":1"}, "offscreen",
            {p, "-geometry", "1x1", "-display", ":1"}},
        {"X11's options until another platform is chosen",
            {p, "-geometry", "1x1", "-platform", "offscreen", "-title", "t", "-display", ":1"},
            "xcb", {p, "-title", "t", "-display", ":1"}},
        {"X11 chosen on the command line", {p, "-platform", "xcb", "-icon", "i", "-name", "n"},
            "offscreen", {p}},
        {"X11 tried after another platform", {p, "-display", ":1", "-title", "t"}, "wayland;XCB",
            {p, "-title", "t"}},
        {"a value that looks like an option", {p, "-style", "--help", "-title", "--ui-demo"}, "xcb",
            {p}},
        {"the platform's options before the others", {p, "-plugin", "-platform", "offscreen"},
            "xcb", {p}},
        {"the plugin's options before the others", {p, "-style", "-display", ":1", "Fusion"}, "xcb",
            {p}},
        {"not Qt's", {p, "platform", "-", "--", "---platform", "x"}, "xcb",
            {p, "platform", "-", "--", "---platform", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(withoutQtOptions(c.arguments, c.platform), c.left);
    }
}

TEST(LaunchOptionsTest, HelpIsAskedForByEitherWholeOptionAnywhere)
{
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{program, "--help"}, true},
        {{program, "--ui-demo", "--bogus", "-h"}, true},
        {{program, "--settings-path", "--help"}, true},
        {{program, "--settings-path=--help"}, false},
        {{program, "--help=1", "-help", "-H"}, false},
        {{"--help"}, false},
    };
    for (const auto& [arguments, asks] : cases)
        EXPECT_EQ(asksForHelp(arguments), asks) << ::testing::PrintToString(arguments);
}

TEST(LaunchOptionsTest, DemoNeedsTheWholeSwitchOrThePreviewBuild)
{
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::optional<std::string> bundle;
        bool isDemo;
    };
    const Case cases[] = {
        {"plain launch", {program}, "com.quorvane.Quorvane", false},
        {"switch last", {program, "--x", "--ui-demo"}, "com.quorvane.Quorvane", true},
        {"switch first", {program, "--ui-demo", "--x"}, std::nullopt, true},
        {"switch with a value", {program, "--ui-demo=1"}, std::nullopt, false},
        {"switch in other case", {program, "--UI-DEMO"}, std::nullopt, false},
        {"preview build", {program}, "com.quorvane.Quorvane.preview", true},
        {"no bundle identifier", {program}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(launchesDemo(c.arguments, c.bundle), c.isDemo);
    }
}

TEST(LaunchOptionsTest, SettingsFileFollowsTheFirstRuleThatApplies)
{
    SimulatedLaunchEnvironment environment;
    environment.temporaryFolder = "/tmp/t";
    environment.applicationSupportFolder = "/home/u/.config";
    struct Case {
        const char* what;
        std::optional<std::filesystem::path> given;
        std::vector<std::string> arguments;
        bool isDemo;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {"default", std::nullopt, {program}, false, "/home/u/.config/Quorvane/settings.json"},
        {"given wins", "/given.json", {program, "--settings-path", "/p.json"}, true, "/given.json"},
        {"path option", std::nullopt, {program, "--settings-path", "/p.json"}, false, "/p.json"},
        {"path option in the demo", std::nullopt,
            {program, "--ui-demo", "--settings-path", "rel/p.json"}, true, "rel/p.json"},
        {"first occurrence", std::nullopt,
            {program, "--settings-path", "/a.json", "--settings-path", "/b.json"}, false,
            "/a.json"},
        {"option last is ignored", std::nullopt, {program, "--settings-path"}, false,
            "/home/u/.config/Quorvane/settings.json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(settingsLocation(c.given, c.arguments, c.isDemo, environment), c.expected);
    }
}

TEST(LaunchOptionsTest, EveryDemoRunGetsANewTemporaryFolder)
{
    SimulatedLaunchEnvironment environment;
    environment.temporaryFolder = "/tmp/t";
    const auto first = settingsLocation(std::nullopt, {program}, true, environment);
    const auto second = settingsLocation(std::nullopt, {program}, true, environment);

    EXPECT_NE(first, second);
    for (const auto& location : {first, second}) {
        SCOPED_TRACE(location.string());
        EXPECT_EQ(location.filename(), "settings.json");
        EXPECT_EQ(location.parent_path().parent_path(), "/tmp/t");
        const std::string folder = location.parent_path().filename().string();
        ASSERT_EQ(folder.size(), std::string("Quorvane-demo-").size() + 36);
        EXPECT_TRUE(folder.starts_with("Quorvane-demo-"));
    }
}

TEST(LaunchOptionsTest, ConfigurationFolderFollowsTheBaseDirectoryRules)
{
    struct Case {
        const char* what;
        Variables variables;
        std::optional<std::filesystem::path> expected;
    };
    const Case cases[] = {
        {"configuration home", {{"XDG_CONFIG_HOME", "/c"}, {"HOME", "/h"}}, "/c"},
        {"empty configuration home", {{"XDG_CONFIG_HOME", ""}, {"HOME", "/h"}}, "/h/.config"},
        {"relative configuration home", {{"XDG_CONFIG_HOME", "c"}, {"HOME", "/h"}}, "/h/.config"},
        {"home only", {{"HOME", "/h"}}, "/h/.config"},
        {"relative home", {{"HOME", "h"}}, std::nullopt},
        {"nothing set", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(userConfigurationFolder(lookupIn(c.variables)), c.expected);
    }
}

TEST(LaunchOptionsTest, OnlyALaunchWithNowhereToKeepItsSettingsIsStopped)
{
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        Variables variables;
        bool isStopped;
    };
    const Case cases[] = {
        {"home set", {program}, {{"HOME", "/h"}}, false},
        {"configuration home set", {program}, {{"XDG_CONFIG_HOME", "/c"}}, false},
        {"nothing set", {program}, {}, true},
        {"relative home only", {program}, {{"HOME", "h"}}, true},
        {"settings path named", {program, "--settings-path", "/s.json"}, {}, false},
        {"settings path without its value", {program, "--settings-path"}, {}, true},
        {"demo", {program, "--ui-demo"}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<std::string> message
            = missingSettingsFolderMessage(c.arguments, lookupIn(c.variables));
        EXPECT_EQ(message.has_value(), c.isStopped);
        if (message) {
            EXPECT_NE(message->find("--settings-path"), std::string::npos);
            EXPECT_TRUE(message->starts_with("QuorVane cannot tell"));
        }
    }
}

TEST(LaunchOptionsTest, QtsOptionsChooseADisplayOnlyWithTheirValue)
{
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{program, "-platform", "offscreen"}, true},
        {{program, "--display", ":1", "--ui-demo"}, true},
        {{program, "--ui-demo", "-display"}, false},
        {{"-platform", "--ui-demo"}, false},
        {{program, "-platformtheme", "gtk3"}, false},
    };
    for (const auto& [arguments, choosesDisplay] : cases)
        EXPECT_EQ(choosesDisplayWithQtOptions(arguments), choosesDisplay)
            << ::testing::PrintToString(arguments);
}

} // namespace
} // namespace quorvane
