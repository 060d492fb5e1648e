#include "app/command_line.h"

#include "platform/device_map.h"

#include <QCommandLineParser>
#include <cstdio>

namespace {

const QString kProgram = QStringLiteral("vantrel");

QCommandLineOption valueOption(const char* name, const char* valueName, const char* description)
{
    return QCommandLineOption(QLatin1String(name), QLatin1String(description), QLatin1String(valueName));
}

struct Parser {
    Parser()
    {
        parser.setApplicationDescription(QStringLiteral("Vantrel records what arrives on a serial port."));
        parser.addOptions({help, version, demo, capture, list, port, device, baud, line, hex, text, every, length, all,
                           log, sendData, timedLog, jsonl, split, keep, journalMax, memoryMax, duration, bytes, exitOnLoss,
                           quiet});
    }
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the program's version and exit.")};
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("Start a virtual instrument on a pseudo-terminal and offer it as a port "
                                           "for this run, to try the program without hardware.")};
    QCommandLineOption capture{QStringLiteral("capture"),
                               QStringLiteral("Record without a window, from the stored port with the stored settings "
                                              "(the options below override them for this run only), until stopped.")};
    QCommandLineOption list{QStringLiteral("list"),
                            QStringLiteral("List the serial ports that are present: COM name, device, by-id link, "
                                           "driver. Opens none of them.")};
    QCommandLineOption port = valueOption("port", "COMn", "Capture: record from this port.");
    QCommandLineOption device = valueOption("device", "path", "Capture: record from this device.");
    QCommandLineOption baud = valueOption("baud", "rate", "Capture: bits per second.");
    QCommandLineOption line = valueOption("line", "8N1", "Capture: data bits (5-8), parity (N, O, E, M, S), stop bits "
                                                         "(1, 1.5, 2).");
    QCommandLineOption hex{QStringLiteral("hex"), QStringLiteral("Capture: show format Hex.")};
    QCommandLineOption text{QStringLiteral("text"), QStringLiteral("Capture: show format String.")};
    QCommandLineOption every = valueOption("every", "N{s,m,h}",
                                           "Capture: record only --length seconds at the start of every period.");
    QCommandLineOption length = valueOption("length", "seconds", "Capture: the recording window of --every.");
    QCommandLineOption all{QStringLiteral("all"), QStringLiteral("Capture: record everything.")};
    QCommandLineOption log = valueOption("log", "file", "Capture: write the Serial Log format to this file (- for "
                                                        "standard output).");
    QCommandLineOption sendData = valueOption("send-data", "file",
                                              "Capture: write the Send Data format to this file (- for standard "
                                              "output).");
    QCommandLineOption timedLog = valueOption("timed-log", "file",
                                              "Capture: write the Serial Log with every item's local time before "
                                              "its entry to this file (- for standard output).");
    QCommandLineOption jsonl = valueOption("jsonl", "file",
                                           "Capture: write one JSON object per item (JSON Lines, for log "
                                           "collectors) to this file (- for standard output).");
    QCommandLineOption split = valueOption("split", "size|hour|day",
                                           "Capture: start a new file at this size (100M) or every local hour or "
                                           "day; the start time goes into each name.");
    QCommandLineOption keep = valueOption("keep", "N",
                                          "Capture: with --split, keep only the newest N parts of this run, "
                                          "removing the oldest as a new one starts.");
    QCommandLineOption journalMax = valueOption("journal-max", "size",
                                                "Capture: the most disk the journal that protects what the files "
                                                "do not have on disk yet may take (default 1G).");
    QCommandLineOption memoryMax = valueOption("memory-max", "size",
                                               "Capture: the most memory the items not on disk yet may take before "
                                               "the capture stops (default: a quarter of the memory available at "
                                               "the start).");
    QCommandLineOption duration = valueOption("duration", "time", "Capture: end after this long (30s, 15m, 2h, 1d).");
    QCommandLineOption bytes = valueOption("bytes", "count", "Capture: end once this many bytes are recorded.");
    QCommandLineOption exitOnLoss{QStringLiteral("exit-on-loss"),
                                  QStringLiteral("Capture: end when the device is lost instead of waiting for it.")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                             QStringLiteral("Capture: no status line; only errors.")};

