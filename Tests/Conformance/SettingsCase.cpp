#include "Conformance/SettingsCase.h"

#include "Conformance/JSONExpectation.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {
namespace {

/// What expect.json asks for; unknown keys (such as "why") are ignored.
struct SettingsExpectation {
    bool loads;
    std::optional<std::string> message;
    /// "unchanged", "rewritten" or "absent".
    std::string file;
    std::optional<nlohmann::json> configuration;
    /// "ok" or "readOnly".
    std::optional<std::string> saveAfterLoad;
};

std::string oneOf(const JSONValue& value, std::initializer_list<std::string_view> choices)
{
    std::string text = decodeString(value);
    for (const std::string_view choice : choices) {
        if (text == choice)
            return text;
    }
    throw value.dataCorrupted("\"" + text + "\" is not a known expectation.");
}

SettingsExpectation readExpectation(const std::filesystem::path& file)
{
    const nlohmann::json document = parseJSON(readFile(file));
    const JSONObject object = JSONValue(document).object();
    const auto configuration = document.find("configuration");
    return {
        .loads = object.required("load",
            [](const JSONValue& value) {
                return oneOf(value, {"ok", "error"}) == "ok";
            }),
        .message = object.optional("message", decodeString),
        .file = object.required("file",
            [](const JSONValue& value) {
                return oneOf(value, {"unchanged", "rewritten", "absent"});
            }),
        .configuration = configuration != document.end() && !configuration->is_null()
            ? std::optional<nlohmann::json>(*configuration)
            : std::nullopt,
        .saveAfterLoad = object.optional("saveAfterLoad",
            [](const JSONValue& value) {
                return oneOf(value, {"ok", "readOnly"});
            }),
    };
}

std::optional<std::string> bytesIfPresent(const std::filesystem::path& file)
{
    if (!std::filesystem::exists(file))
        return std::nullopt;
    return readFile(file);
}

/// The loaded document, or the error's text.
using LoadOutcome = std::variant<Configuration, std::string>;

LoadOutcome loadOutcome(SettingsStore& store)
{
    try {
        return runToEnd(store.load());
    } catch (const Error& error) {
        return std::string(error.what());
    }
}

void checkLoad(const SettingsExpectation& expect, const LoadOutcome& outcome)
{
    const std::string* const failure = std::get_if<std::string>(&outcome);
    if (expect.loads && failure)
        ADD_FAILURE() << "load: expected ok, but it failed with: " << *failure;
    if (!expect.loads && !failure)
        ADD_FAILURE() << "load: expected an error, but it succeeded";
    if (failure && expect.message && *failure != *expect.message)
        ADD_FAILURE() << "message: expected \"" << *expect.message << "\" but found \"" << *failure
                      << "\"";
}

void checkConfiguration(
    const SettingsExpectation& expect, const LoadOutcome& outcome, JSONExpectation& expectation)
{
    const Configuration* const loaded = std::get_if<Configuration>(&outcome);
    if (!expect.configuration || !loaded)
        return;
    if (const auto difference
        = expectation.difference(*expect.configuration, encodeConfiguration(*loaded)))
        ADD_FAILURE() << "configuration: " << *difference;
}

void checkRewrittenFile(const SettingsExpectation& expect, const std::optional<std::string>& input,
    const std::string& bytes, JSONExpectation& expectation)
{
    if (bytes == input) {
        ADD_FAILURE() << "file: expected rewritten, but it is unchanged";
        return;
    }
    const nlohmann::json document = parseJSON(bytes);
    if (expect.configuration) {
        if (const auto difference = expectation.difference(*expect.configuration, document))
            ADD_FAILURE() << "file: the rewritten file " << *difference;
        return;
    }
    const JSONValue root(document);
    if (root.object().required("schemaVersion", decodeInteger) != 5)
        ADD_FAILURE() << "file: the rewritten file is not a version-5 document";
}

void checkFile(const SettingsExpectation& expect, const std::optional<std::string>& input,
    const std::filesystem::path& settingsFile, JSONExpectation& expectation)
{
    const std::optional<std::string> bytes = bytesIfPresent(settingsFile);
    if (expect.file == "absent" || (expect.file == "unchanged" && !input)) {
        if (bytes)
            ADD_FAILURE() << "file: expected " << expect.file << ", but a file was written";
        return;
    }
    if (!bytes) {
        ADD_FAILURE() << "file: expected " << expect.file << ", but there is no file";
        return;
    }
    if (expect.file == "unchanged" && *bytes != *input)
        ADD_FAILURE() << "file: expected unchanged, but its bytes changed";
    if (expect.file == "rewritten")
        checkRewrittenFile(expect, input, *bytes, expectation);
}

/// "ok", "readOnly" or the text of another error.
std::string saveOutcome(SettingsStore& store, Configuration configuration)
{
    try {
        runToEnd(store.save(std::move(configuration)));
        return "ok";
    } catch (const ConfigurationError& error) {
        if (std::holds_alternative<ConfigurationError::ReadOnly>(error.errorCase()))
            return "readOnly";
        return error.what();
    } catch (const Error& error) {
        return error.what();
    }
}

void checkSaveAfterLoad(const SettingsExpectation& expect, SettingsStore& store,
    const LoadOutcome& outcome, const std::filesystem::path& settingsFile)
{
    if (!expect.saveAfterLoad)
        return;
    const Configuration* const loaded = std::get_if<Configuration>(&outcome);
    const std::optional<std::string> before = bytesIfPresent(settingsFile);
    const std::string saved = saveOutcome(store, loaded ? *loaded : Configuration());
    if (saved != *expect.saveAfterLoad)
        ADD_FAILURE() << "saveAfterLoad: expected " << *expect.saveAfterLoad << " but found "
                      << saved;
    if (saved != "ok" && bytesIfPresent(settingsFile) != before)
        ADD_FAILURE() << "saveAfterLoad: a refused save changed the file";
}

} // namespace

void runSettingsCase(const std::filesystem::path& caseFolder)
{
    SettingsExpectation expect;
    try {
        expect = readExpectation(caseFolder / "expect.json");
    } catch (const Error& error) {
        FAIL() << "expect.json cannot be used: " << error.what();
    }
    const std::optional<std::string> input = bytesIfPresent(caseFolder / "input.json");

    const TemporaryFolder folder;
    const std::filesystem::path settingsFile = folder.path() / "settings.json";
    if (input)
        writeFileAtomically(settingsFile, *input);

    SettingsStore store(settingsFile);
    const LoadOutcome outcome = loadOutcome(store);
    // One expectation for the loaded document and the rewritten file, so that each "<uuid:LABEL>"
    // stands for the same identifier in both.
    JSONExpectation expectation;
    checkLoad(expect, outcome);
    checkConfiguration(expect, outcome, expectation);
    checkFile(expect, input, settingsFile, expectation);
    checkSaveAfterLoad(expect, store, outcome, settingsFile);
}

} // namespace quorvane
