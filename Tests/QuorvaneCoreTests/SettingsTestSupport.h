// Throw-away folders for the settings store's files, shared by the store's tests and the
// conformance runner, with the runner of its tasks.
#pragma once

#include "TestSupport/RunToEnd.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quorvane {

/// A new empty folder in the system's temporary folder, removed with all it holds on
/// destruction.
class TemporaryFolder final {
public:
    TemporaryFolder()
        : m_path((std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string())
    {
        if (!::mkdtemp(m_path.data()))
            throw std::runtime_error("Could not create a temporary folder.");
    }
    ~TemporaryFolder()
    {
        std::error_code ignored; // Leftovers in the temporary folder harm nobody.
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    [[nodiscard]] std::filesystem::path path() const { return m_path; }

private:
    std::string m_path; // mkdtemp() fills in its pattern
};

} // namespace quorvane
