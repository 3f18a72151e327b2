#include "Foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace quorvane;
namespace fs = std::filesystem;

namespace {

/// A new empty folder, removed with its contents at the end of the test.
class TemporaryFolder final {
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
        const char* created = ::mkdtemp(pattern.data());
        EXPECT_NE(created, nullptr) << "mkdtemp failed";
        m_path = pattern;
    }
    ~TemporaryFolder() { fs::remove_all(m_path); }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    [[nodiscard]] const fs::path& path() const noexcept { return m_path; }

    [[nodiscard]] std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_path))
            names.push_back(entry.path().filename().string());
        std::ranges::sort(names);
        return names;
    }

private:
    fs::path m_path;
};

class ScopedUmask final {
public:
    explicit ScopedUmask(mode_t mask)
        : m_previous(::umask(mask))
    {
    }
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_previous;
};

/// Makes writes past `bytes` fail with EFBIG (even for root), instead of raising SIGXFSZ.
class ScopedFileSizeLimit final {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previousLimit);
        m_previousHandler = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{.rlim_cur = bytes, .rlim_max = m_previousLimit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previousLimit);
        ::signal(SIGXFSZ, m_previousHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit m_previousLimit{};
    sighandler_t m_previousHandler;
};

mode_t permissionsOf(const fs::path& path)
{
    struct stat status { };
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

} // namespace

TEST(AtomicFileTest, ReplacesTheWholeFileAndLeavesNothingElse)
{
    const TemporaryFolder folder;
    const fs::path target = folder.path() / "settings.json";
    std::string large(1'000'000, 'x');
    large[10] = '\0';

    writeFileAtomically(target, large);
    EXPECT_EQ(readFile(target), large);
    writeFileAtomically(target, "{}");
    EXPECT_EQ(readFile(target), "{}");
    writeFileAtomically(target, "");
    EXPECT_EQ(readFile(target), "");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});
}

TEST(AtomicFileTest, GivesTheModeOfAnOrdinaryNewFile)
{
    struct Case {
        mode_t umask;
        mode_t permissions;
    };
    const Case cases[] = {{022, 0644}, {077, 0600}, {002, 0664}, {0, 0666}};
    const TemporaryFolder folder;
    const fs::path target = folder.path() / "settings.json";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.umask);
        const ScopedUmask umask(c.umask);
        writeFileAtomically(target, "{}");
        EXPECT_EQ(permissionsOf(target), c.permissions);
    }
}

TEST(AtomicFileTest, FailureKeepsTheOldFileAndRemovesTheTemporaryOne)
{
    const TemporaryFolder folder;
    const fs::path target = folder.path() / "settings.json";
    const std::string old = "{\"schemaVersion\": 5}";
    writeFileAtomically(target, old);

    try {
        const ScopedFileSizeLimit limit(old.size() + 10);
        writeFileAtomically(target, std::string(100'000, 'x'));
        ADD_FAILURE() << "wrote past the file size limit";
    } catch (const FileError& error) {
        EXPECT_EQ(error.reason(), std::errc::file_too_large);
        EXPECT_EQ(error.what(),
            "Could not save the file \"" + target.string() + "\": " + error.reason().message()
                + ".");
    }
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});
}

TEST(AtomicFileTest, ReportsThePathAndTheSystemsReason)
{
    const TemporaryFolder folder;
    fs::create_directory(folder.path() / "settings.json");
    fs::create_directory(folder.path() / "settings.json" / "kept");
    struct Case {
        fs::path path;
        std::errc reason;
    };
    const Case cases[] = {
        {folder.path() / "settings.json", std::errc::is_a_directory},
        {folder.path() / "missing" / "settings.json", std::errc::no_such_file_or_directory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            writeFileAtomically(c.path, "{}");
            ADD_FAILURE() << "wrote without an error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.reason(), c.reason);
            EXPECT_EQ(error.path(), c.path);
            EXPECT_EQ(error.what(),
                "Could not save the file \"" + c.path.string() + "\": " + error.reason().message()
                    + ".");
        }
        try {
            (void)readFile(c.path);
            ADD_FAILURE() << "read without an error";
        } catch (const FileError& error) {
            EXPECT_EQ(error.reason(), c.reason);
            EXPECT_EQ(error.what(),
                "Could not read the file \"" + c.path.string() + "\": " + error.reason().message()
                    + ".");
        }
    }
    EXPECT_TRUE(fs::is_directory(folder.path() / "settings.json" / "kept"));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.json"});
}
