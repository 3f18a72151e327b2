#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/FileTrust.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

using namespace quorvane;
using testing::ElementsAre;
using testing::StartsWith;
using testing::UnorderedElementsAre;

namespace {

const std::string locked = "Settings are locked because the original file could not be loaded.";

/// The error's text, or "done".
template <typename T> std::string failureOf(Task<T> task)
{
    return outcomeOf(std::move(task)).summary();
}

std::vector<std::string> folderContents(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

/// A default document with an invalid hold time, which the encoder writes without validating.
std::string invalidFile(std::int64_t schemaVersion)
{
    Configuration configuration;
    configuration.schemaVersion = schemaVersion;
    configuration.holdMinutes = 10;
    return serializeJSON(encodeConfiguration(configuration));
}

} // namespace

TEST(SettingsStoreTest, AFailedLoadLocksTheStoreEvenAfterAGoodOneAndLeavesTheFileAsItWas)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    const std::string unreadable = "The settings file could not be read. ";
    // The situation, the file's bytes, and the start of the error's text.
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"not JSON", R"({"schemaVersion": 5,)", unreadable + "The data is not valid JSON: "},
        {"empty object", "{}", unreadable + "No value associated with the key \"schemaVersion\"."},
        {"version as text", R"({"schemaVersion": "5"})",
            unreadable + "At schemaVersion: Expected an integer but found a string."},
        {"version 1", R"({"schemaVersion": 1})", "Settings version 1 is not supported."},
        {"invalid version 4", invalidFile(4), "Invalid automation timing preferences."},
        {"at the size limit", std::string(SettingsStore::maximumFileSize, ' '), unreadable},
        {"over the size limit", std::string(SettingsStore::maximumFileSize + 1, ' '),
            "Could not read the file \"" + path.string() + "\": File too large."},
    };
    SettingsStore store(path);
    for (const auto& [situation, bytes, message] : cases) {
        SCOPED_TRACE(situation);
        std::filesystem::remove(path);
        EXPECT_EQ(failureOf(store.load()), "done");
        writeFileAtomically(path, bytes);
        EXPECT_THAT(failureOf(store.load()), StartsWith(message));
        EXPECT_EQ(failureOf(store.save(Configuration())), locked);
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_THAT(folderContents(folder.path()), ElementsAre("settings.json"));
    }
}

TEST(SettingsStoreTest, NothingIsWrittenBeforeTheFirstSaveAfterALoadAndThatSaveCreatesFolders)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "Quorvane" / "nested" / "settings.json";
    SettingsStore store(path);
    EXPECT_EQ(failureOf(store.save(Configuration())), locked);
    // Without a file the default document is loaded, and still nothing is written.
    const Configuration loaded = runToEnd(store.load());
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    runToEnd(store.save(loaded));
    // Sorted keys, two spaces of indentation, identifiers in upper case.
    EXPECT_THAT(readFile(path),
        StartsWith("{\n  \"activeProfileID\": \"" + loaded.activeProfileID.uuidString()
            + "\",\n  \"automationEnabled\": false,\n  \"brightnessKeyStep\": 5,\n"));
    EXPECT_THAT(folderContents(path.parent_path()), ElementsAre("settings.json"));
}

TEST(SettingsStoreTest, AFailedSaveLocksTheStoreUntilALoadSucceeds)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    SettingsStore store(path);
    const Configuration configuration = runToEnd(store.load());
    runToEnd(store.save(configuration));
    const std::string saved = readFile(path);

    // Temporary files of saves that were killed before renaming; only a good save removes them.
    for (const std::string name : {".settings.json.1f.tmp", ".settings.json.c0ffee.tmp"})
        writeFileAtomically(folder.path() / name, "{");
    Configuration invalid = configuration;
    invalid.holdMinutes = 10;
    EXPECT_EQ(failureOf(store.save(invalid)), "Invalid automation timing preferences.");
    EXPECT_EQ(failureOf(store.save(configuration)), locked);
    EXPECT_EQ(readFile(path), saved);
    EXPECT_EQ(folderContents(folder.path()).size(), 3u);
    EXPECT_EQ(runToEnd(store.load()), configuration);
    EXPECT_EQ(failureOf(store.save(configuration)), "done");
    EXPECT_THAT(folderContents(folder.path()), ElementsAre("settings.json"));
}

