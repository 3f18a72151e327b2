// The conformance runner: finds the case folders and runs every case in them as a test of its
// own, named after its kind and its file or folder.
#include "Conformance/ConformanceCases.h"
#include "TestSupport/TestRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

/// One folder of cases under the cases folder: one case per file with `extension`, or per
/// folder when the extension is empty.
struct CaseKind {
    const char* folder;
    const char* extension;
    void (*run)(const std::filesystem::path&);
};

constexpr CaseKind caseKinds[] = {
    {"settings", "", runSettingsCase},
    {"resolver", ".json", runResolverCase},
    {"ddc", ".json", runDDCCase},
};

class CaseTest final : public testing::Test {
public:
    explicit CaseTest(std::function<void()> body)
        : m_body(std::move(body))
    {
    }
    void TestBody() override { m_body(); }

private:
    std::function<void()> m_body;
};

// GoogleTest owns and deletes the test objects its factories return.
void registerTest(const char* suite, const std::string& name, std::function<void()> body)
{
    testing::RegisterTest(suite, name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
        [body]() -> testing::Test* { return new CaseTest(body); });
}

/// Every case under `root`, kind by kind and in name order within a kind; a kind whose folder
/// does not exist has none. Returns how many there are.
std::size_t registerCases(const std::filesystem::path& root)
{
    std::size_t count = 0;
    for (const CaseKind& kind : caseKinds) {
        std::vector<std::filesystem::path> cases;
        if (std::filesystem::is_directory(root / kind.folder)) {
            for (const auto& entry : std::filesystem::directory_iterator(root / kind.folder)) {
                if (*kind.extension
                        ? entry.is_regular_file() && entry.path().extension() == kind.extension
                        : entry.is_directory())
                    cases.push_back(entry.path());
            }
        }
        std::ranges::sort(cases);
        for (const std::filesystem::path& path : cases) {
            registerTest(kind.folder, path.filename().string(), [run = kind.run, path] {
                SCOPED_TRACE("case " + path.string());
                try {
                    run(path);
                } catch (const std::exception& error) {
                    FAIL() << path.string() << ": " << error.what();
                }
            });
        }
        count += cases.size();
    }
    std::cout << "Running " << count << " conformance cases from " << root.string() << '\n';
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* const named = std::getenv("QUORVANE_CONFORMANCE_DIR");
    const bool isNamed = named && *named;
    const std::filesystem::path root = isNamed ? named : QUORVANE_DEFAULT_CONFORMANCE_DIR;
    std::size_t caseCount = 0;
    if (std::filesystem::is_directory(root)) {
        caseCount = registerCases(root);
    } else if (isNamed) {
        const std::string note
            = "QUORVANE_CONFORMANCE_DIR names \"" + root.string() + "\", which is not a folder.";
        registerTest("conformance", "cases", [note] { FAIL() << note; });
    } else {
        // A clone without the shared folder beside it has no cases to run; that is no fault.
        const std::string note = "No conformance cases were run: " + root.string()
            + " does not exist. Set QUORVANE_CONFORMANCE_DIR to a folder of cases.";
        std::cout << note << '\n';
        registerTest("conformance", "cases", [note] { GTEST_SKIP() << note; });
    }
    const int result = runAllTests();
    // The runner's own tests aside, a run without cases tested nothing.
    if (result == 0 && caseCount == 0)
        return skippedRunExitCode;
    return result;
}
