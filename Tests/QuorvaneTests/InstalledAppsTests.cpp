#include "AppModelTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

struct AppsWorld {
    ModelWorld world;
    std::shared_ptr<AppModel> model = world.idleModel();
    SimulatedApplicationCatalog& catalog = world.applicationCatalog;
    SimulatedWorkspace& workspace = world.mac.workspace;

    AppsWorld()
    {
        // The folders exist but hold nothing.
        for (const char* folder : {"/Applications", "/System/Applications",
                 "/System/Applications/Utilities", "/Users/user/Applications"})
            catalog.addFolder(folder);
    }

    void addRule(std::vector<ApplicationReference> apps)
    {
        model->configuration.modify([&](Configuration& c) {
            c.profiles.front().rules.push_back({.id = UUID::random(),
                .name = "Rule",
                .conditions = {.apps = std::move(apps)},
                .settings = {.brightness = 0.5}});
        });
    }
};

AppChoice installed(std::string id, std::string name, std::filesystem::path url)
{
    return {.id = std::move(id), .name = std::move(name), .url = std::move(url)};
}

TEST(InstalledAppsTest, ListBuildsFromFoldersRunningApplicationsAndRules)
{
    struct Case {
        std::string_view name;
        std::function<void(AppsWorld&)> setUp;
        std::vector<AppChoice> expected;
    };
    const Case cases[] = {
        {"nothing anywhere", [](auto&) {}, {}},
        {"every folder, one level deep, hidden and non-app entries skipped",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Editor.app", "com.example.Editor", "Editor");
                w.catalog.addApplication(
                    "/System/Applications/Notes.app", "com.example.Notes", "Notes");
                w.catalog.addApplication(
                    "/System/Applications/Utilities/Console.app", "com.example.Console", "Console");
                w.catalog.addApplication(
                    "/Users/user/Applications/Mine.app", "com.example.Mine", "Mine");
                w.catalog.addApplication(
                    "/Applications/Tools/Deep.app", "com.example.Deep", "Deep");
                w.catalog.addApplication(
                    "/Applications/.Hidden.app", "com.example.Hidden", "Hidden");
                w.catalog.addApplication("/Applications/Upper.APP", "com.example.Upper", "Upper");
                w.catalog.addApplication(
                    "/Applications/Plugin.bundle", "com.example.Plugin", "Plugin");
                w.catalog.addFolder("/Applications/Empty.app");
                w.catalog.addBundle("/Applications/Anonymous.app", {});
            },
            {installed(
                 "com.example.Console", "Console", "/System/Applications/Utilities/Console.app"),
                installed("com.example.Editor", "Editor", "/Applications/Editor.app"),
                installed("com.example.Mine", "Mine", "/Users/user/Applications/Mine.app"),
                installed("com.example.Notes", "Notes", "/System/Applications/Notes.app")}},
        {"the user's folder wins over /Applications",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Users/user/Applications/Editor.app", "com.example.Editor", "My Editor");
                w.catalog.addApplication(
                    "/Applications/Editor.app", "com.example.Editor", "Editor");
            },
            {installed("com.example.Editor", "My Editor", "/Users/user/Applications/Editor.app")}},
        {"an unreadable folder is skipped",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Editor.app", "com.example.Editor", "Editor");
                w.catalog.addApplication(
                    "/System/Applications/Notes.app", "com.example.Notes", "Notes");
                w.catalog.unreadableFolders.insert("/Applications");
            },
            {installed("com.example.Notes", "Notes", "/System/Applications/Notes.app")}},
        {"a running regular application wins over the installed one",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Editor.app", "com.example.Editor", "Editor");
                w.workspace.applications = {{.processIdentifier = 7,
                    .bundleIdentifier = "com.example.Editor",
                    .localizedName = "Editor Pro",
                    .bundlePath = "/Volumes/Work/Editor.app"}};
            },
            {installed("com.example.Editor", "Editor Pro", "/Volumes/Work/Editor.app")}},
        {"running: background ones and those without identifier are left out",
            [](auto& w) {
                w.workspace.applications = {
                    {.processIdentifier = 7,
                        .bundleIdentifier = "com.example.Agent",
                        .localizedName = "Agent",
                        .activationPolicy = ActivationPolicy::accessory},
                    {.processIdentifier = 8,
                        .bundleIdentifier = "com.example.Daemon",
                        .localizedName = "Daemon",
                        .activationPolicy = ActivationPolicy::prohibited},
                    {.processIdentifier = 9, .localizedName = "Script"},
                    {.processIdentifier = 10, .bundleIdentifier = "com.example.Bare"},
                };
            },
            {{.id = "com.example.Bare", .name = "com.example.Bare"}}},
        {"rules add what is missing and never rename",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Editor.app", "com.example.Editor", "Editor");
                w.addRule({{.id = "com.example.Editor", .name = "Old Editor"},
                    {.id = "com.example.Gone", .name = "Gone"}});
                w.addRule({{.id = "com.example.Gone", .name = "Gone later"}});
            },
            {installed("com.example.Editor", "Editor", "/Applications/Editor.app"),
                {.id = "com.example.Gone", .name = "Gone"}}},
        {"our own application is never listed",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Quorvane.app", "com.example.Own", "Quorvane");
                w.workspace.ownBundleIdentifier = "com.example.Own";
                w.workspace.applications = {{.processIdentifier = 100,
                    .bundleIdentifier = "com.example.Own",
                    .localizedName = "Quorvane"}};
                w.addRule({{.id = "com.example.Own", .name = "Quorvane"}});
            },
            {}},
        {"without a main bundle identifier the built-in one is left out",
            [](auto& w) {
                w.catalog.addApplication(
                    "/Applications/Quorvane.app", "com.quorvane.Quorvane", "Quorvane");
                w.workspace.ownBundleIdentifier = std::nullopt;
            },
            {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppsWorld w;
        c.setUp(w);
        w.model->refreshApps();
        EXPECT_EQ(w.model->apps.get(), c.expected);
    }
}

