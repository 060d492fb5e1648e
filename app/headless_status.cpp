#include "app/headless_status.h"

#include <cstdio>
#include <unistd.h>

bool CHeadlessStatus::StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

QString CHeadlessStatus::FormatBytes(double bytes)
{
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 B").arg(qint64(bytes))
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(kUnits[unit]));
}

QString CHeadlessStatus::Describe(const QString& port, const QString& device, const QString& line, int64_t items,
                                  int64_t bytes, double bytesPerSecond, const QString& state)
{
    return QStringLiteral("%1 %2 %3 | %4 items | %5 | %6/s | %7")
        .arg(port, device, line)
        .arg(items)
        .arg(FormatBytes(double(bytes)), FormatBytes(bytesPerSecond), state);
}

void CHeadlessStatus::Show(const QString& text)
{
    if (!m_bEnabled)
        return;
    const QByteArray bytes = "\r" + text.toLocal8Bit() + "\033[K";
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    m_bShown = true;
}

void CHeadlessStatus::Clear()
{
    if (!m_bShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_bShown = false;
}

void CHeadlessStatus::End()
{
    if (!m_bShown)
        return;
    std::fputs("\n", stderr);
    std::fflush(stderr);
    m_bShown = false;
}
