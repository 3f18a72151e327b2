#include "AppModelTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

/// Applications' identifiers are "com.example." and their file name.
AppChoice installed(const std::string& name, const std::filesystem::path& url)
{
    return {.id = "com.example." + url.stem().string(), .name = name, .url = url};
}

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

    /// Adds applications by location and name.
    void add(const std::map<std::filesystem::path, std::string>& apps)
    {
        for (const auto& [location, name] : apps)
            catalog.addApplication(location, "com.example." + location.stem().string(), name);
    }

    void addRule(std::vector<ApplicationReference> apps)
    {
        model->configuration.modify([&](Configuration& c) {
            c.profiles.edit(0).rules.push_back({.id = UUID::random(),
                .name = "Rule",
                .conditions = {.apps = std::move(apps)},
                .settings = {.brightness = 0.5}});
        });
    }
};

TEST(InstalledAppsTest, ListBuildsFromFoldersRunningApplicationsAndRules)
{
    using Case
        = std::tuple<std::string_view, std::function<void(AppsWorld&)>, std::vector<AppChoice>>;
    const Case cases[] = {
        {"every folder, one level deep, hidden and non-app entries skipped, the user's wins",
            [](auto& w) {
                w.add({{"/Applications/Editor.app", "Editor"},
                    {"/System/Applications/Notes.app", "Notes"},
                    {"/System/Applications/Utilities/Console.app", "Console"},
                    {"/Users/user/Applications/Mine.app", "Mine"},
                    {"/Applications/Tools/Deep.app", "Deep"},
                    {"/Applications/.Hidden.app", "Hidden"}, {"/Applications/Upper.APP", "Upper"},
                    {"/Applications/Plugin.bundle", "Plugin"},
                    {"/Users/user/Applications/Editor.app", "My Editor"}});
                w.catalog.addFolder("/Applications/Empty.app");
                w.catalog.addBundle("/Applications/Anonymous.app", {});
            },
            {installed("Console", "/System/Applications/Utilities/Console.app"),
                installed("Mine", "/Users/user/Applications/Mine.app"),
                installed("My Editor", "/Users/user/Applications/Editor.app"),
                installed("Notes", "/System/Applications/Notes.app")}},
        {"an unreadable folder is skipped",
            [](auto& w) {
                w.add({{"/Applications/Editor.app", "Editor"},
                    {"/System/Applications/Notes.app", "Notes"}});
                w.catalog.unreadableFolders.insert("/Applications");
            },
            {installed("Notes", "/System/Applications/Notes.app")}},
        {"running: regular ones with an identifier win over the installed ones",
            [](auto& w) {
                w.add({{"/Applications/Editor.app", "Editor"}});
                w.workspace.applications = {
                    {.bundleIdentifier = "com.example.Editor",
                        .localizedName = "Editor Pro",
                        .bundlePath = "/Volumes/Work/Editor.app"},
                    {.bundleIdentifier = "com.example.Agent",
                        .activationPolicy = ActivationPolicy::accessory},
                    {.bundleIdentifier = "com.example.Daemon",
                        .activationPolicy = ActivationPolicy::prohibited},
                    {.localizedName = "Script"},
                    {.bundleIdentifier = "com.example.Bare"},
                };
            },
            {{.id = "com.example.Bare", .name = "com.example.Bare"},
                installed("Editor Pro", "/Volumes/Work/Editor.app")}},
        {"rules add what is missing and never rename",
            [](auto& w) {
                w.add({{"/Applications/Editor.app", "Editor"}});
                w.addRule({{.id = "com.example.Editor", .name = "Old Editor"},
                    {.id = "com.example.Gone", .name = "Gone"}});
                w.addRule({{.id = "com.example.Gone", .name = "Gone later"}});
            },
            {installed("Editor", "/Applications/Editor.app"),
                {.id = "com.example.Gone", .name = "Gone"}}},
        {"our own application is never listed",
            [](auto& w) {
                w.add({{"/Applications/Quorvane.app", "Own"}});
                w.workspace.ownBundleIdentifier = "com.example.Quorvane";
                w.workspace.applications = {{.bundleIdentifier = "com.example.Quorvane"}};
                w.addRule({{.id = "com.example.Quorvane", .name = "Own"}});
            },
            {}},
        {"without a main bundle identifier the built-in one is left out",
            [](auto& w) {
                w.catalog.addApplication("/Applications/Quorvane.app", "com.quorvane.Quorvane");
                w.workspace.ownBundleIdentifier = std::nullopt;
            },
            {}},
    };
    for (const auto& [name, setUp, expected] : cases) {
        SCOPED_TRACE(name);
        AppsWorld w;
        setUp(w);
        w.model->refreshApps();
        EXPECT_EQ(w.model->apps.get(), expected);
    }
}

