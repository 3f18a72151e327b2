#include "Foundation/AtomicFile.h"

#include "Foundation/FileDescriptor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace quorvane;
using testing::ThrowsMessage;
namespace fs = std::filesystem;

namespace {

/// Runs `undo` when it goes out of scope.
template <typename Undo> struct ScopeExit {
    Undo undo;
    ~ScopeExit() { undo(); }
};
template <typename Undo> ScopeExit(Undo) -> ScopeExit<Undo>;

/// Makes writes past `bytes` fail with EFBIG (even for root) instead of raising SIGXFSZ, until
/// the result goes out of scope.
auto limitFileSize(rlim_t bytes)
{
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const sighandler_t previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{.rlim_cur = bytes, .rlim_max = previous.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return ScopeExit{[previous, previousHandler] {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        ::signal(SIGXFSZ, previousHandler);
    }};
}

/// Whether a write follows the symbolic links on its way to the file.
enum class LinkFollowing { always, never };

/// `file`'s folder, reached without following a link; throws FileError about `file` as a save
/// would.
FileDescriptor folderWithoutLinks(const fs::path& file, FolderCreation creation)
{
    std::error_code error;
    FileDescriptor folder = openFolderWithoutLinks(file.parent_path(), creation, error);
    if (error)
        throw FileError::writing(file, error);
    return folder;
}

void write(const fs::path& file, std::string_view bytes, LinkFollowing following)
{
    if (following == LinkFollowing::always)
        return writeFileAtomically(file, bytes);
    writeFileIn(folderWithoutLinks(file, FolderCreation::none).get(), file.filename().string(),
        bytes, file);
}

void removeAbandoned(const fs::path& file, LinkFollowing following)
{
    if (following == LinkFollowing::always)
        return removeAbandonedTemporaryFiles(file);
    std::error_code error;
    const FileDescriptor folder
        = openFolderWithoutLinks(file.parent_path(), FolderCreation::none, error);
    if (!error)
        removeAbandonedTemporaryFilesIn(folder.get(), file.filename().string());
}

/// Starts to write `target` and is killed by the file size limit, in the middle of the write.
void writeUntilKilled(const fs::path& target, LinkFollowing following = LinkFollowing::always)
{
    ::signal(SIGXFSZ, SIG_DFL);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    write(target, std::string(100, 'x'), following);
}

/// `name` in folders made under `folder` so that its path is `length` characters long.
fs::path deepPath(fs::path folder, const std::string& name, std::size_t length)
{
    while (folder.string().size() + 1 + name.size() < length) {
        // Each folder adds its name and a separator; the last one takes what is left.
        const std::size_t left = length - folder.string().size() - 1 - name.size();
        folder /= std::string(left > 256 ? 200 : left - 1, 'f');
        fs::create_directory(folder);
    }
    return folder / name;
}

/// Each test works in a new empty folder, removed with its contents afterwards.
class AtomicFileTest : public testing::Test {
protected:
    AtomicFileTest() { EXPECT_NE(::mkdtemp(m_folder.data()), nullptr) << "mkdtemp failed"; }
    ~AtomicFileTest() override { fs::remove_all(m_folder); }

    [[nodiscard]] fs::path folder() const { return m_folder; }
    [[nodiscard]] fs::path pathOf(std::string_view name) const { return folder() / name; }
    /// A temporary file left behind shows here.
    [[nodiscard]] auto entryCount() const
    {
        return std::distance(fs::directory_iterator(m_folder), {});
    }

private:
    std::string m_folder = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
};

} // namespace

TEST_F(AtomicFileTest, WritesTheWholeFileWithTheModeOfANewOneEvenWithStandardInputClosed)
{
    // The umask, the permissions it leaves to a new file, and what is written.
    const std::tuple<mode_t, mode_t, std::string> cases[] = {
        {022, 0644, std::string(1'000'000, 'x')},
        {077, 0600, std::string("{\0}", 3)},
        {002, 0664, ""},
        {0, 0666, "{}"},
    };
    // A program started with standard input closed gets descriptor 0 for the next file it opens.
    const int standardInput = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    const ScopeExit restore{[standardInput] {
        ::dup2(standardInput, STDIN_FILENO);
        ::close(standardInput);
    }};
    const fs::path target = pathOf("settings.json");
    for (const auto& [umask, permissions, bytes] : cases) {
        SCOPED_TRACE(umask);
        const ScopeExit restoreUmask{[previous = ::umask(umask)] { ::umask(previous); }};
        fs::remove(target); // a file that exists keeps its mode
        writeFileAtomically(target, bytes);
        EXPECT_EQ(readFile(target), bytes);
        EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(permissions));
        EXPECT_EQ(entryCount(), 1);
    }
}

