#include "Quorvane/LaunchOptions.h"

#include "Foundation/Text.h"
#include "Foundation/UUID.h"
#include "MacPlatform/LaunchEnvironment.h"

#include <algorithm>
#include <span>

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

/// How one of Qt's options takes its value.
enum class QtValue {
    none,
    /// The next argument; as the last argument the option goes all the same.
    next,
    /// The next argument; as the last argument the option stays.
    nextWhenThere,
    /// As nextWhenThere, or after "=" in the same argument.
    nextOrAttached,
};

struct QtOption {
    std::string_view name;
    QtValue value;
};

// Qt's options in the passes Qt takes them out, each pass over what the ones before left: the
// platform's in QGuiApplication, the xcb plugin's, QCoreApplication's, QGuiApplication's and
// QApplication's. A value may look like an option, so the order shows in "-plugin -platform X".
constexpr QtOption platformOptions[]
    = {{"-platformpluginpath", QtValue::next}, {"-platform", QtValue::next},
        {"-platformtheme", QtValue::next}, {"-qwindowgeometry", QtValue::next},
        {"-qwindowtitle", QtValue::next}, {"-qwindowicon", QtValue::next}};
// In the platform's pass, but only while the platform chosen so far starts with "xcb".
constexpr QtOption x11PlatformOptions[]
    = {{"-geometry", QtValue::next}, {"-title", QtValue::next}, {"-icon", QtValue::next}};
constexpr QtOption xcbPluginOptions[] = {{"-display", QtValue::nextWhenThere},
    {"-name", QtValue::nextWhenThere}, {"-visual", QtValue::nextWhenThere},
    {"-nograb", QtValue::none}, {"-dograb", QtValue::none}};
constexpr QtOption coreOptions[] = {{"-qmljsdebugger", QtValue::nextOrAttached}};
constexpr QtOption guiOptions[] = {{"-plugin", QtValue::next}, {"-reverse", QtValue::none},
    {"-session", QtValue::nextWhenThere}, {"-testability", QtValue::none},
    {"-style", QtValue::nextOrAttached}};
constexpr QtOption widgetsOptions[] = {{"-qdevel", QtValue::none}, {"-qdebug", QtValue::none},
    {"-stylesheet", QtValue::nextOrAttached}, {"-widgetcount", QtValue::none}};

std::optional<QtValue> valueOf(std::string_view name, std::span<const QtOption> options)
{
    const auto option = std::ranges::find(options, name, &QtOption::name);
    if (option == options.end())
        return std::nullopt;
    return option->value;
}

/// How an option of one pass takes its value; absent for any other argument.
using QtOptionLookup = std::function<std::optional<QtValue>(std::string_view name)>;

/// One of Qt's passes: `arguments` without the options that `lookup` knows, each with its
/// value. The value of each "-platform" taken goes to `platform` when it is given.
std::vector<std::string> takeOut(const std::vector<std::string>& arguments,
    const QtOptionLookup& lookup, std::string* platform = nullptr)
{
    std::vector<std::string> left(arguments.begin(), arguments.begin() + !arguments.empty());
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        std::string_view name = arguments[index];
        if (name.starts_with("--")) // Qt reads "--name" as "-name".
            name.remove_prefix(1);
        const std::size_t equals = name.find('=');
        const std::optional<QtValue> value = lookup(name.substr(0, equals));
        const bool isLast = index + 1 == arguments.size();
        const bool isTaken = equals == std::string_view::npos
            ? value && (value == QtValue::none || value == QtValue::next || !isLast)
            : value == QtValue::nextOrAttached;
        if (!isTaken) {
            left.push_back(arguments[index]);
            continue;
        }
        if (equals == std::string_view::npos && value != QtValue::none && !isLast) {
            ++index;
            if (platform && name == "-platform")
                *platform = arguments[index];
        }
    }
    return left;
}

/// Whether Qt loads its xcb plugin, when it can, for `platform`: a list of plugins to try in
/// turn, split by ";", each a name perhaps followed by ":" and its parameters.
bool triesXcb(std::string_view platform)
{
    while (!platform.empty()) {
        const std::string_view entry = platform.substr(0, platform.find(';'));
        if (asciiLowercased(entry.substr(0, entry.find(':'))) == "xcb")
            return true;
        platform.remove_prefix(std::min(platform.size(), entry.size() + 1));
    }
    return false;
}

} // namespace

std::vector<std::string> withoutQtOptions(
    const std::vector<std::string>& arguments, std::string_view platform)
{
    std::string chosen(platform);
    const auto platformPass = [&chosen](std::string_view name) {
        if (const std::optional<QtValue> value = valueOf(name, platformOptions))
            return value;
        if (chosen.starts_with("xcb"))
            return valueOf(name, x11PlatformOptions);
        return std::optional<QtValue>();
    };
    std::vector<std::string> left = takeOut(arguments, platformPass, &chosen);
    // Where another plugin is tried first and loads, Qt leaves these options in, and the check
    // after QApplication refuses them.
    if (triesXcb(chosen))
        left = takeOut(left, [](std::string_view name) { return valueOf(name, xcbPluginOptions); });
    for (const std::span<const QtOption> options : {std::span<const QtOption>(coreOptions),
             std::span<const QtOption>(guiOptions), std::span<const QtOption>(widgetsOptions)})
        left = takeOut(left, [options](std::string_view name) { return valueOf(name, options); });
    return left;
}

bool asksForHelp(const std::vector<std::string>& arguments)
{
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        if (arguments[index] == "-h" || arguments[index] == "--help")
            return true;
    }
    return false;
}

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