TEST(InstalledAppsTest, SortIgnoresCaseAndWeighsAccentsBelowLetters)
{
    // Each list in the expected order; neighbours would swap if a case or accent were compared by
    // its code alone. Symbols come before letters; "bad\xC3" is not UTF-8; résumé has the letters
    // of resume, so its accents come second. Every order holds in the root collation and in the
    // usual locales.
    const std::pair<std::string_view, std::vector<std::string>> cases[] = {
        {"Latin-1",
            {"×", "apple", "Àpricot", "Azure", "bad\xC3", "beta", "resume", "résumé", "zebra",
                "Zulu", "þistle", "Þorn", "中文"}},
        {"Cyrillic", {"банан", "Вишня", "груша", "Яблоко"}},
        {"Greek", {"άλφα", "Βήτα", "γάμμα", "Ωμέγα"}},
        {"Latin Extended", {"łódź", "Łukasz", "œuvre", "Œvre"}},
    };
    for (const auto& [script, names] : cases) {
        SCOPED_TRACE(script);
        AppsWorld w;
        // Identifiers in reverse, so the scan meets the names out of order.
        for (std::size_t index = 0; index < names.size(); ++index)
            w.add(
                {{"/Applications/" + std::to_string(names.size() - index) + ".app", names[index]}});
        w.model->refreshApps();
        std::vector<std::string> sorted;
        for (const AppChoice& app : w.model->apps.get())
            sorted.push_back(app.name);
        EXPECT_EQ(sorted, names);
    }
}

TEST(InstalledAppsTest, ChoiceOfAFolderPathEndingInASeparatorIsNamedByItsLastComponent)
{
    AppsWorld w;
    w.catalog.addBundle("/Apps/Tool.app/", {.bundleIdentifier = "com.example.Tool"});
    EXPECT_EQ(w.model->appChoice("/Apps/Tool.app/"),
        (AppChoice{.id = "com.example.Tool", .name = "Tool", .url = "/Apps/Tool.app/"}));
}

TEST(InstalledAppsTest, ChoiceNameComesFromTheInfoDictionary)
{
    const auto text = PlatformValue::text;
    const std::tuple<std::string_view, PlatformDictionary, std::string> cases[] = {
        {"display name first",
            {{"CFBundleDisplayName", text("Shown")}, {"CFBundleName", text("Bundle")}}, "Shown"},
        {"an empty display name is used as it is",
            {{"CFBundleDisplayName", text("")}, {"CFBundleName", text("Bundle")}}, ""},
        {"a display name that is not text is passed over",
            {{"CFBundleDisplayName", PlatformValue::integer(3)}, {"CFBundleName", text("Bundle")}},
            "Bundle"},
        {"the file name without its extension last",
            {{"CFBundleName", PlatformValue::boolean(true)}}, "My Tool.v2"},
    };
    for (const auto& [name, info, expected] : cases) {
        SCOPED_TRACE(name);
        AppsWorld w;
        w.catalog.addBundle(
            "/Apps/My Tool.v2.app", {.bundleIdentifier = "com.example.My Tool.v2", .info = info});
        EXPECT_EQ(w.model->appChoice("/Apps/My Tool.v2.app"),
            installed(expected, "/Apps/My Tool.v2.app"));
    }
    AppsWorld w;
    w.catalog.addBundle("/Apps/Anonymous.app", {});
    w.catalog.addFolder("/Apps/Folder.app");
    for (const char* location : {"/Apps/Anonymous.app", "/Apps/Folder.app", "/Apps/Missing.app"})
        EXPECT_EQ(w.model->appChoice(location), std::nullopt) << location;
}

TEST(InstalledAppsTest, ChosenApplicationsJoinTheListOnce)
{
    AppsWorld w;
    w.add({{"/Applications/Editor.app", "Editor"}, {"/Volumes/Work/Editor.app", "Other Editor"},
        {"/Volumes/Work/Zed.app", "Zed"}, {"/Volumes/Work/Alpha.app", "alpha"}});
    w.model->refreshApps();

    w.world.openPanel.answer
        = {.response = ModalResponse::cancel, .selection = {"/Volumes/Work/Zed.app"}};
    EXPECT_TRUE(w.model->chooseApplications().empty());
    EXPECT_EQ(w.model->apps->size(), 1U);

    w.world.openPanel.answer = {.response = ModalResponse::ok,
        .selection = {"/Volumes/Work/Zed.app", "/Volumes/Work/Editor.app", "/Volumes/None.app",
            "/Volumes/Work/Alpha.app"}};
    EXPECT_EQ(w.model->chooseApplications(),
        (std::vector<AppChoice>{installed("Zed", "/Volumes/Work/Zed.app"),
            installed("Other Editor", "/Volumes/Work/Editor.app"),
            installed("alpha", "/Volumes/Work/Alpha.app")}));
    EXPECT_EQ(w.model->apps.get(),
        (std::vector<AppChoice>{installed("alpha", "/Volumes/Work/Alpha.app"),
            installed("Editor", "/Applications/Editor.app"),
            installed("Zed", "/Volumes/Work/Zed.app")}));
    const OpenPanelRequest expected{.title = "Choose applications",
        .directory = "/Applications",
        .canChooseDirectories = false,
        .allowedContentTypes = {ContentType::applicationBundle},
        .allowsMultipleSelection = true};
    EXPECT_EQ(w.world.openPanel.requests, (std::vector<OpenPanelRequest>{expected, expected}));
}

} // namespace
} // namespace quorvane
