#pragma once
// The program's command line: --help, --version, --demo, and the modes
// without a window: --capture with its options, and --list.
#include "app/capture_options.h"

#include <QString>
#include <QStringList>

struct CommandLine {
    enum Action { Run, ShowHelp, ShowVersion, Error, Capture, ListPorts };
    Action action = Run;
    bool bDemo = false;  // start the built-in virtual instrument
    CaptureOptions capture;  // for Capture
    QString strError;    // one line, for Error
};

// Reads `arguments` (the program's name first).
CommandLine ParseCommandLine(const QStringList& arguments);

// Whether `arguments` hold an option that the application object itself
// takes (-platform, -style, ...): only then must an unknown option wait for
// it before being called an error.
bool HasToolkitOption(const QStringList& arguments);

// The text --help prints.
QString CommandLineHelpText();
QString CommandLineVersionText();

// Prints the help, the version or the error for an action other than Run and
// returns the process's exit status: 0, or 2 for a bad command line.
int FinishCommandLine(const CommandLine& commandLine);
