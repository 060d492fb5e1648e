#pragma once
// `vantrel --capture` as the benchmarks run it: a separate process writing
// both files into a folder, fed through a benchmark terminal; and what can
// be read of a process from outside (processor time, resident memory).
#include "bench/bench_feeder.h"

#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace bench {

// Processor seconds (user and system) that process `pid` has used.
inline double ProcessCpuSeconds(qint64 pid)
{
    FILE* f = std::fopen(QStringLiteral("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    if (!f)
        return 0;
    char buffer[1024] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    // Fields 14 and 15 (utime, stime) follow the command name in parentheses.
    const char* p = std::strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Minor page faults process `pid` has taken (pages it touched for the first
// time, or again after giving them back).
inline qint64 ProcessMinorFaults(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Field 10 (minflt) is the 8th after the command name in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(7).toLongLong();
}

// Resident memory of process `pid` in bytes (VmRSS).
inline qint64 ProcessRssBytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// The capture writing the Serial Log and Send Data (or the log alone) into
// `folder`; recording once a probe byte has reached the last file.
struct HeadlessCapture {
    enum class Files { LogAndSendData, LogOnly };
    HeadlessCapture(const QString& binary, const QString& folder, const BenchTerminal& pty,
                    const QStringList& extra = {}, Files files = Files::LogAndSendData)
        : m_log(folder + QStringLiteral("/bench.log")), m_sendData(folder + QStringLiteral("/bench.sds"))
    {
        QFile::remove(m_log);
        QFile::remove(m_sendData);
        QStringList arguments{QStringLiteral("--capture"), QStringLiteral("--quiet"), QStringLiteral("--device"),
                              pty.Slave(), QStringLiteral("--log"), m_log};
        if (files == Files::LogAndSendData)
            arguments << QStringLiteral("--send-data") << m_sendData;
        const QString probed = files == Files::LogAndSendData ? m_sendData : m_log;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(binary, arguments + extra);
        process.waitForStarted();
        auto probeSeen = [&probed] {
            QFile file(probed);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains('~');
        };
        for (int i = 0; i < 200 && !probeSeen(); ++i) {
            [[maybe_unused]] const ssize_t w = ::write(pty.Master(), "~", 1);
            QThread::msleep(50);
        }
    }
    int Stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(60000);
        return process.exitCode();
    }
    qint64 FileBytes() const { return QFileInfo(m_log).size() + QFileInfo(m_sendData).size(); }
    qint64 LogBytes() const { return QFileInfo(m_log).size(); }
    // Items in the log so far: each entry begins "\r\nRec :".
    qint64 LoggedItems() const
    {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? qint64(file.readAll().count("\r\nRec :")) : 0;
    }

    QProcess process;
    QString m_log, m_sendData;
};

} // namespace bench