TEST(InstalledAppsTest, NamesDifferingOnlyInCaseSortTogether)
{
    AppsWorld w;
    w.catalog.addApplication("/Applications/1.app", "id.1", "editor");
    w.catalog.addApplication("/Applications/2.app", "id.2", "Filer");
    w.catalog.addApplication("/Applications/3.app", "id.3", "EDITOR");
    w.catalog.addApplication("/Applications/4.app", "id.4", "Éditor");
    w.model->refreshApps();
    std::vector<std::string> names;
    for (const AppChoice& app : w.model->apps.get())
        names.push_back(app.name);
    ASSERT_EQ(names.size(), 4U);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.begin() + 2),
        (std::set<std::string>{"editor", "EDITOR"}));
    EXPECT_EQ(names[2], "Éditor");
    EXPECT_EQ(names[3], "Filer");
}

TEST(InstalledAppsTest, SortIgnoresCaseAndWeighsAccentsBelowLetters)
{
    // In the expected order; each neighbouring pair would swap if a case or accent were
    // compared by its code alone.
    const std::vector<std::string> names{
        "apple",
        "Àpricot", // À is a, before b
        "Azure", // A is a, after apple
        "bad\xC3", // not UTF-8: kept, and compared as it is
        "beta",
        "resume",
        "résumé", // the same letters: the accent comes second
        "zebra",
        "Zulu", // Z is z, after zebra
        "×", // the multiplication sign has no case
        "þistle",
        "Þorn", // Þ is þ, after þistle
        "中文",
    };
    AppsWorld w;
    for (std::size_t index = 0; index < names.size(); ++index) {
        // Identifiers in reverse, so the scan meets the names out of order.
        w.catalog.addApplication("/Applications/" + std::to_string(index) + ".app",
            "id." + std::to_string(names.size() - index), names[index]);
    }
    w.model->refreshApps();
    std::vector<std::string> sorted;
    for (const AppChoice& app : w.model->apps.get())
        sorted.push_back(app.name);
    EXPECT_EQ(sorted, names);
}

