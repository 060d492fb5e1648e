#include "app/command_line.h"

#include <QCommandLineParser>
#include <cstdio>

namespace {

const QString kProgram = QStringLiteral("vantrel");

struct Parser {
    Parser()
    {
        parser.setApplicationDescription(QStringLiteral("Vantrel records what arrives on a serial port."));
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(demo);
    }
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the program's version and exit.")};
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("Start a virtual instrument on a pseudo-terminal and offer it as a port "
                                           "for this run, to try the program without hardware.")};
};

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    Parser p;
    CommandLine result;
    if (!p.parser.parse(arguments.isEmpty() ? QStringList{kProgram} : arguments)) {
        result.action = CommandLine::Error;
        result.strError = p.parser.errorText();
        return result;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Error;
        result.strError = QStringLiteral("Unexpected argument '%1'.").arg(p.parser.positionalArguments().first());
        return result;
    }
    if (p.parser.isSet(p.help))
        result.action = CommandLine::ShowHelp;
    else if (p.parser.isSet(p.version))
        result.action = CommandLine::ShowVersion;
    result.bDemo = p.parser.isSet(p.demo);
    return result;
}

bool HasToolkitOption(const QStringList& arguments)
{
    static const QStringList kToolkitOptions = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"), QStringLiteral("reverse"), QStringLiteral("session"),
        QStringLiteral("style"), QStringLiteral("stylesheet"), QStringLiteral("widgetcount"),
        QStringLiteral("display"), QStringLiteral("geometry"), QStringLiteral("name"), QStringLiteral("title"),
        QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync"), QStringLiteral("qmljsdebugger"),
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString option = arguments[i];
        if (!option.startsWith(u'-'))
            continue;
        option.remove(0, option.startsWith(QLatin1String("--")) ? 2 : 1);
        option = option.section(u'=', 0, 0);
        if (kToolkitOptions.contains(option))
            return true;
    }
    return false;
}

QString CommandLineHelpText()
{
    Parser p;
    // Parsed without an application object, the text has no program name yet.
    return p.parser.helpText().replace(QStringLiteral("<executable_name>"), kProgram);
}

QString CommandLineVersionText()
{
    return kProgram + QLatin1Char(' ') + QStringLiteral(VANTREL_VERSION) + QLatin1Char('\n');
}

int FinishCommandLine(const CommandLine& commandLine)
{
    switch (commandLine.action) {
    case CommandLine::ShowHelp:
        Print(stdout, CommandLineHelpText());
        return 0;
    case CommandLine::ShowVersion:
        Print(stdout, CommandLineVersionText());
        return 0;
    case CommandLine::Error:
        Print(stderr, kProgram + QStringLiteral(": ") + commandLine.strError +
                          QStringLiteral(" Try 'vantrel --help'.\n"));
        return 2;
    case CommandLine::Run:
        break;
    }
    return 0;
}
