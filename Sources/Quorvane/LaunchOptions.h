// How a launch decides between the demo and the real displays, and which settings file it uses.
#pragma once

#include "Foundation/Error.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class LaunchEnvironment;

/// The bundle identifier of the preview build, which always runs the demo.
inline constexpr std::string_view previewBundleIdentifier = "com.quorvane.Quorvane.preview";

/// A command line that the program refuses; the text names the argument and what is wrong.
class UsageError final : public Error {
public:
    using Error::Error;
};

/// The line shown after a UsageError.
inline constexpr std::string_view usageLine = "Usage: quorvane [--ui-demo] [--settings-path FILE]";

/// What --help prints, the usage line first.
inline constexpr std::string_view helpText = R"(Usage: quorvane [--ui-demo] [--settings-path FILE]

Options:
  --ui-demo             Run on two simulated displays, touching no hardware. The
                        settings go to a new temporary folder, removed at the
                        end, unless --settings-path is given.
  --settings-path FILE  Use FILE as the settings file instead of
                        $XDG_CONFIG_HOME/Quorvane/settings.json (by default
                        ~/.config/Quorvane/settings.json); also written
                        --settings-path=FILE.
  -h, --help            Print this help and exit.

Qt's own options, such as -platform NAME or -display NAME, work as in any Qt
program.
)";

/// The command line as QApplication leaves it (its path first): Qt's own options taken out with
/// their values, as Qt 6 takes them, where `platform` names the plugins that Qt is to try (the
/// value of QT_QPA_PLATFORM, else "xcb", this build of Qt's default). The xcb plugin's options
/// go whenever it is among them, as when the ones before it fail to load. Qt takes a value
/// whatever it looks like: in "-style --help" it is the style's name.
[[nodiscard]] std::vector<std::string> withoutQtOptions(
    const std::vector<std::string>& arguments, std::string_view platform);

/// Whether the program's own arguments (its path first) ask for the help: "-h" or "--help" as
/// a whole argument anywhere, whatever else is there.
[[nodiscard]] bool asksForHelp(const std::vector<std::string>& arguments);

/// The program's own arguments (its path first, Qt's options already taken out) as the rest of
/// the launch reads them: the path, "--ui-demo" when given, then "--settings-path" and its file
/// when given. "--settings-path=FILE" is the same as "--settings-path FILE". Throws UsageError
/// for an option this program does not know or that is given twice, a settings path that is
/// missing or empty, or any other argument, so that a launch never quietly runs on another file
/// than the one asked for.
[[nodiscard]] std::vector<std::string> checkedArguments(const std::vector<std::string>& arguments);

/// Demo mode when the caller did not decide it: "--ui-demo" as a whole argument anywhere, or
/// the preview build's bundle identifier. False for a bundle without an identifier.
[[nodiscard]] bool launchesDemo(
    const std::vector<std::string>& arguments, const std::optional<std::string>& bundleIdentifier);

/// The settings file, by the first rule that applies: `given`; the argument after the first
/// "--settings-path" (ignored when it is the last argument); in the demo, "settings.json" in a
/// new "Quorvane-demo-<UUID>" folder of the temporary folder; else "Quorvane/settings.json" in
/// the Application Support folder. Creates no folder.
[[nodiscard]] std::filesystem::path settingsLocation(
    const std::optional<std::filesystem::path>& given, const std::vector<std::string>& arguments,
    bool isDemo, LaunchEnvironment& environment);

/// The settings file as settingsLocation() chooses it when the file outlives the run: absent
/// for a demo in a new temporary folder.
[[nodiscard]] std::optional<std::filesystem::path> lastingSettingsLocation(
    const std::optional<std::filesystem::path>& given, const std::vector<std::string>& arguments,
    bool isDemo, LaunchEnvironment& environment);

/// Looks up an environment variable; absent when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

/// Where this system keeps per-user settings, standing in for Application Support:
/// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config when HOME is an absolute
/// path; absent when neither is.
[[nodiscard]] std::optional<std::filesystem::path> userConfigurationFolder(
    const EnvironmentLookup& variable);

/// Why the launch cannot start: it names no settings file with "--settings-path", is no demo
/// (by its switch) and finds no user configuration folder. Absent when it can start.
[[nodiscard]] std::optional<std::string> missingSettingsFolderMessage(
    const std::vector<std::string>& arguments, const EnvironmentLookup& variable);

/// Whether Qt's own options on the command line (its path first) say where windows go, as a
/// display in the environment would: "-platform NAME" or "-display NAME", also written with two
/// dashes. An option without its value counts for nothing, as Qt ignores it.
[[nodiscard]] bool choosesDisplayWithQtOptions(const std::vector<std::string>& arguments);

} // namespace quorvane