TEST_F(AtomicFileTest, FailureKeepsTheOldFileAndLeavesNoTemporaryOne)
{
    const std::string old = "{\"schemaVersion\": 5}";
    writeFileAtomically(pathOf("settings.json"), old);
    fs::create_directories(pathOf("folder") / "kept");
    struct Case {
        fs::path path;
        rlim_t fileSizeLimit;
        std::errc reason;
    };
    const Case cases[] = {
        {pathOf("settings.json"), 100, std::errc::file_too_large}, // the write fails
        {pathOf("folder"), RLIM_INFINITY, std::errc::is_a_directory}, // the rename fails
        {pathOf("missing") / "a.json", RLIM_INFINITY, std::errc::no_such_file_or_directory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto write = [&c] {
            const auto limit = limitFileSize(c.fileSizeLimit);
            writeFileAtomically(c.path, std::string(100'000, 'x'));
        };
        EXPECT_THAT(write,
            ThrowsMessage<FileError>("Could not save the file \"" + c.path.string()
                + "\": " + std::make_error_code(c.reason).message() + "."));
        EXPECT_EQ(readFile(pathOf("settings.json")), old);
        EXPECT_TRUE(fs::is_directory(pathOf("folder") / "kept"));
        EXPECT_EQ(entryCount(), 2);
    }
}

TEST_F(AtomicFileTest, RemovesOnlyTheTemporaryFilesOfWritesToTheSameFile)
{
    const fs::path target = pathOf("settings.json");
    const std::vector<std::string> removed{
        ".settings.json.0.tmp", ".settings.json.9af.tmp", ".settings.json.ffffffffffffffff.tmp"};
    const std::vector<std::string> kept{".settings.json.1ffffffffffffffff.tmp",
        ".settings.json..tmp", ".settings.json.9AF.tmp", ".settings.json.9ag.tmp",
        ".settings.json.9af.tmp~", ".settings.json.9af", "settings.json.9af.tmp",
        ".other.json.9af.tmp", ".settings.json.json.9af.tmp"};
    for (const auto& names : {removed, kept}) {
        for (const std::string& name : names)
            writeFileAtomically(pathOf(name), "left");
    }
    // A save killed between creating its temporary file and renaming it.
    EXPECT_EXIT(writeUntilKilled(target), testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_EQ(entryCount(), 1 + static_cast<long>(removed.size() + kept.size()));
    fs::create_directory(pathOf(".settings.json.abc.tmp"));
    fs::create_symlink(pathOf(".other.json.9af.tmp"), pathOf(".settings.json.abd.tmp"));
    writeFileAtomically(target, "{}");
    removeAbandonedTemporaryFiles(target);
    for (const std::string& name : removed)
        EXPECT_FALSE(fs::exists(pathOf(name))) << name;
    EXPECT_EQ(entryCount(), 1 + 2 + static_cast<long>(kept.size()));
    EXPECT_TRUE(fs::is_directory(pathOf(".settings.json.abc.tmp")));
    EXPECT_TRUE(fs::is_symlink(pathOf(".settings.json.abd.tmp")));
}

TEST_F(AtomicFileTest, EveryNameTheFileSystemTakesIsWrittenAndItsAbandonedFilesCleanedUp)
{
    const std::string twoBytes = "\xC3\xA9"; // é: a cut must not split it
    struct Case {
        const char* name;
        std::string fileName;
        std::size_t pathLength = 0; // in deep folders when not 0
        LinkFollowing following = LinkFollowing::always;
    };
    const Case cases[] = {
        {"233 characters, the longest kept whole", std::string(233, 'a')},
        {"234 characters", std::string(234, 'b')},
        {"240 characters", std::string(236, 'c') + ".json"},
        {"255 characters", std::string(255, 'd')},
        {"255 bytes of two-byte characters and one",
            "e" +
                [&] {
                    std::string name;
                    for (int i = 0; i < 127; ++i)
                        name += twoBytes;
                    return name;
                }()},
        {"255 characters, no link followed", std::string(255, 'g'), 0, LinkFollowing::never},
        // The longest path the system takes: the temporary file's own would be too long.
        {"a path of PATH_MAX - 1 characters", "settings.json", PATH_MAX - 1},
        {"PATH_MAX - 1 characters, no link followed", "settings.json", PATH_MAX - 1,
            LinkFollowing::never},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target
            = c.pathLength == 0 ? pathOf(c.fileName) : deepPath(folder(), c.fileName, c.pathLength);
        const auto entriesBeside
            = [&target] { return std::distance(fs::directory_iterator(target.parent_path()), {}); };
        // A save killed before its rename leaves its temporary file for the next clean-up.
        EXPECT_EXIT(writeUntilKilled(target, c.following), testing::KilledBySignal(SIGXFSZ), "");
        ASSERT_EQ(entriesBeside(), 1);
        const std::string left
            = fs::directory_iterator(target.parent_path())->path().filename().string();
        EXPECT_EQ(left.starts_with("." + c.fileName + "."), c.fileName.size() <= 233) << left;
        write(target, "saved", c.following);
        write(target, "saved again", c.following);
        EXPECT_EQ(readFile(target), "saved again");
        removeAbandoned(target, c.following);
        EXPECT_EQ(entriesBeside(), 1) << "only the file itself is left";
        const std::string lockName = hiddenSibling(target, ".lock").filename().string();
        EXPECT_LE(lockName.size(), 255U);
        EXPECT_TRUE(lockName.starts_with(".")) << lockName;
        for (std::size_t i = 0; i + 1 < lockName.size(); ++i) {
            const bool isLead = (static_cast<unsigned char>(lockName[i]) & 0xC0) == 0xC0;
            const bool isContinued = (static_cast<unsigned char>(lockName[i + 1]) & 0xC0) == 0x80;
            EXPECT_TRUE(!isLead || isContinued) << "a character cut in two";
        }
        fs::remove(target);
    }
    // Names cut alike still differ, and a name that fits keeps its plain form.
    EXPECT_NE(hiddenSibling(pathOf(std::string(250, 'x') + "1"), ".lock"),
        hiddenSibling(pathOf(std::string(250, 'x') + "2"), ".lock"));
    EXPECT_EQ(hiddenSibling(pathOf("settings.json"), ".lock"), pathOf(".settings.json.lock"));
}

TEST_F(AtomicFileTest, KeepsTheTemporaryFileOfAWriteStillUnderWay)
{
    const fs::path target = pathOf("settings.json");
    writeFileAtomically(pathOf(".settings.json.abc.tmp"), "abandoned");
    writeFileAtomically(pathOf(".settings.json.abd.tmp"), "being written");
    // Another copy of the program in the middle of its write holds the lock of its new file.
    const int writer = ::open(pathOf(".settings.json.abd.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    removeAbandonedTemporaryFiles(target);
    EXPECT_FALSE(fs::exists(pathOf(".settings.json.abc.tmp")));
    EXPECT_TRUE(fs::exists(pathOf(".settings.json.abd.tmp")));
    ::close(writer); // as when that copy is killed
    removeAbandonedTemporaryFiles(target);
    EXPECT_EQ(entryCount(), 0);
}

TEST_F(AtomicFileTest, TheNextCleanUpRemovesTheTemporaryFileOfAWriterThatDied)
{
    const fs::path target = pathOf("settings.json");
    // Each name is random: several writers, so that any name the writes make is tried.
    for (int writer = 0; writer < 8; ++writer) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Killed by SIGXFSZ in the middle of writing its temporary file.
            const rlimit limit{.rlim_cur = 4, .rlim_max = RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_DFL);
            try {
                writeFileAtomically(target, std::string(64, 'x'));
            } catch (const FileError&) {
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was meant to die while writing";
    }
    ASSERT_EQ(entryCount(), 8);
    removeAbandonedTemporaryFiles(target);
    EXPECT_EQ(entryCount(), 0);
}

TEST_F(AtomicFileTest, TwoProcessesSavingTheSameFileNeverBreakEachOthersWrites)
{
    const fs::path target = pathOf("settings.json");
    const auto saveRepeatedly = [&target](const std::string& bytes) {
        for (int save = 0; save < 100; ++save) {
            writeFileAtomically(target, bytes);
            removeAbandonedTemporaryFiles(target);
        }
    };
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        try {
            saveRepeatedly("other");
        } catch (const FileError&) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    EXPECT_NO_THROW(saveRepeatedly("this"));
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process's save failed";
    EXPECT_EQ(entryCount(), 1);
}

TEST_F(AtomicFileTest, ReplacedFileKeepsItsModeWhateverTheUmask)
{
    const fs::path target = pathOf("settings.json");
    const ScopeExit restoreUmask{[previous = ::umask(022)] { ::umask(previous); }};
    // Only a privileged process may give a file away, or meet another user's.
    const bool mayChangeOwner = ::geteuid() == 0;
    const uid_t owner = mayChangeOwner ? 4321 : ::geteuid();
    const gid_t group = mayChangeOwner ? 4322 : ::getegid();
    for (const mode_t mode : {0600, 0640, 0444, 02755}) {
        SCOPED_TRACE(mode);
        writeFileAtomically(target, "old");
        fs::permissions(target, static_cast<fs::perms>(mode));
        writeFileAtomically(target, "new");
        EXPECT_EQ(readFile(target), "new");
        EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(mode));
        struct stat status { };
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, ::geteuid());
        EXPECT_EQ(entryCount(), 1);
    }
    // Another user's file is never written, nor given back: its user could change what root saves.
    if (mayChangeOwner) {
        ASSERT_EQ(::chown(target.c_str(), owner, group), 0);
        EXPECT_THAT([&] { writeFileAtomically(target, "newer"); },
            ThrowsMessage<UntrustedPathError>(
                "The file \"" + target.string() + "\" belongs to user 4321."));
        EXPECT_EQ(readFile(target), "new");
        EXPECT_EQ(entryCount(), 1);
    }
    // What replaces something other than a file (a FIFO, a link not followed) is a new file of its
    // writer's, whoever owns the folder.
    const fs::path theirs = pathOf("theirs");
    writeFileAtomically(theirs, "theirs");
    ASSERT_EQ(::chown(theirs.c_str(), owner, group), 0);
    fs::permissions(theirs, static_cast<fs::perms>(0600));
    for (const LinkFollowing following : {LinkFollowing::always, LinkFollowing::never}) {
        SCOPED_TRACE(following == LinkFollowing::always ? "a FIFO" : "a link");
        fs::remove(target);
        if (following == LinkFollowing::always) {
            ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
        } else {
            fs::create_symlink(theirs.filename(), target);
        }
        write(target, "new", following);
        EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0644));
        struct stat status { };
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, ::geteuid());
        EXPECT_EQ(status.st_gid, ::getegid());
    }
}

TEST_F(AtomicFileTest, SymbolicLinksAreWrittenThroughAndStayLinks)
{
    fs::create_directory(pathOf("dotfiles"));
    const fs::path stored = pathOf("dotfiles") / "settings.json";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, fs::path>> links; // name in the folder, where to
        bool targetExists;
    };
    const Case cases[] = {
        {"relative link", {{"settings.json", "dotfiles/settings.json"}}, true},
        {"absolute link", {{"settings.json", stored}}, true},
        {"dangling link", {{"settings.json", stored}}, false},
        {"chain of links", {{"settings.json", "middle.json"}, {"middle.json", stored}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(stored);
        if (c.targetExists)
            writeFileAtomically(stored, "old");
        for (const auto& [name, to] : c.links)
            fs::create_symlink(to, pathOf(name));
        writeFileAtomically(pathOf("settings.json"), "new");
        removeAbandonedTemporaryFiles(pathOf("settings.json"));
        EXPECT_EQ(readFile(stored), "new");
        for (const auto& [name, to] : c.links) {
            EXPECT_TRUE(fs::is_symlink(pathOf(name))) << name;
            fs::remove(pathOf(name));
        }
        EXPECT_EQ(entryCount(), 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(pathOf("dotfiles")), {}), 1);
    }
}

// A link put on the path of a file that another user may change (root saving a user's file) must
// lead no write elsewhere, nor remove anything there.
TEST_F(AtomicFileTest, WithoutFollowingLinksOneAtTheFilesNameIsReplacedAndOneForAFolderRefused)
{
    const fs::path elsewhere = pathOf("elsewhere");
    fs::create_directories(elsewhere / "r");
    const std::vector<fs::path> theirs{"settings.json", "r/settings.json", ".settings.json.a.tmp"};
    for (const fs::path& name : theirs)
        writeFileAtomically(elsewhere / name, "theirs");
    const fs::path file = pathOf("a") / "r" / "settings.json";
    const std::string loop
        = std::make_error_code(std::errc::too_many_symbolic_link_levels).message();
    struct Case {
        const char* name;
        fs::path replaced; // by a link to `to`, or by a file when `to` is empty
        fs::path to;
        std::string reason; // empty when the file is saved
    };
    const Case cases[] = {
        {"nothing in the way", "", "", ""},
        {"a link at the file's name", file, elsewhere / "settings.json", ""},
        {"a dangling link at the file's name", file, elsewhere / "new.json", ""},
        {"a link for its folder", file.parent_path(), elsewhere, loop},
        {"a relative link for a folder above", pathOf("a"), "elsewhere", loop},
        {"a file for its folder", file.parent_path(), "",
            std::make_error_code(std::errc::not_a_directory).message()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(pathOf("a"));
        std::ignore = folderWithoutLinks(file, FolderCreation::missing);
        if (!c.replaced.empty())
            fs::remove_all(c.replaced);
        if (!c.to.empty())
            fs::create_symlink(c.to, c.replaced);
        else if (!c.replaced.empty())
            writeFileAtomically(c.replaced, "");
        removeAbandoned(file, LinkFollowing::never); // removes nothing through it
        const auto failure = [&c](const fs::path& path) {
            return ThrowsMessage<FileError>(
                "Could not save the file \"" + path.string() + "\": " + c.reason + ".");
        };
        if (c.reason.empty()) {
            write(file, "new", LinkFollowing::never);
            EXPECT_EQ(readFile(file), "new");
            EXPECT_FALSE(fs::is_symlink(file));
        } else {
            EXPECT_THAT([&] { write(file, "new", LinkFollowing::never); }, failure(file));
            // Nor is a folder made through it.
            const fs::path below = file.parent_path() / "new" / "settings.json";
            EXPECT_THAT(
                [&below] { folderWithoutLinks(below, FolderCreation::missing); }, failure(below));
        }
        removeAbandoned(file, LinkFollowing::never);
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 3);
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere / "r"), {}), 1);
        for (const fs::path& name : theirs)
            EXPECT_EQ(readFile(elsewhere / name), "theirs") << name;
    }
}

