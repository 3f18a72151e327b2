// The conformance runner: finds the case folders and runs every case in them as a test of its
// own, named after its kind and its file or folder.
#include "Conformance/DDCCase.h"
#include "Conformance/ResolverCase.h"
#include "Conformance/SettingsCase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvane;

namespace {

using RunCase = void (*)(const std::filesystem::path&);

enum class CaseLayout {
    folderPerCase,
    jsonFilePerCase,
};

/// One folder of cases under the cases folder.
struct CaseKind {
    std::string_view folder;
    CaseLayout layout;
    RunCase run;
};

/// Every kind of case this runner knows. Another kind is one more entry and its run function;
/// folders of kinds not listed here are not walked.
constexpr CaseKind caseKinds[] = {
    {"settings", CaseLayout::folderPerCase, runSettingsCase},
    {"resolver", CaseLayout::jsonFilePerCase, runResolverCase},
    {"ddc", CaseLayout::jsonFilePerCase, runDDCCase},
};

class CaseTest final : public testing::Test {
public:
    CaseTest(RunCase run, std::filesystem::path path)
        : m_run(run)
        , m_path(std::move(path))
    {
    }

    void TestBody() override
    {
        SCOPED_TRACE("case " + m_path.string());
        m_run(m_path);
    }

private:
    RunCase m_run;
    std::filesystem::path m_path;
};

/// Stands in for the cases when there are none to run, and says why.
class NoCasesTest final : public testing::Test {
public:
    enum class Outcome {
        skipped,
        failed,
    };

    NoCasesTest(std::string note, Outcome outcome)
        : m_note(std::move(note))
        , m_outcome(outcome)
    {
    }

    void TestBody() override
    {
        if (m_outcome == Outcome::failed)
            FAIL() << m_note;
        GTEST_SKIP() << m_note;
    }

private:
    std::string m_note;
    Outcome m_outcome;
};

bool isCase(const std::filesystem::directory_entry& entry, CaseLayout layout)
{
    if (layout == CaseLayout::folderPerCase)
        return entry.is_directory();
    return entry.is_regular_file() && entry.path().extension() == ".json";
}

/// The cases of `kind` in name order; none when its folder does not exist.
std::vector<std::filesystem::path> casesOf(const CaseKind& kind, const std::filesystem::path& root)
{
    const std::filesystem::path folder = root / kind.folder;
    std::vector<std::filesystem::path> cases;
    if (!std::filesystem::is_directory(folder))
        return cases;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (isCase(entry, kind.layout))
            cases.push_back(entry.path());
    }
    std::ranges::sort(cases);
    return cases;
}

// GoogleTest owns and deletes the test objects its factories return.
void registerCase(const CaseKind& kind, const std::filesystem::path& path)
{
    const RunCase run = kind.run;
    testing::RegisterTest(std::string(kind.folder).c_str(), path.filename().string().c_str(),
        nullptr, nullptr, __FILE__, __LINE__,
        [run, path]() -> testing::Test* { return new CaseTest(run, path); });
}

void registerNoCases(std::string note, NoCasesTest::Outcome outcome)
{
    std::cout << note << '\n';
    testing::RegisterTest("conformance", "cases", nullptr, nullptr, __FILE__, __LINE__,
        [note, outcome]() -> testing::Test* { return new NoCasesTest(note, outcome); });
}

void registerCases(const std::filesystem::path& root)
{
    std::size_t count = 0;
    for (const CaseKind& kind : caseKinds) {
        for (const std::filesystem::path& path : casesOf(kind, root)) {
            registerCase(kind, path);
            ++count;
        }
    }
    std::cout << "Running " << count << " conformance cases from " << root.string() << '\n';
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* const named = std::getenv("QUORVANE_CONFORMANCE_DIR");
    if (named && *named) {
        if (std::filesystem::is_directory(named))
            registerCases(named);
        else
            registerNoCases("QUORVANE_CONFORMANCE_DIR names \"" + std::string(named)
                    + "\", which is not a folder.",
                NoCasesTest::Outcome::failed);
    } else if (std::filesystem::is_directory(QUORVANE_DEFAULT_CONFORMANCE_DIR)) {
        registerCases(QUORVANE_DEFAULT_CONFORMANCE_DIR);
    } else {
        // A clone without the shared folder beside it has no cases to run; that is no fault.
        registerNoCases("No conformance cases were run: " QUORVANE_DEFAULT_CONFORMANCE_DIR
                        " does not exist. Set QUORVANE_CONFORMANCE_DIR to a folder of cases.",
            NoCasesTest::Outcome::skipped);
    }
    return RUN_ALL_TESTS();
}