TEST(SettingsStoreTest, LinkedFileIsSavedThroughItsLinkAndWhatIsNoFileIsRefusedUnread)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    const std::filesystem::path stored = folder.path() / "dotfiles.json";
    const auto notRegular = [](const std::filesystem::path& file) {
        return "Could not read the file \"" + file.string() + "\": " + notARegularFile().message()
            + ".";
    };
    // A device of the test's own where it may make one: a save that wrongly replaced the device
    // then replaces only that one, never the machine's.
    std::filesystem::path device = "/dev/zero";
    std::filesystem::create_directory(folder.path() / "dev");
    if (::mknod((folder.path() / "dev" / "zero").c_str(), S_IFCHR | 0666, ::makedev(1, 5)) == 0)
        device = folder.path() / "dev" / "zero";
    // What stands at the path, and the error of the load ("done" when it loads).
    const std::tuple<const char*, std::string> cases[] = {
        {"link", "done"},
        {"dangling link", "done"},
        {"fifo", notRegular(path)},
        {"device", notRegular(device)},
    };
    for (const auto& [situation, outcome] : cases) {
        SCOPED_TRACE(situation);
        std::filesystem::remove(path);
        std::filesystem::remove(stored);
        const std::string_view what = situation;
        if (what == "link")
            writeFileAtomically(stored, serializeJSON(encodeConfiguration(Configuration())));
        if (what.ends_with("link"))
            std::filesystem::create_symlink("dotfiles.json", path);
        if (what == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
        if (what == "device")
            std::filesystem::create_symlink(device, path);

        SettingsStore store(resolvedFile(path)); // as at start
        EXPECT_EQ(failureOf(store.load()), outcome);
        Configuration changed;
        changed.holdMinutes = 30;
        const std::string saved = failureOf(store.save(changed));
        if (outcome != "done") {
            EXPECT_EQ(saved, locked);
            continue;
        }
        EXPECT_EQ(saved, "done");
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        EXPECT_EQ(runToEnd(SettingsStore(stored).load()), changed);
    }
}

TEST(SettingsStoreTest, LinkIntoAFolderThatDoesNotExistYetGetsItsFolderCreated)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    const std::filesystem::path stored = folder.path() / "dotfiles" / "Quorvane" / "settings.json";
    for (const std::filesystem::path& link :
        {std::filesystem::path("dotfiles/Quorvane/settings.json"), stored}) {
        SCOPED_TRACE(link);
        std::filesystem::remove_all(folder.path() / "dotfiles");
        std::filesystem::remove(path);
        std::filesystem::create_symlink(link, path);
        SettingsStore store(resolvedFile(path));
        const Configuration loaded = runToEnd(store.load());
        ASSERT_EQ(failureOf(store.save(loaded)), "done");
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        EXPECT_EQ(runToEnd(SettingsStore(stored).load()), loaded);
    }
}