TEST_F(AtomicFileTest, LinkLoopIsRefusedWithoutWriting)
{
    fs::create_symlink("b", pathOf("a"));
    fs::create_symlink("a", pathOf("b"));
    EXPECT_THAT([&] { writeFileAtomically(pathOf("a"), "{}"); },
        ThrowsMessage<FileError>("Could not save the file \"" + pathOf("a").string() + "\": "
            + std::make_error_code(std::errc::too_many_symbolic_link_levels).message() + "."));
    removeAbandonedTemporaryFiles(pathOf("a"));
    EXPECT_EQ(entryCount(), 2);
}

TEST_F(AtomicFileTest, AChainOfLinksIsFollowedAsFarAsTheKernelFollowsOne)
{
    for (const int links : {40, 41}) {
        SCOPED_TRACE(links);
        fs::path last = pathOf("file");
        for (int link = 1; link <= links; ++link) {
            const fs::path next = pathOf(std::to_string(links) + "-" + std::to_string(link));
            fs::create_symlink(last.filename(), next);
            last = next;
        }
        if (links == 40) {
            writeFileAtomically(last, "{}");
            EXPECT_EQ(readFile(pathOf("file")), "{}");
            EXPECT_TRUE(fs::is_symlink(last));
        } else {
            EXPECT_THROW(writeFileAtomically(last, "{}"), FileError);
        }
    }
}

