#include "app/command_line.h"
#include "app/demo_port.h"
#include "app/monitor_app.h"
#include "app/single_instance.h"
#include "platform/message_box.h"

#include <QApplication>

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
    if (commandLine.action == CommandLine::Error && !HasToolkitOption(arguments))
        return FinishCommandLine(commandLine);

    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/vantrel.svg")));

    // Qt has taken its own options (-platform, -style, ...) out by now.
    commandLine = ParseCommandLine(QCoreApplication::arguments());
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
