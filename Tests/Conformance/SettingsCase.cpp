// One settings/NAME/ case: a settings file's bytes, what load() makes of them, what becomes of
// the file, and whether the store saves afterwards.
#include "Conformance/ConformanceCases.h"

#include "Conformance/JSONExpectation.h"
#include "Foundation/AtomicFile.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <variant>

namespace quorvane {
namespace {

/// The loaded document, or the error's text.
using LoadOutcome = std::variant<Configuration, std::string>;

std::optional<std::string> bytesIfPresent(const std::filesystem::path& file)
{
    if (!std::filesystem::exists(file))
        return std::nullopt;
    return readFile(file);
}

LoadOutcome loadOutcome(SettingsStore& store)
{
    TaskOutcome<Configuration> outcome = outcomeOf(store.load());
    if (outcome.value)
        return std::move(*outcome.value);
    return outcome.summary();
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

void checkLoad(const JSONObject& expect, const LoadOutcome& outcome)
{
    const std::string* const failure = std::get_if<std::string>(&outcome);
    const std::optional<std::string> load = expect.optional("load", decodeString);
    if (load && *load != (failure ? "error" : "ok"))
        ADD_FAILURE() << "load: expected " << *load << " but "
                      << (failure ? "it failed with: " + *failure : std::string("it succeeded"));
    const std::optional<std::string> message = expect.optional("message", decodeString);
    if (message && failure && *failure != *message)
        ADD_FAILURE() << "message: expected \"" << *message << "\" but found \"" << *failure
                      << "\"";
}

/// Compares the settings file after load() with `expected` ("unchanged", "rewritten" or
/// "absent"); a rewritten file must also hold `configuration` (when not null) or at least be
/// a version-5 document.
void checkFile(const std::string& expected, const std::optional<std::string>& input,
    const std::optional<std::string>& bytes, const nlohmann::json& configuration,
    JSONExpectation& expectation)
{
    const std::string found = !bytes ? "absent" : bytes == input ? "unchanged" : "rewritten";
    // No file before and none after: the file is unchanged as well as absent.
    if (expected != found && !(expected == "unchanged" && !input && !bytes))
        ADD_FAILURE() << "file: expected " << expected << " but it is " << found;
    if (expected != "rewritten" || found != "rewritten")
        return;
    const nlohmann::json written = parseJSON(*bytes);
    if (configuration.is_null()) {
        if (!written.is_object() || written.value("schemaVersion", nlohmann::json()) != 5)
            ADD_FAILURE() << "file: the rewritten file is not a version-5 document";
    } else if (const auto difference = expectation.difference(configuration, written)) {
        ADD_FAILURE() << "file: the rewritten file, " << *difference;
    }
}

void checkSaveAfterLoad(const std::string& expected, SettingsStore& store,
    const LoadOutcome& outcome, const std::filesystem::path& settingsFile)
{
    const Configuration* const loaded = std::get_if<Configuration>(&outcome);
    const std::optional<std::string> before = bytesIfPresent(settingsFile);
    const std::string saved = saveOutcome(store, loaded ? *loaded : Configuration());
    if (saved != expected)
        ADD_FAILURE() << "saveAfterLoad: expected " << expected << " but found " << saved;
    if (saved != "ok" && bytesIfPresent(settingsFile) != before)
        ADD_FAILURE() << "saveAfterLoad: a refused save changed the file";
}

} // namespace

void runSettingsCase(const std::filesystem::path& caseFolder)
{
    const nlohmann::json document = parseJSON(readFile(caseFolder / "expect.json"));
    const JSONObject expect = JSONValue(document).object();
    const nlohmann::json configuration = document.value("configuration", nlohmann::json());
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
    const Configuration* const loaded = std::get_if<Configuration>(&outcome);
    if (loaded && !configuration.is_null()) {
        if (const auto difference
            = expectation.difference(configuration, encodeConfiguration(*loaded)))
            ADD_FAILURE() << "configuration: " << *difference;
    }
    if (const auto file = expect.optional("file", decodeString))
        checkFile(*file, input, bytesIfPresent(settingsFile), configuration, expectation);
    if (const auto saveAfterLoad = expect.optional("saveAfterLoad", decodeString))
        checkSaveAfterLoad(*saveAfterLoad, store, outcome, settingsFile);
}

} // namespace quorvane
