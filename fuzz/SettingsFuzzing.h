// What the settings fuzz targets share: loading bytes as the settings file through the store,
// and stopping the run with a message when a property does not hold.
#pragma once

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/Format.h"
#include "Foundation/JSON.h"
#include "Foundation/Text.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include <unistd.h>

namespace quorvane::fuzzing {

/// Reports `property` as broken and aborts, which libFuzzer records as a crash with its input.
inline void require(bool holds, std::string_view property)
{
    if (holds)
        return;
    std::fprintf(stderr, "Broken: %.*s\n", static_cast<int>(property.size()), property.data());
    std::abort();
}

/// How a task ended: its value (true for Task<void>), or the text of the Error it threw.
template <typename T> struct Ending {
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::optional<std::string> error;
};

// A named coroutine, not a capturing lambda, as everywhere. Only Error is an expected failure:
// anything else thrown is a fault in the code, and aborts.
template <typename T> Task<void> recordEnding(Task<T> task, Ending<T>& ending)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            ending.value = true;
        } else {
            ending.value.emplace(co_await std::move(task));
        }
    } catch (const Error& error) {
        ending.error = error.what();
    } catch (const std::exception& error) {
        require(false, std::string("only Error escapes, not: ") + error.what());
    }
}

template <typename T> Ending<T> runToEnd(Task<T> task)
{
    ManualExecutor executor;
    Ending<T> ending;
    spawn(executor, recordEnding(std::move(task), ending));
    executor.runUntilIdle();
    require(ending.value || ending.error, "the task ended");
    return ending;
}

/// A folder of this process's own, in memory where the system has one so that the store's
/// syncs cost nothing; removed at exit.
inline const std::filesystem::path& scratchFolder()
{
    // Removed by its own destructor: a handler registered with std::atexit while the folder is
    // made would run after that destructor, and find no path left to remove.
    struct Folder {
        std::filesystem::path path;
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder{[] {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        // Named after the process, so that its run can tell that it is gone.
        std::string pattern
            = (base / ("quorvane-fuzz-" + formatInteger(::getpid()) + "-XXXXXX")).string();
        require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
        return std::filesystem::path(pattern);
    }()};
    return folder.path;
}

/// Loads `bytes` as the settings file. A file that loads is left as it was or rewritten with
/// what was loaded. One that does not load is left byte for byte as it was, the store locked
/// and the error's text short and valid UTF-8.
inline std::optional<Configuration> loadSettings(std::string_view bytes)
{
    const std::filesystem::path path = scratchFolder() / "settings.json";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    SettingsStore store(path);
    Ending<Configuration> loaded = runToEnd(store.load());
    if (loaded.value) {
        const std::string file = readFile(path);
        require(file == bytes || file == serializeJSON(encodeConfiguration(*loaded.value)),
            "a file that loads is left as it was or holds what was loaded");
        return std::move(loaded.value);
    }
    // A settings document nests a handful of levels, each named by at most 40 characters.
    require(loaded.error->size() <= 4096, "an error text is short");
    require(isValidUTF8(*loaded.error), "an error text is UTF-8");
    require(readFile(path) == bytes, "a file that does not load is left as it was");
    require(
        runToEnd(store.save(Configuration())).error.has_value(), "a failed load locks the store");
    return std::nullopt;
}

} // namespace quorvane::fuzzing
