// The conformance runner: finds the case folders and runs every case in them as a test of its
// own, named after its kind and its file or folder.
#include "Conformance/ConformanceCases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvane;

namespace {

/// One folder of cases under the cases folder: one case per file with `extension`, or per
/// folder when the extension is empty.
struct CaseKind {
    std::string_view folder;
    std::string_view extension;
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
void registerTest(std::string_view suite, const std::string& name, std::function<void()> body)
{
    testing::RegisterTest(std::string(suite).c_str(), name.c_str(), nullptr, nullptr, __FILE__,
        __LINE__, [body]() -> testing::Test* { return new CaseTest(body); });
}

/// The cases of `kind` under `root`, in name order; none when its folder does not exist.
std::vector<std::filesystem::path> casesOf(const CaseKind& kind, const std::filesystem::path& root)
{
    std::vector<std::filesystem::path> cases;
    if (!std::filesystem::is_directory(root / kind.folder))
        return cases;
    for (const auto& entry : std::filesystem::directory_iterator(root / kind.folder)) {
        if (kind.extension.empty()
                ? entry.is_directory()
                : entry.is_regular_file() && entry.path().extension() == kind.extension)
            cases.push_back(entry.path());
    }
    std::ranges::sort(cases);
    return cases;
}

void registerCases(const std::filesystem::path& root)
{
    std::size_t count = 0;
    for (const CaseKind& kind : caseKinds) {
        for (const std::filesystem::path& path : casesOf(kind, root)) {
            registerTest(kind.folder, path.filename().string(), [run = kind.run, path] {
                SCOPED_TRACE("case " + path.string());
                try {
                    run(path);
                } catch (const std::exception& error) {
                    FAIL() << path.string() << ": " << error.what();
                }
            });
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
    const bool isNamed = named && *named;
    const std::filesystem::path root = isNamed ? named : QUORVANE_DEFAULT_CONFORMANCE_DIR;
    if (std::filesystem::is_directory(root)) {
        registerCases(root);
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
    return RUN_ALL_TESTS();
}