// The store saves the file it was given: a link put in place of that file or of one of its folders
// afterwards (by another user, in a folder that root's copy saves to) is never followed, and
// another user's folder or file put there (as a temporary-folder cleaner and another user would
// leave it in a folder with the sticky bit) is never written.
TEST(SettingsStoreTest, ALinkPutInPlaceOfTheFileOrAFolderOfItsIsNeverFollowed)
{
    const TemporaryFolder folder;
    const std::filesystem::path root = std::filesystem::canonical(folder.path());
    const std::filesystem::path path = root / "a" / "r" / "settings.json";
    const std::filesystem::path elsewhere = root / "private";
    std::filesystem::create_directories(elsewhere / "r");
    for (const auto& secret : {elsewhere / "settings.json", elsewhere / "r" / "settings.json"})
        writeFileAtomically(secret, "secret");
    const std::string loop = "A symbolic link now stands for the settings folder \""
        + path.parent_path().string()
        + "\" or a folder above it. The last change is not saved, and QuorVane saves nothing more "
          "until it starts again.";
    const uid_t other = ::geteuid() == 0 ? 65534 : ::geteuid(); // only root may give files away
    const auto theirs = [other](const std::string& entry) {
        return "The settings are not read or saved: the " + entry + "\" belongs to "
            + userName(other) + ". QuorVane saves nothing more until it starts again.";
    };
    struct Case {
        const char* situation;
        std::filesystem::path replaced; // by a link to `target`, else by a file or folder
        std::filesystem::path target;
        std::string outcome; // of the second save
        bool isOthers = false; // the file or folder put there is another user's
    };
    const Case cases[] = {
        {"the file", path, elsewhere / "settings.json", "done"},
        {"its folder", path.parent_path(), elsewhere, loop},
        {"a folder above it", root / "a", elsewhere, loop},
        {"its folder, by a file", path.parent_path(), "",
            "Could not save the file \"" + path.string()
                + "\": " + std::make_error_code(std::errc::not_a_directory).message() + "."},
        {"a folder above it, by another user's", root / "a", "",
            theirs("folder \"" + (root / "a").string()), true},
        {"the file, by another user's", path, "", theirs("file \"" + path.string()), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        if (c.isOthers && other == ::geteuid())
            continue;
        std::filesystem::remove_all(root / "a");
        std::filesystem::remove_all(root / "away");
        SettingsStore store(path);
        Configuration changed = runToEnd(store.load());
        ASSERT_EQ(failureOf(store.save(changed)), "done");
        const bool isFolder = std::filesystem::is_directory(c.replaced);
        std::filesystem::rename(c.replaced, root / "away");
        if (!c.target.empty())
            std::filesystem::create_symlink(c.target, c.replaced);
        else if (c.isOthers && isFolder)
            std::filesystem::create_directory(c.replaced);
        else
            writeFileAtomically(c.replaced, "");
        if (c.isOthers) {
            ASSERT_EQ(::chown(c.replaced.c_str(), other, other), 0);
        }
        const auto version = std::filesystem::last_write_time(c.replaced);
        changed.holdMinutes = 15;
        EXPECT_EQ(failureOf(store.save(changed)), c.outcome);
        EXPECT_THAT(folderContents(elsewhere), UnorderedElementsAre("settings.json", "r"));
        EXPECT_THAT(folderContents(elsewhere / "r"), ElementsAre("settings.json"));
        EXPECT_EQ(readFile(elsewhere / "settings.json"), "secret");
        EXPECT_EQ(readFile(elsewhere / "r" / "settings.json"), "secret");
        if (c.outcome == "done") {
            EXPECT_FALSE(std::filesystem::is_symlink(path));
            EXPECT_EQ(runToEnd(SettingsStore(path).load()), changed);
        }
        if (c.isOthers) {
            EXPECT_EQ(std::filesystem::last_write_time(c.replaced), version) << "written";
        }
    }
}

// A save writes only when the file's bytes would change: whatever the file holds now, not what the
// store last wrote, decides.
TEST(SettingsStoreTest, ASaveThatChangesNoByteWritesNothing)
{
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    SettingsStore store(path);
    const Configuration original = runToEnd(store.load());
    Configuration changed = original;
    changed.holdMinutes = 15; // "30" and "15": the same length
    const std::string originalText = encodeConfigurationText(original);
    // Before each save: what happens to the file; then the document saved and the writes so far.
    const std::tuple<const char*, std::function<void()>, const Configuration*, std::size_t> steps[]
        = {
            {"no file yet", [] {}, &original, 1},
            {"the same document", [] {}, &original, 1},
            {"a changed document", [] {}, &changed, 2},
            {"changed back", [] {}, &original, 3},
            {"the file removed", [&] { std::filesystem::remove(path); }, &original, 4},
            {"a byte changed outside",
                [&] {
                    std::string text = originalText;
                    text.back() = ' ';
                    writeFileAtomically(path, text);
                },
                &original, 5},
            {"a longer file", [&] { writeFileAtomically(path, originalText + "\n"); }, &original,
                6},
            {"the same bytes written outside", [&] { writeFileAtomically(path, originalText); },
                &original, 6},
            // Read through, the link would pass for the file and keep its place.
            {"a link to the same bytes at its name",
                [&] {
                    writeFileAtomically(folder.path() / "same.json", originalText);
                    std::filesystem::remove(path);
                    std::filesystem::create_symlink("same.json", path);
                },
                &original, 7},
            {"a FIFO at its name",
                [&] {
                    std::filesystem::remove(path);
                    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
                },
                &original, 8},
        };
    for (const auto& [situation, change, document, writes] : steps) {
        SCOPED_TRACE(situation);
        change();
        // A save that waits for a writer at a FIFO is given one after a few seconds.
        const Configuration& saving = *document; // clang 14 captures no structured binding
        auto saved = std::async(std::launch::async, [&] { return failureOf(store.save(saving)); });
        if (saved.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the save hangs";
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        }
        EXPECT_EQ(saved.get(), "done");
        EXPECT_EQ(store.writeCount(), writes);
        EXPECT_EQ(readFile(path), encodeConfigurationText(*document));
        EXPECT_FALSE(std::filesystem::is_symlink(path));
    }
    EXPECT_EQ(readFile(folder.path() / "same.json"), originalText);
    Configuration invalid = original;
    invalid.holdMinutes = 10;
    EXPECT_EQ(failureOf(store.save(invalid)), "Invalid automation timing preferences.");
    EXPECT_EQ(store.writeCount(), 8u);
}

// The file work runs on another thread, so operations asked for together overlap in time: each
// waits for the one before, and none finds the store locked by another's write in progress. A
// name too long for the save's temporary file to repeat whole is written the same way.
TEST(SettingsStoreTest, OperationsAskedForTogetherRunOneAfterAnotherInTheOrderAsked)
{
    using Elsewhere = ManualExecutor::Elsewhere;
    const std::string longName = std::string(245, 's') + ".json";
    for (const auto& [elsewhere, name] : {std::pair{Elsewhere::onExecutor, "settings.json"},
             std::pair{Elsewhere::onWorkerThread, "settings.json"},
             std::pair{Elsewhere::onWorkerThread, longName.c_str()}}) {
        SCOPED_TRACE(name);
        const TemporaryFolder folder;
        const std::filesystem::path path = folder.path() / name;
        SettingsStore store(path);
        ManualExecutor executor(elsewhere);
        Configuration first;
        first.holdMinutes = 15;
        Configuration second;
        second.holdMinutes = 60;
        TaskOutcome<Configuration> loaded;
        std::vector<TaskOutcome<void>> saved(2);
        spawn(executor, recordOutcome(store.load(), loaded));
        spawn(executor, recordOutcome(store.save(first), saved[0]));
        spawn(executor, recordOutcome(store.save(second), saved[1]));
        executor.runUntilIdle();

        EXPECT_EQ(loaded.summary(), "done");
        EXPECT_EQ(saved[0].summary(), "done");
        EXPECT_EQ(saved[1].summary(), "done");
        EXPECT_EQ(store.writeCount(), 2u);
        EXPECT_EQ(readFile(path), encodeConfigurationText(second));
        EXPECT_EQ(std::ranges::distance(std::filesystem::directory_iterator(folder.path())), 1);
    }
}
