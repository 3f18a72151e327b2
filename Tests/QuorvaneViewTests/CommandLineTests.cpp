#include "QuorvaneViewTests/ApplicationProcess.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {
namespace {

/// A home of its own for each launch, so that the default settings file is one the test sees.
class CommandLineTest : public ::testing::Test {
protected:
    /// The application with `arguments`, started in an empty working folder.
    QProcess& launch(const QStringList& arguments)
    {
        environment.insert(QStringLiteral("HOME"), QString::fromStdString(folder.path() / "home"));
        environment.insert(
            QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(configuration));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(workingFolder));
        process.setProcessChannelMode(channels);
        process.start(QStringLiteral(QUORVANE_EXECUTABLE), arguments);
        return process;
    }

    /// No display in the environment, as on a server or in a plain terminal session.
    void removeDisplay()
    {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
    }

    QApplication& qt = testApplication();
    QProcess::ProcessChannelMode channels = QProcess::ForwardedOutputChannel; // stderr is read
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    TemporaryFolder folder;
    std::filesystem::path configuration = folder.path() / "config";
    std::filesystem::path defaultFile = configuration / "Quorvane" / "settings.json";
    std::filesystem::path workingFolder = folder.path() / "work";
    std::filesystem::path file = folder.path() / "chosen.json";
    QProcess process;

    void SetUp() override { std::filesystem::create_directory(workingFolder); }
};

TEST_F(CommandLineTest, TheFileNamedWithAnEqualsSignOrAfterQtsOptionsIsTheOneUsed)
{
    const QString path = QString::fromStdString(file);
    const QStringList launches[] = {
        {QStringLiteral("--settings-path=") + path},
        {QStringLiteral("-platform"), QStringLiteral("offscreen"),
            QStringLiteral("--settings-path"), path},
    };
    for (const QStringList& arguments : launches) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        std::filesystem::remove(file);
        ASSERT_TRUE(hasStarted(launch(arguments), file)) << process.readAllStandardError().data();
        EXPECT_TRUE(quitsCleanly(process));
        EXPECT_FALSE(std::filesystem::exists(configuration)) << "the default file is left alone";
    }
}

TEST_F(CommandLineTest, ACommandLineThatNamesNoUsableFileIsRefusedBeforeAnythingIsWritten)
{
    const QString path = QString::fromStdString(file);
    struct Case {
        QStringList arguments;
        QString named; // what the message names
    };
    const Case cases[] = {
        {{QStringLiteral("--settings-path")}, QStringLiteral("--settings-path")},
        {{QStringLiteral("--settings-path"), QString()}, QStringLiteral("--settings-path")},
        {{QStringLiteral("--setings-path"), path}, QStringLiteral("--setings-path")},
        {{QStringLiteral("--ui-demo"), QStringLiteral("stray")}, QStringLiteral("stray")},
        // Qt's options are taken out before the check, also where Qt never starts.
        {{QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("-reverse"),
             QStringLiteral("--bogus")},
            QStringLiteral("--bogus")},
    };
    const QProcessEnvironment withDisplay = environment;
    for (const Case& c : cases)
        for (const bool hasDisplay : {true, false}) {
            const QStringList& arguments = c.arguments;
            SCOPED_TRACE(arguments.join(' ').toStdString() + (hasDisplay ? "" : ", no display"));
            environment = withDisplay;
            if (!hasDisplay)
                removeDisplay();
            ASSERT_TRUE(launch(arguments).waitForFinished(startLimit));
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), 2);
            // Qt may say something of its own first.
            const QStringList lines
                = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
            ASSERT_GE(lines.size(), 2);
            EXPECT_TRUE(lines.at(lines.size() - 2).contains(c.named))
                << lines.join('\n').toStdString();
            EXPECT_EQ(
                lines.back(), QStringLiteral("Usage: quorvane [--ui-demo] [--settings-path FILE]"));
            EXPECT_FALSE(std::filesystem::exists(configuration));
            EXPECT_FALSE(std::filesystem::exists(file));
            EXPECT_TRUE(std::filesystem::is_empty(workingFolder));
        }
}

TEST_F(CommandLineTest, QtsOwnDisplayOptionsStandInForADisplayInTheEnvironment)
{
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    removeDisplay();
    std::vector<QStringList> launches{{QStringLiteral("-platform"), QStringLiteral("offscreen")}};
    if (!display.isEmpty()) // only where an X server runs
        launches.push_back({QStringLiteral("-display"), display});
    for (QStringList arguments : launches) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        std::filesystem::remove(file);
        arguments << QStringLiteral("--ui-demo") << QStringLiteral("--settings-path")
                  << QString::fromStdString(file);
        ASSERT_TRUE(hasStarted(launch(arguments), file)) << process.readAllStandardError().data();
        EXPECT_TRUE(quitsCleanly(process));
    }
}

TEST_F(CommandLineTest, HelpNeedsNoDisplayWritesNothingAndWinsOverOtherArguments)
{
    removeDisplay();
    channels = QProcess::SeparateChannels;
    const QStringList launches[] = {
        {QStringLiteral("--help")},
        {QStringLiteral("-h")},
        {QStringLiteral("--ui-demo"), QStringLiteral("--bogus"), QStringLiteral("-h")},
        {QStringLiteral("--settings-path"), QStringLiteral("--help")},
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--help")},
    };
    for (const QStringList& arguments : launches) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        ASSERT_TRUE(launch(arguments).waitForFinished(startLimit));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(process.readAllStandardError(), QByteArray());
        const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
        ASSERT_GE(lines.size(), 2);
        EXPECT_EQ(
            lines.front(), QStringLiteral("Usage: quorvane [--ui-demo] [--settings-path FILE]"));
        for (const QString& option : {QStringLiteral("  --ui-demo "),
                 QStringLiteral("  --settings-path FILE "), QStringLiteral("  -h, --help ")})
            EXPECT_EQ(lines.filter(option).size(), 1) << option.toStdString();
        EXPECT_FALSE(std::filesystem::exists(configuration));
        EXPECT_TRUE(std::filesystem::is_empty(workingFolder));
    }
}

TEST_F(CommandLineTest, WithoutADisplayTheSuggestedCommandRunsTheProgramAsItWasRun)
{
    removeDisplay();
    const QStringList arguments{QStringLiteral("--ui-demo"), QStringLiteral("--settings-path"),
        QString::fromStdString(file)};
    ASSERT_TRUE(launch(arguments).waitForFinished(startLimit));
    EXPECT_EQ(process.exitCode(), 1);
    const QString message = QString::fromUtf8(process.readAllStandardError()).trimmed();
    EXPECT_TRUE(message.endsWith(
        QStringLiteral(": xvfb-run -a " QUORVANE_EXECUTABLE " ") + arguments.join(' ')))
        << message.toStdString();
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
} // namespace quorvane
