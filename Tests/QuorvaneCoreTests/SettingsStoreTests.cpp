#include "Foundation/AtomicFile.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvane;
using testing::StartsWith;

namespace {

/// A version-5 document with `holdMinutes`, and `temperature` after the one display's brightness,
/// spliced in as text.
std::string currentFile(std::string_view holdMinutes = "30", std::string_view temperature = "")
{
    return R"({
  "schemaVersion": 5,
  "profiles": [{"id": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "name": "Default",
    "defaultSettings": {"displays": {"d1": {"brightness": 0.5)"
        + std::string(temperature) + R"(}}, "initializedDisplayIDs": ["d1"]},
    "rules": []}],
  "activeProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "defaultProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "knownDisplays": [], "verifiedModes": [], "automationEnabled": false,
  "holdMinutes": )"
        + std::string(holdMinutes) + R"(, "smoothTransitions": true, "debounceMilliseconds": 300,
  "brightnessKeysEnabled": false, "brightnessKeyStep": 5
})";
}

std::string versionOnly(std::string_view version)
{
    return R"({"schemaVersion": )" + std::string(version) + "}";
}

/// The error's text, or "no error".
template <typename T> std::string failureOf(Task<T> task)
{
    try {
        runToEnd(std::move(task));
        return "no error";
    } catch (const Error& error) {
        return error.what();
    }
}

bool isReadOnly(Task<void> save)
{
    try {
        runToEnd(std::move(save));
        return false;
    } catch (const ConfigurationError& error) {
        return std::holds_alternative<ConfigurationError::ReadOnly>(error.errorCase());
    }
}

/// `message` with "{path}" replaced by `path`.
std::string withPath(std::string message, const std::filesystem::path& path)
{
    if (const std::size_t at = message.find("{path}"); at != std::string::npos)
        message.replace(at, 6, path.string());
    return message;
}

std::vector<std::string> folderContents(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

TEST(SettingsStoreTest, AFailedLoadLocksTheStoreAndLeavesTheFileAsItWas)
{
    struct Case {
        const char* situation;
        std::function<void(const std::filesystem::path&)> prepare;
        /// The start of the error's text; "{path}" stands for the settings file's path.
        std::string message;
    };
    const auto file = [](std::string bytes) {
        return [bytes](const std::filesystem::path& path) { writeFileAtomically(path, bytes); };
    };
    const std::string unreadable = "The settings file could not be read. ";
    const std::string unsupported
        = " is not supported. This build uses the new profile format. The file was not changed.";
    const Case cases[] = {
        {"not JSON", file(R"({"schemaVersion": 5,)"), unreadable + "The data is not valid JSON: "},
        {"not UTF-8", file("{\"schemaVersion\": 5, \"x\": \"\xC0\xAF\"}"),
            unreadable + "The data is not valid UTF-8."},
        {"empty object", file("{}"),
            unreadable + "No value associated with the key \"schemaVersion\"."},
        {"not an object", file("[5]"), unreadable + "Expected an object but found an array."},
        {"version as text", file(versionOnly(R"("5")")),
            unreadable + "At schemaVersion: Expected an integer but found a string."},
        {"version beyond 64 bits", file(versionOnly("18446744073709551616")),
            unreadable + "At schemaVersion: The number does not fit in a 64-bit integer."},
        {"number beyond a double", file(currentFile("1e400")),
            unreadable + "The data is not valid JSON: "},
        {"nested too deep", file(std::string(600, '[') + std::string(600, ']')),
            unreadable + "The data nests arrays and objects deeper than 512 levels."},
        {"version 6", file(versionOnly("6")), "Settings version 6" + unsupported},
        {"version 1", file(versionOnly("1")), "Settings version 1" + unsupported},
        {"version 5 that does not decode",
            file(currentFile("30", R"(, "temperature": {"neutral": {}, "kelvin": {"_0": 5000}})")),
            unreadable
                + "At profiles[0].defaultSettings.displays.d1.temperature: Invalid number of keys "
                  "found, expected one."},
        {"version 5 that fails validation", file(currentFile("10")),
            "Invalid automation timing preferences."},
        {"a folder in the file's place",
            [](const std::filesystem::path& path) { std::filesystem::create_directory(path); },
            "Could not read the file \"{path}\": Is a directory."},
        {"larger than the limit",
            [](const std::filesystem::path& path) {
                writeFileAtomically(path, "{}");
                std::filesystem::resize_file(path, SettingsStore::maximumFileSize + 1);
            },
            "Could not read the file \"{path}\": File too large."},
        {"exactly at the limit, so read",
            [](const std::filesystem::path& path) {
                std::string bytes = "{}";
                bytes.resize(SettingsStore::maximumFileSize, ' ');
                writeFileAtomically(path, bytes);
            },
            unreadable + "No value associated with the key \"schemaVersion\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        const TemporaryFolder folder;
        const std::filesystem::path path = folder.path() / "settings.json";
        c.prepare(path);
        const std::string before
            = std::filesystem::is_regular_file(path) ? readFile(path) : std::string();

        SettingsStore store(path);
        EXPECT_THAT(failureOf(store.load()), StartsWith(withPath(c.message, path)));
        EXPECT_TRUE(isReadOnly(store.save(Configuration())));
        if (std::filesystem::is_regular_file(path))
            EXPECT_EQ(readFile(path), before);
        else
            EXPECT_TRUE(std::filesystem::is_directory(path));
        EXPECT_EQ(folderContents(folder.path()), std::vector<std::string>{"settings.json"});
    }
}

TEST(SettingsStoreTest, ANewStoreSavesNothingBeforeItHasLoaded)
{
    const TemporaryFolder folder;
    SettingsStore store(folder.path() / "settings.json");
    EXPECT_TRUE(isReadOnly(store.save(Configuration())));
    EXPECT_TRUE(folderContents(folder.path()).empty());
}

TEST(SettingsStoreTest, WithoutAFileLoadsTheDefaultDocumentAndTheFirstSaveCreatesFolders)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "Quorvane" / "nested" / "settings.json";
    SettingsStore store(path);

    Configuration loaded = runToEnd(store.load());
    EXPECT_NO_THROW(loaded.validate());
    EXPECT_EQ(loaded.profiles.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "Quorvane"));

    loaded.profiles[0].id = *UUID::parse("6f1c2b3a-4d5e-4f60-8172-93a4b5c6d7e8");
    loaded.activeProfileID = loaded.defaultProfileID = loaded.profiles[0].id;
    runToEnd(store.save(loaded));
    EXPECT_EQ(readFile(path), R"({
  "activeProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "automationEnabled": false,
  "brightnessKeyStep": 5,
  "brightnessKeysEnabled": false,
  "debounceMilliseconds": 300,
  "defaultProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "holdMinutes": 30,
  "knownDisplays": [],
  "profiles": [
    {
      "defaultSettings": {
        "displays": {},
        "initializedDisplayIDs": []
      },
      "id": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
      "name": "Default",
      "rules": []
    }
  ],
  "schemaVersion": 5,
  "smoothTransitions": true,
  "verifiedModes": []
})");
    EXPECT_EQ(folderContents(path.parent_path()), std::vector<std::string>{"settings.json"});

    SettingsStore reopened(path);
    EXPECT_EQ(runToEnd(reopened.load()), loaded);
}

