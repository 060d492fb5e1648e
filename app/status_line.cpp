#include "app/status_line.h"

#include "settings/port_settings.h"

#include <QLocale>

CStatusLine::CStatusLine(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("statusLine"));
    setContentsMargins(6, 3, 6, 3);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

QString CStatusLine::DescribeLine(const PortSettings& settings)
{
    static const char kParity[] = "NOEMS";
    const QChar parity = settings.Parity < 5 ? QChar::fromLatin1(kParity[settings.Parity]) : u'?';
    QString stop;
    switch (settings.StopBits) {
    case 0: stop = QStringLiteral("1"); break;
    case 1: stop = QStringLiteral("1.5"); break;
    case 2: stop = QStringLiteral("2"); break;
    default: stop = QStringLiteral("?"); break;
    }
    return QStringLiteral("%1 %2-%3-%4").arg(settings.BaudRate).arg(settings.ByteSize).arg(parity).arg(stop);
}

void CStatusLine::SetPort(const QString& portName, const QString& devicePath, const PortSettings& settings)
{
    const QString device = devicePath.isEmpty() ? QStringLiteral("no device") : devicePath;
    m_port = QStringLiteral("%1 (%2)  %3").arg(portName, device, DescribeLine(settings));
    Show();
}

void CStatusLine::SetState(bool open, bool paused, bool listening)
{
    // Between Begin and the purge that follows the line's settling nothing
    // is recorded yet: "Recording" is said only once it is.
    m_state = !open      ? QStringLiteral("Stopped")
              : paused   ? QStringLiteral("Paused")
              : listening ? QStringLiteral("Recording")
                          : QStringLiteral("Opening");
    Show();
}

void CStatusLine::SetTotals(qint64 items, qint64 bytes)
{
    const QLocale locale;
    const QString totals = QStringLiteral("%1 items, %2 bytes").arg(locale.toString(items), locale.toString(bytes));
    if (totals == m_totals)
        return;
    m_totals = totals;
    m_totalsThrottle.Request();
}

void CStatusLine::SetConnection(const QString& text)
{
    m_connection = text;
    Show();
}

void CStatusLine::SetProtection(const QString& problem)
{
    m_protection = problem.isEmpty() ? QString() : QStringLiteral("Not protected: %1").arg(problem);
    Show();
}

void CStatusLine::SetNotice(const QString& text)
{
    m_notice = text;
    Show();
}

void CStatusLine::SetDiskWarning(const QString& text)
{
    if (text == m_diskWarning)
        return;
    m_diskWarning = text;
    Show();
}

void CStatusLine::Show()
{
    QStringList parts{m_port, m_state, m_totals};
    if (!m_connection.isEmpty())
        parts.insert(2, m_connection);
    if (!m_notice.isEmpty())
        parts.insert(2, m_notice);
    if (!m_protection.isEmpty())
        parts.append(m_protection);
    if (!m_diskWarning.isEmpty())
        parts.append(m_diskWarning);
    setText(parts.join(QStringLiteral("   \u2022   ")));
}