TEST_F(AtomicFileTest, ReadsOnlyRegularFilesAndNeverMoreThanTheLimit)
{
    ASSERT_EQ(::mkfifo(pathOf("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", pathOf("zero"));
    fs::create_directory(pathOf("folder"));
    writeFileAtomically(pathOf("ten"), std::string(10, 'x'));
    writeFileAtomically(pathOf("chunk and one"), std::string(65537, 'x')); // a read's chunk, +1
    fs::create_symlink("ten", pathOf("link"));
    // A regular file whose reads fail: no memory is mapped where it starts.
    fs::create_symlink("/proc/self/mem", pathOf("memory"));
    const std::string notRegular = notARegularFile().message() + ".";
    const std::string tooLarge = std::make_error_code(std::errc::file_too_large).message() + ".";
    const std::string loop
        = std::make_error_code(std::errc::too_many_symbolic_link_levels).message() + ".";
    struct Case {
        const char* name;
        std::uintmax_t limit;
        std::string reason; // empty when the file is read
    };
    const Case cases[] = {
        {"fifo", 1000, notRegular},
        {"zero", 1000, notRegular},
        {"folder", 1000, notRegular},
        {"ten", 9, tooLarge},
        {"ten", 10, ""},
        {"link", 10, ""},
        {"ten", 0, tooLarge},
        {"chunk and one", 65536, tooLarge},
        {"missing", 10, std::make_error_code(std::errc::no_such_file_or_directory).message() + "."},
        {"memory", 1000, std::make_error_code(std::errc::io_error).message() + "."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.limit));
        const fs::path path = pathOf(c.name);
        const FileDescriptor inFolder = folderWithoutLinks(path, FolderCreation::none);
        // In a folder held open, a link is never followed, whatever it leads to.
        const std::string reasonInFolder = fs::is_symlink(path) ? loop : c.reason;
        for (const bool isInFolder : {false, true}) {
            const auto read = [&] {
                return isInFolder ? readFileIn(inFolder.get(), c.name, path, c.limit)
                                  : readFile(path, c.limit);
            };
            const std::string& reason = isInFolder ? reasonInFolder : c.reason;
            if (reason.empty())
                EXPECT_EQ(read(), std::string(10, 'x'));
            else
                EXPECT_THAT(read,
                    ThrowsMessage<FileError>(
                        "Could not read the file \"" + path.string() + "\": " + reason));
        }
    }
}
