#pragma once
// The built program run as a child process, for its command-line modes.
#include <QList>
#include <QProcess>
#include <QStringList>
#include <utility>

namespace testing_support {

// This process's environment without DISPLAY, WAYLAND_DISPLAY and
// QT_QPA_PLATFORM: as from a terminal with no window system at all.
QProcessEnvironment EnvironmentWithoutDisplay();

// The program with no window system, unless `platform` names a platform to
// ask for; `variables` are added to its environment. It is killed if still
// running when this goes.
class Program {
public:
    explicit Program(const QStringList& arguments, const QString& platform = {},
                     const QList<std::pair<QString, QString>>& variables = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void Signal(int number);
    // The exit status, or -1 when it did not end normally in time.
    int Wait(int timeoutMs = 20000);
    // SIGTERM, then Wait().
    int Stop();
    bool Running() const { return m_process.state() == QProcess::Running; }
    qint64 Pid() const { return m_process.processId(); }
    // The lines of standard error, once it ended.
    QStringList ErrorLines() const { return m_err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // Standard output, once it ended.
    QByteArray Out() const { return m_out; }

private:
    QProcess m_process;
    QString m_err;
    QByteArray m_out;
};

} // namespace testing_support
