// main.cpp: the entry point: a Qt application that lives on in the menu bar with no window open.
#include "Foundation/Error.h"
#include "Quorvane/LaunchOptions.h"
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

} // namespace

int main(int argc, char** argv)
{
    // Before anything that can take time (Qt's connection to the display, the world file, the
    // settings), so that a signal sent during start-up still ends in an orderly quit.
    [[maybe_unused]] const std::optional<int> signalPipe = catchTerminationSignals();
    // Qt would abort with a long message of its own; say what is missing and how to run anyway.
    const std::optional<std::string> missingDisplay = missingDisplayMessage(processVariable);
    if (missingDisplay && !choosesDisplayWithQtOptions({argv, argv + argc})) {
        printLine(*missingDisplay);
        return 1;
    }
    QApplication application(argc, argv);
    nameApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    QuorStyle::apply(application);
    FocusKeeper::install(application);

    // Qt has taken out its own options (-platform, -display and the like).
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments())
        arguments.push_back(argument.toStdString());
    try {
        arguments = checkedArguments(arguments);
    } catch (const UsageError& error) {
        printLine(error.what());
        printLine(std::string(usageLine));
        return 2;
    }
    if (const std::optional<std::string> message
        = missingSettingsFolderMessage(arguments, processVariable)) {
        printLine(*message);
        return 1;
    }
    // Unused when the command line names the settings file or runs the demo.
    const std::optional<std::filesystem::path> folder = userConfigurationFolder(processVariable);

    try {
        QuorvaneApplication quorvane(QuorvaneApplication::Launch{.arguments = std::move(arguments),
            .configurationFolder = folder.value_or(std::filesystem::temp_directory_path())});
        if (quorvane.hasHandedOver())
            return 0;
        return QApplication::exec();
    } catch (const Error& error) {
        printLine(error.what());
        return 1;
    }
}
