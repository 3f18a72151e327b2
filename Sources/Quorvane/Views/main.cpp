// main.cpp: the entry point: a Qt application that lives on in the menu bar with no window open.
#include "Foundation/Error.h"
#include "Quorvane/LaunchOptions.h"
#include "Quorvane/Views/Design/ChoiceItems.h"
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/QuorvaneApplication.h"
#include "Quorvane/Views/TerminationHandler.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

void printLine(const std::string& text) { std::fputs((text + "\n").c_str(), stderr); }

/// The arguments as checkedArguments() gives them; absent once what is wrong has been printed.
std::optional<std::vector<std::string>> checked(const std::vector<std::string>& arguments)
{
    try {
        return checkedArguments(arguments);
    } catch (const UsageError& error) {
        printLine(error.what());
        printLine(std::string(usageLine));
        return std::nullopt;
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything that can take time (Qt's connection to the display, the world file, the
    // settings), so that a signal sent during start-up still ends in an orderly quit.
    [[maybe_unused]] const std::optional<int> signalPipe = catchTerminationSignals();
    // The help and a wrong argument are answered before Qt starts, so also without a display.
    const std::vector<std::string> given(argv, argv + argc);
    const std::vector<std::string> own
        = withoutQtOptions(given, processVariable("QT_QPA_PLATFORM").value_or("xcb"));
    if (asksForHelp(own)) {
        std::fputs(std::string(helpText).c_str(), stdout);
        return 0;
    }
    if (!checked(own))
        return 2;
    // Qt would abort with a long message of its own; say what is missing and how to run anyway.
    const std::optional<std::string> missingDisplay = missingDisplayMessage(processVariable, given);
    if (missingDisplay && !choosesDisplayWithQtOptions(given)) {
        printLine(*missingDisplay);
        return 1;
    }
    QApplication application(argc, argv);
    nameApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    QuorStyle::apply(application);
    FocusKeeper::install(application);
    nameDropDownsByTheirLabels();

    // Checked again on what Qt itself left, which decides: a plugin other than the one foreseen
    // may have taken or left its own options.
    std::vector<std::string> left;
    for (const QString& argument : QCoreApplication::arguments())
        left.push_back(argument.toStdString());
    std::optional<std::vector<std::string>> arguments = checked(left);
    if (!arguments)
        return 2;
    if (const std::optional<std::string> message
        = missingSettingsFolderMessage(*arguments, processVariable)) {
        printLine(*message);
        return 1;
    }
    // Unused when the command line names the settings file or runs the demo.
    const std::optional<std::filesystem::path> folder = userConfigurationFolder(processVariable);

    try {
        QuorvaneApplication quorvane(QuorvaneApplication::Launch{.arguments = std::move(*arguments),
            .configurationFolder = folder.value_or(std::filesystem::temp_directory_path())});
        if (quorvane.hasHandedOver())
            return 0;
        return QApplication::exec();
    } catch (const SettingsPathRefusal& refusal) {
        printLine(refusal.what());
        return 2;
    } catch (const Error& error) {
        printLine(error.what());
        return 1;
    }
}