TEST(InstalledAppsTest, ChoiceNameComesFromTheInfoDictionary)
{
    struct Case {
        std::string_view name;
        PlatformDictionary info;
        std::string expected;
    };
    const Case cases[] = {
        {"display name first",
            {{"CFBundleDisplayName", PlatformValue::text("Shown")},
                {"CFBundleName", PlatformValue::text("Bundle")}},
            "Shown"},
        {"an empty display name is used as it is",
            {{"CFBundleDisplayName", PlatformValue::text("")},
                {"CFBundleName", PlatformValue::text("Bundle")}},
            ""},
        {"a display name that is not text is passed over",
            {{"CFBundleDisplayName", PlatformValue::integer(3)},
                {"CFBundleName", PlatformValue::text("Bundle")}},
            "Bundle"},
        {"the file name without its extension last",
            {{"CFBundleName", PlatformValue::boolean(true)}}, "My Tool.v2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppsWorld w;
        w.catalog.addBundle(
            "/Apps/My Tool.v2.app", {.bundleIdentifier = "com.example.Tool", .info = c.info});
        EXPECT_EQ(w.model->appChoice("/Apps/My Tool.v2.app"),
            installed("com.example.Tool", c.expected, "/Apps/My Tool.v2.app"));
    }
    AppsWorld w;
    w.catalog.addBundle("/Apps/Anonymous.app", {});
    w.catalog.addFolder("/Apps/Folder.app");
    EXPECT_EQ(w.model->appChoice("/Apps/Anonymous.app"), std::nullopt);
    EXPECT_EQ(w.model->appChoice("/Apps/Folder.app"), std::nullopt);
    EXPECT_EQ(w.model->appChoice("/Apps/Missing.app"), std::nullopt);
}

TEST(InstalledAppsTest, ChosenApplicationsJoinTheListOnce)
{
    AppsWorld w;
    w.catalog.addApplication("/Applications/Editor.app", "com.example.Editor", "Editor");
    w.catalog.addApplication("/Volumes/Work/Editor.app", "com.example.Editor", "Other Editor");
    w.catalog.addApplication("/Volumes/Work/Zed.app", "com.example.Zed", "Zed");
    w.catalog.addApplication("/Volumes/Work/Alpha.app", "com.example.Alpha", "alpha");
    w.model->refreshApps();

    w.world.openPanel.answer
        = {.response = ModalResponse::cancel, .selection = {"/Volumes/Work/Zed.app"}};
    EXPECT_TRUE(w.model->chooseApplications().empty());
    EXPECT_EQ(w.model->apps->size(), 1U);

    w.world.openPanel.answer = {.response = ModalResponse::ok,
        .selection = {"/Volumes/Work/Zed.app", "/Volumes/Work/Editor.app", "/Volumes/None.app",
            "/Volumes/Work/Alpha.app"}};
    EXPECT_EQ(w.model->chooseApplications(),
        (std::vector<AppChoice>{installed("com.example.Zed", "Zed", "/Volumes/Work/Zed.app"),
            installed("com.example.Editor", "Other Editor", "/Volumes/Work/Editor.app"),
            installed("com.example.Alpha", "alpha", "/Volumes/Work/Alpha.app")}));
    EXPECT_EQ(w.model->apps.get(),
        (std::vector<AppChoice>{installed("com.example.Alpha", "alpha", "/Volumes/Work/Alpha.app"),
            installed("com.example.Editor", "Editor", "/Applications/Editor.app"),
            installed("com.example.Zed", "Zed", "/Volumes/Work/Zed.app")}));
    const OpenPanelRequest expected{.title = "Choose applications",
        .directory = "/Applications",
        .canChooseDirectories = false,
        .allowedContentTypes = {ContentType::applicationBundle},
        .allowsMultipleSelection = true};
    EXPECT_EQ(w.world.openPanel.requests, (std::vector<OpenPanelRequest>{expected, expected}));
}

} // namespace
} // namespace quorvane
