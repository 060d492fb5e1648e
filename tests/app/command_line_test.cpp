// The command line, parsed and as the built program answers it.
#include "app/command_line.h"
#include "program.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

ProgramRun RunProgram(const QStringList& arguments, bool withDisplay = true)
{
    QProcess process;
    if (!withDisplay)
        process.setProcessEnvironment(testing_support::EnvironmentWithoutDisplay());
    process.start(QStringLiteral(VANTREL_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

} // namespace

TEST(CommandLine, ParsesTheThreeOptions)
{
    const QString program = QStringLiteral("vantrel");
    EXPECT_EQ(ParseCommandLine({program}).action, CommandLine::Run);
    EXPECT_FALSE(ParseCommandLine({program}).bDemo);
    EXPECT_TRUE(ParseCommandLine({program, QStringLiteral("--demo")}).bDemo);
    EXPECT_EQ(ParseCommandLine({program, QStringLiteral("--demo")}).action, CommandLine::Run);
    EXPECT_EQ(ParseCommandLine({program, QStringLiteral("-h")}).action, CommandLine::ShowHelp);
    EXPECT_EQ(ParseCommandLine({program, QStringLiteral("--version")}).action, CommandLine::ShowVersion);

    const CommandLine unknown = ParseCommandLine({program, QStringLiteral("--demo"), QStringLiteral("--fast")});
    EXPECT_EQ(unknown.action, CommandLine::Error);
    EXPECT_TRUE(unknown.strError.contains(QStringLiteral("fast"))) << unknown.strError.toStdString();
    EXPECT_EQ(ParseCommandLine({program, QStringLiteral("COM3")}).action, CommandLine::Error);

    // Options the toolkit takes for itself wait for it; others are errors at once.
    EXPECT_TRUE(HasToolkitOption({program, QStringLiteral("-platform"), QStringLiteral("offscreen")}));
    EXPECT_TRUE(HasToolkitOption({program, QStringLiteral("--style=fusion")}));
    EXPECT_FALSE(HasToolkitOption({program, QStringLiteral("--frobnicate"), QStringLiteral("platform")}));
    EXPECT_FALSE(HasToolkitOption({QStringLiteral("-platform")}));
}

TEST(CommandLine, TheProgramPrintsItsVersionAndHelp)
{
    EXPECT_EQ(RunProgram({QStringLiteral("--version")}, false).exitCode, 0);
    const ProgramRun version = RunProgram({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("vantrel " VANTREL_VERSION "\n"));

    const ProgramRun help = RunProgram({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--help", "--version", "--demo"})
        EXPECT_TRUE(help.out.contains(QLatin1String(option))) << option << "\n" << help.out.toStdString();
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: vantrel"))) << help.out.toStdString();
}

TEST(CommandLine, AnUnknownOptionIsOneLineOnStandardErrorAndStatus2)
{
    for (const bool withDisplay : {true, false})
    for (const QStringList& arguments : {QStringList{QStringLiteral("--frobnicate")},
                                         QStringList{QStringLiteral("--demo"), QStringLiteral("-x")},
                                         QStringList{QStringLiteral("stray")}}) {
        const ProgramRun run = RunProgram(arguments, withDisplay);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        const QStringList ours = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts).filter(QStringLiteral("vantrel:"));
        ASSERT_EQ(ours.size(), 1) << run.err.toStdString();
        EXPECT_TRUE(ours.first().contains(arguments.last().mid(arguments.last().lastIndexOf('-') + 1)))
            << ours.first().toStdString();
    }
}