TEST(SettingsStoreTest, ACurrentFileLoadsWithoutBeingRewritten)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    writeFileAtomically(path, currentFile());

    SettingsStore store(path);
    const Configuration loaded = runToEnd(store.load());
    EXPECT_EQ(loaded.defaultSettings().displays.at("d1"), (RuleSettings{.brightness = 0.5}));
    EXPECT_EQ(readFile(path), currentFile());
    runToEnd(store.save(loaded));
    EXPECT_EQ(parseJSON(readFile(path)), encodeConfiguration(loaded));
}

TEST(SettingsStoreTest, AFailedSaveLocksTheStoreUntilALoadSucceeds)
{
    struct Case {
        const char* situation;
        /// Breaks the save; the path is the settings file's.
        std::function<void(const std::filesystem::path&, Configuration&)> breakSave;
        std::string message;
    };
    const Case cases[] = {
        {"invalid document",
            [](const std::filesystem::path&, Configuration& configuration) {
                configuration.holdMinutes = 10;
            },
            "Invalid automation timing preferences."},
        {"percentage that is not a number",
            [](const std::filesystem::path&, Configuration& configuration) {
                DefaultSettings settings;
                settings.displays["d1"].brightness = std::numeric_limits<double>::quiet_NaN();
                configuration.setDefaultSettings(settings);
            },
            "A profile has invalid settings or a missing name."},
        {"folder that cannot be created",
            [](const std::filesystem::path& path, Configuration&) {
                std::filesystem::remove_all(path.parent_path());
                writeFileAtomically(path.parent_path(), "a file where the folder should be");
            },
            "Could not save the file \"{path}\": Not a directory."},
        {"file that cannot be replaced",
            [](const std::filesystem::path& path, Configuration&) {
                std::filesystem::remove(path);
                std::filesystem::create_directory(path);
            },
            "Could not save the file \"{path}\": Is a directory."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        const TemporaryFolder folder;
        const std::filesystem::path path = folder.path() / "Quorvane" / "settings.json";
        SettingsStore store(path);
        Configuration configuration = runToEnd(store.load());
        runToEnd(store.save(configuration));
        const std::string saved = readFile(path);

        Configuration broken = configuration;
        c.breakSave(path, broken);
        EXPECT_EQ(failureOf(store.save(broken)), withPath(c.message, path));
        EXPECT_TRUE(isReadOnly(store.save(configuration)));

        if (std::filesystem::is_regular_file(path)) {
            EXPECT_EQ(readFile(path), saved);
            EXPECT_EQ(
                folderContents(path.parent_path()), std::vector<std::string>{"settings.json"});
        } else {
            // Put a file back: only a successful load unlocks the store again.
            std::filesystem::remove_all(folder.path() / "Quorvane");
            std::filesystem::create_directory(folder.path() / "Quorvane");
            writeFileAtomically(path, saved);
        }
        EXPECT_EQ(runToEnd(store.load()), configuration);
        EXPECT_NO_THROW(runToEnd(store.save(configuration)));
    }
}
