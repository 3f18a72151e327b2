#include "Quorvane/LaunchOptions.h"

#include "Foundation/UUID.h"
#include "MacPlatform/LaunchEnvironment.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr std::string_view demoArgument = "--ui-demo";
constexpr std::string_view settingsPathArgument = "--settings-path";

std::optional<std::filesystem::path> absoluteFolder(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return std::nullopt;
    std::filesystem::path folder(*text);
    // A relative value would depend on where the application was started from.
    if (!folder.is_absolute())
        return std::nullopt;
    return folder;
}

/// The argument after the first "--settings-path"; absent when the option is missing or last.
std::optional<std::filesystem::path> settingsPathOption(const std::vector<std::string>& arguments)
{
    const auto option = std::ranges::find(arguments, settingsPathArgument);
    if (option == arguments.end() || std::next(option) == arguments.end())
        return std::nullopt;
    return std::filesystem::path(*std::next(option));
}

} // namespace

std::vector<std::string> checkedArguments(const std::vector<std::string>& arguments)
{
    bool isDemo = false;
    std::optional<std::string> settingsPath;
    const std::string settingsPathWithValue = std::string(settingsPathArgument) + "=";
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == demoArgument) {
            isDemo = true;
            continue;
        }
        std::string value;
        if (argument.starts_with(settingsPathWithValue)) {
            value = argument.substr(settingsPathWithValue.size());
        } else if (argument == settingsPathArgument) {
            // What follows is the file unless it is an option: "--settings-path --ui-demo" lacks
            // its file. A file whose name starts with "-" goes after "=".
            if (index + 1 == arguments.size() || arguments[index + 1].starts_with('-'))
                throw UsageError("The option --settings-path needs a file: --settings-path FILE.");
            value = arguments[++index];
        } else if (argument.starts_with('-')) {
            throw UsageError("QuorVane has no option \"" + argument + "\".");
        } else {
            throw UsageError("QuorVane takes no argument \"" + argument + "\".");
        }
        if (value.empty())
            throw UsageError("The option --settings-path names no file.");
        if (settingsPath)
            throw UsageError("The option --settings-path is given twice.");
        settingsPath = std::move(value);
    }
    std::vector<std::string> checked{arguments.empty() ? std::string() : arguments.front()};
    if (isDemo)
        checked.emplace_back(demoArgument);
    if (settingsPath)
        checked.insert(checked.end(), {std::string(settingsPathArgument), *settingsPath});
    return checked;
}

bool launchesDemo(
    const std::vector<std::string>& arguments, const std::optional<std::string>& bundleIdentifier)
{
    if (std::ranges::find(arguments, demoArgument) != arguments.end())
        return true;
    return bundleIdentifier == previewBundleIdentifier;
}

std::filesystem::path settingsLocation(const std::optional<std::filesystem::path>& given,
    const std::vector<std::string>& arguments, bool isDemo, LaunchEnvironment& environment)
{
    if (std::optional<std::filesystem::path> lasting
        = lastingSettingsLocation(given, arguments, isDemo, environment))
        return *lasting;
    const std::string folder = "Quorvane-demo-" + UUID::random().uuidString();
    return environment.temporaryDirectory() / folder / "settings.json";
}

std::optional<std::filesystem::path> lastingSettingsLocation(
    const std::optional<std::filesystem::path>& given, const std::vector<std::string>& arguments,
    bool isDemo, LaunchEnvironment& environment)
{
    if (given)
        return *given;
    if (std::optional<std::filesystem::path> option = settingsPathOption(arguments))
        return *option;
    if (isDemo)
        return std::nullopt;
    return environment.applicationSupportDirectory() / "Quorvane" / "settings.json";
}

std::optional<std::filesystem::path> userConfigurationFolder(const EnvironmentLookup& variable)
{
    if (const auto configurationHome = absoluteFolder(variable("XDG_CONFIG_HOME")))
        return configurationHome;
    if (const auto home = absoluteFolder(variable("HOME")))
        return *home / ".config";
    return std::nullopt;
}

std::optional<std::string> missingSettingsFolderMessage(
    const std::vector<std::string>& arguments, const EnvironmentLookup& variable)
{
    if (settingsPathOption(arguments) || launchesDemo(arguments, std::nullopt)
        || userConfigurationFolder(variable))
        return std::nullopt;
    return "QuorVane cannot tell where to keep its settings: set HOME or XDG_CONFIG_HOME, or name "
           "the file with --settings-path.";
}

bool choosesDisplayWithQtOptions(const std::vector<std::string>& arguments)
{
    for (std::size_t index = 1; index + 1 < arguments.size(); ++index) {
        std::string_view option = arguments[index];
        if (option.starts_with("--"))
            option.remove_prefix(1);
        if (option == "-platform" || option == "-display")
            return true;
    }
    return false;
}

} // namespace quorvane
