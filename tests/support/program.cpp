#include "program.h"

#include <gtest/gtest.h>

#include <csignal>

namespace testing_support {

QProcessEnvironment EnvironmentWithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

Program::Program(const QStringList& arguments, const QString& platform,
                 const QList<std::pair<QString, QString>>& variables)
{
    QProcessEnvironment environment = EnvironmentWithoutDisplay();
    if (!platform.isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    m_process.setProcessEnvironment(environment);
    m_process.start(QStringLiteral(VANTREL_BINARY), arguments);
    EXPECT_TRUE(m_process.waitForStarted(10000));
}

Program::~Program()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void Program::Signal(int number)
{
    // A program that has ended has no process id, and kill(0) would signal
    // this test's whole process group.
    if (const qint64 pid = m_process.processId(); pid > 0)
        ::kill(pid_t(pid), number);
}

int Program::Wait(int timeoutMs)
{
    if (!m_process.waitForFinished(timeoutMs))
        return -1;
    m_err = QString::fromLocal8Bit(m_process.readAllStandardError());
    m_out = m_process.readAllStandardOutput();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int Program::Stop()
{
    Signal(SIGTERM);
    return Wait();
}

} // namespace testing_support
