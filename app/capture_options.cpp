#include "app/capture_options.h"

#include "capture/capture_engine.h"
#include "platform/device_map.h"

#include <QRegularExpression>

namespace {

// The Record Setting dialog's range for the period and the length.
constexpr int32_t kMinNumber = 1;
constexpr int32_t kMaxNumber = 999;
// termios2 takes any rate; beyond this no UART goes.
constexpr uint32_t kMaxBaudRate = 100'000'000;

} // namespace

void CaptureOptions::ApplyTo(CCaptureEngine& engine) const
{
    if (!strPortName.isEmpty())
        engine.m_strPortName = strPortName.toUpper();
    if (!strDevicePath.isEmpty()) {
        // The device stands in for the port's own for this run: messages
        // still name the port.
        int number = platform::portNumber(engine.m_strPortName);
        if (number == 0) {
            number = 1;
            engine.m_strPortName = QStringLiteral("COM1");
        }
        platform::setRuntimePortOverride(number, strDevicePath);
    }
    if (baudRate)
        engine.m_portSettings.BaudRate = *baudRate;
    if (line) {
        engine.m_portSettings.ByteSize = line->byteSize;
        engine.m_portSettings.Parity = line->parity;
        engine.m_portSettings.StopBits = line->stopBits;
        // As the Port Setting dialog sets it: parity checking for every
        // parity but none.
        if (line->parity == NOPARITY)
            engine.m_portSettings.Flags &= ~uint32_t(kDcbParity);
        else
            engine.m_portSettings.Flags |= kDcbParity;
    }
    if (showFormat)
        engine.m_nShowFormat = *showFormat;
    if (record)
        engine.m_recordSettings = *record;
    if (bRecordAll)
        engine.m_recordSettings.bRecordAll = 1;
    engine.SetMemoryBudget(memoryMaxBytes);
}

bool ParseLineSettings(const QString& text, LineSettings& line)
{
    static const QRegularExpression pattern(QStringLiteral("^([5-8])([NOEMS])(1|1\\.5|2)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    LineSettings result;
    result.byteSize = uint8_t(match.captured(1).toInt());
    switch (match.captured(2).toUpper().at(0).toLatin1()) {
    case 'O': result.parity = ODDPARITY; break;
    case 'E': result.parity = EVENPARITY; break;
    case 'M': result.parity = MARKPARITY; break;
    case 'S': result.parity = SPACEPARITY; break;
    default: result.parity = NOPARITY; break;
    }
    const QString stop = match.captured(3);
    result.stopBits = stop == QLatin1String("1") ? ONESTOPBIT : stop == QLatin1String("2") ? TWOSTOPBITS : ONE5STOPBITS;
    if ((result.stopBits == ONE5STOPBITS) != (result.byteSize == 5) && result.stopBits != ONESTOPBIT)
        return false;
    line = result;
    return true;
}

bool ParseDuration(const QString& text, int64_t& milliseconds)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,9})([smhd]?)$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    int64_t seconds = match.captured(1).toLongLong();
    switch ((match.captured(2).isEmpty() ? 's' : match.captured(2).at(0).toLatin1())) {
    case 'm': seconds *= 60; break;
    case 'h': seconds *= 3600; break;
    case 'd': seconds *= 86400; break;
    default: break;
    }
    if (seconds <= 0)
        return false;
    milliseconds = seconds * 1000;
    return true;
}

bool ParseRecordPeriod(const QString& text, int32_t& unit, int32_t& period)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,3})([smh])$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const int32_t value = match.captured(1).toInt();
    if (value < kMinNumber || value > kMaxNumber)
        return false;
    const char u = match.captured(2).toLatin1().at(0);
    unit = u == 's' ? 0 : u == 'm' ? 1 : 2;
    period = value;
    return true;
}

bool ParseRecordLength(const QString& text, int32_t& seconds)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < kMinNumber || value > kMaxNumber)
        return false;
    seconds = value;
    return true;
}

bool ParseBaudRate(const QString& text, uint32_t& rate)
{
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    if (!ok || value == 0 || value > kMaxBaudRate)
        return false;
    rate = uint32_t(value);
    return true;
}