    // The options that mean something only to --capture.
    QList<const QCommandLineOption*> CaptureOnly() const
    {
        return {&port, &device, &baud, &line, &hex, &text, &every, &length, &all, &log, &sendData, &timedLog, &jsonl, &split,
                &keep, &journalMax, &memoryMax, &duration, &bytes, &exitOnLoss, &quiet};
    }
};

// Reads the --capture options into `options`; an empty string, or the
// reason they cannot be taken.
QString ReadCaptureOptions(const Parser& p, CaptureOptions& options)
{
    const QCommandLineParser& parser = p.parser;
    auto bad = [](const char* option, const QString& value, const char* expected) {
        return QStringLiteral("Invalid value '%1' for --%2: %3.").arg(value, QLatin1String(option), QLatin1String(expected));
    };
    if (parser.isSet(p.port)) {
        options.strPortName = parser.value(p.port);
        if (platform::portNumber(options.strPortName) == 0)
            return bad("port", options.strPortName, "a port name from COM1 to COM256");
        options.strPortName = options.strPortName.toUpper();
        if (options.strPortName.endsWith(u':'))
            options.strPortName.chop(1);
    }
    if (parser.isSet(p.device)) {
        options.strDevicePath = parser.value(p.device);
        if (options.strDevicePath.isEmpty())
            return bad("device", options.strDevicePath, "a device path");
    }
    if (parser.isSet(p.baud)) {
        uint32_t rate = 0;
        if (!ParseBaudRate(parser.value(p.baud), rate))
            return bad("baud", parser.value(p.baud), "a rate in bits per second, such as 115200");
        options.baudRate = rate;
    }
    if (parser.isSet(p.line)) {
        LineSettings line;
        if (!ParseLineSettings(parser.value(p.line), line))
            return bad("line", parser.value(p.line),
                       "data bits 5-8, parity N, O, E, M or S, stop bits 1, 1.5 (5 data bits only) or 2 (not with 5), "
                       "such as 8N1");
        options.line = line;
    }
    if (parser.isSet(p.hex) && parser.isSet(p.text))
        return QStringLiteral("--hex and --text cannot both be given.");
    if (parser.isSet(p.hex))
        options.showFormat = 1;
    else if (parser.isSet(p.text))
        options.showFormat = 0;

    if (parser.isSet(p.all) && (parser.isSet(p.every) || parser.isSet(p.length)))
        return QStringLiteral("--all cannot be given with --every or --length.");
    if (parser.isSet(p.every) != parser.isSet(p.length))
        return QStringLiteral("--every and --length go together.");
    if (parser.isSet(p.every)) {
        RecordSettings record{};
        if (!ParseRecordPeriod(parser.value(p.every), record.nUnit, record.nPeriod))
            return bad("every", parser.value(p.every), "1-999 followed by s, m or h, such as 10s");
        if (!ParseRecordLength(parser.value(p.length), record.nLength))
            return bad("length", parser.value(p.length), "1-999 seconds");
        record.bRecordAll = 0;
        options.record = record;
    }
    options.bRecordAll = parser.isSet(p.all);

    options.strLogPath = parser.value(p.log);
    options.strSendDataPath = parser.value(p.sendData);
    if (parser.isSet(p.log) && options.strLogPath.isEmpty())
        return bad("log", options.strLogPath, "a file name, or - for standard output");
    if (parser.isSet(p.sendData) && options.strSendDataPath.isEmpty())
        return bad("send-data", options.strSendDataPath, "a file name, or - for standard output");
    options.strTimedLogPath = parser.value(p.timedLog);
    options.strJsonLinesPath = parser.value(p.jsonl);
    if (parser.isSet(p.timedLog) && options.strTimedLogPath.isEmpty())
        return bad("timed-log", options.strTimedLogPath, "a file name, or - for standard output");
    if (parser.isSet(p.jsonl) && options.strJsonLinesPath.isEmpty())
        return bad("jsonl", options.strJsonLinesPath, "a file name, or - for standard output");
    const bool none = options.strLogPath.isEmpty() && options.strSendDataPath.isEmpty() &&
                      options.strTimedLogPath.isEmpty() && options.strJsonLinesPath.isEmpty();
    int toStandardOutput = none ? 1 : 0;
    for (const QString* path :
         {&options.strLogPath, &options.strSendDataPath, &options.strTimedLogPath, &options.strJsonLinesPath})
        toStandardOutput += *path == QLatin1String("-") ? 1 : 0;
    if (toStandardOutput > 1)
        return QStringLiteral("Only one of --log, --send-data, --timed-log and --jsonl can go to standard output.");
    if (parser.isSet(p.split)) {
        if (!SplitRule::Parse(parser.value(p.split), options.split))
            return bad("split", parser.value(p.split), "a size such as 100M, or hour or day");
        auto isFile = [](const QString& path) { return !path.isEmpty() && path != QLatin1String("-"); };
        if (!isFile(options.strLogPath) && !isFile(options.strSendDataPath) && !isFile(options.strTimedLogPath) &&
            !isFile(options.strJsonLinesPath))
            return QStringLiteral("--split needs a file: standard output is never split.");
    }
    if (parser.isSet(p.keep)) {
        bool ok = false;
        options.split.keep = parser.value(p.keep).toInt(&ok);
        if (!ok || options.split.keep < 1)
            return bad("keep", parser.value(p.keep), "a number of parts, 1 or more");
        if (!parser.isSet(p.split))
            return QStringLiteral("--keep goes with --split: only parts are kept or removed.");
    }
    if (parser.isSet(p.journalMax) && !ParseByteSize(parser.value(p.journalMax), options.journalMaxBytes))
        return bad("journal-max", parser.value(p.journalMax), "a size such as 256M or 1G");
    if (parser.isSet(p.memoryMax) &&
        (!ParseByteSize(parser.value(p.memoryMax), options.memoryMaxBytes) || options.memoryMaxBytes < (1 << 20)))
        return bad("memory-max", parser.value(p.memoryMax), "a size of at least 1M, such as 256M or 1G");
    if (parser.isSet(p.duration) && !ParseDuration(parser.value(p.duration), options.durationMs))
        return bad("duration", parser.value(p.duration), "a time such as 30s, 15m, 2h or 1d");
    if (parser.isSet(p.bytes) && !ParseByteSize(parser.value(p.bytes), options.maxBytes))
        return bad("bytes", parser.value(p.bytes), "a byte count such as 4096 or 10M");
    options.bExitOnLoss = parser.isSet(p.exitOnLoss);
    options.bQuiet = parser.isSet(p.quiet);
    return {};
}

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
    if (result.action != CommandLine::Run)
        return result;
    result.bDemo = p.parser.isSet(p.demo);

    auto error = [&result](const QString& text) {
        result.action = CommandLine::Error;
        result.strError = text;
        return result;
    };
    const bool capture = p.parser.isSet(p.capture);
    const bool list = p.parser.isSet(p.list);
    if (capture && list)
        return error(QStringLiteral("--capture and --list cannot both be given."));
    if ((capture || list) && result.bDemo)
        return error(QStringLiteral("--demo needs the window; it cannot be given with --%1.")
                         .arg(capture ? QStringLiteral("capture") : QStringLiteral("list")));
    if (!capture) {
        for (const QCommandLineOption* option : p.CaptureOnly())
            if (p.parser.isSet(*option))
                return error(QStringLiteral("--%1 needs --capture.").arg(option->names().last()));
        if (list)
            result.action = CommandLine::ListPorts;
        return result;
    }
    const QString problem = ReadCaptureOptions(p, result.capture);
    if (!problem.isEmpty())
        return error(problem);
    result.action = CommandLine::Capture;
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
    case CommandLine::Capture:
    case CommandLine::ListPorts:
        break;
    }
    return 0;
}
