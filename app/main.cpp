#include "app/command_line.h"
#include "app/demo_port.h"
#include "app/headless_capture.h"
#include "app/monitor_app.h"
#include "app/port_listing.h"
#include "app/single_instance.h"
#include "platform/message_box.h"
#include "platform/open_files.h"
#include "platform/process_memory.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    // --help and --version answer before any window system is needed.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.action == CommandLine::ShowHelp || commandLine.action == CommandLine::ShowVersion)
        return FinishCommandLine(commandLine);
    // A bad command line is answered without a display, unless the error may
    // be an option the toolkit takes out for itself.
    // The modes without a window never take the toolkit's options.
    const bool windowless = arguments.contains(QStringLiteral("--capture")) || arguments.contains(QStringLiteral("--list"));
    if (commandLine.action == CommandLine::Error && (!HasToolkitOption(arguments) || windowless))
        return FinishCommandLine(commandLine);

    // A journal's segments stay open while it runs; a failure leaves the
    // usual limit, which a capture of a few dozen gigabytes stays within.
    platform::raiseOpenFileLimit();
    // The batches a capture formats and frees are allocated again at once.
    platform::keepFreedMemoryForReuse();

    // --list needs no application object at all.
    if (commandLine.action == CommandLine::ListPorts) {
        const QByteArray list = FormatPortList(ListPresentPorts()).toLocal8Bit();
        std::fwrite(list.constData(), 1, size_t(list.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The capture without a window runs the engine on a core application:
    // no window system and no platform plugin, so it runs where there is no
    // display whatever QT_QPA_PLATFORM says.
    if (commandLine.action == CommandLine::Capture) {
        // Standard error carries the status line and errors only, not the
        // toolkit's notes about a session it does not need.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "vantrel: %s\n", text.toLocal8Bit().constData());
        });
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
        CHeadlessCapture capture(commandLine.capture);
        return capture.Run();
    }

    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/vantrel.svg")));
    // The desktop entry's id, so a desktop matches the window to its entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.kerbix.Vantrel"));

    // Qt has taken its own options (-platform, -style, ...) out by now.
    commandLine = ParseCommandLine(QCoreApplication::arguments());
    if (commandLine.action == CommandLine::Capture || commandLine.action == CommandLine::ListPorts) {
        // Only a bad option can bring them here: one the toolkit took for a
        // window that these modes never have.
        commandLine.action = CommandLine::Error;
        commandLine.strError = QStringLiteral("Window options cannot be given with --capture or --list.");
    }
    if (commandLine.action != CommandLine::Run)
        return FinishCommandLine(commandLine);

    if (!CSingleInstance::Current().Claim(CSingleInstance::KeyFor(QApplication::applicationFilePath())))
        return -1;

    // The instrument lives exactly as long as the run.
    CDemoPort demo;
    if (commandLine.bDemo) {
        if (!demo.Start()) {
            AfxMessageBox(demo.ErrorText(), MB_ICONSTOP);
            return 1;
        }
        theApp.m_pfnPrepareWindow = [&demo](CMonitorDlg& dlg) { demo.SelectIn(dlg); };
    }
    theApp.InitInstance();
    theApp.m_pfnPrepareWindow = nullptr;
    return 0;
}
