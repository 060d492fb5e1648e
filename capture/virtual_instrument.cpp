#include "capture/virtual_instrument.h"

#include <QDateTime>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What may wait for the terminal; beyond it new messages are dropped.
constexpr qsizetype kMaxPending = 4096;

// Makes the line raw without echo, so the bytes reach the reader unchanged
// and nothing comes back while the program has not opened the port yet.
bool MakeLineRaw(const QString& slavePath)
{
    const int fd = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    bool ok = tcgetattr(fd, &tio) == 0;
    if (ok) {
        cfmakeraw(&tio);
        cfsetspeed(&tio, B9600);
        ok = tcsetattr(fd, TCSANOW, &tio) == 0;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

// "ddmm.mmmm" or "dddmm.mmmm" of an absolute angle in degrees.
QByteArray DegreesMinutes(double degrees, int degreeDigits)
{
    const double absolute = std::fabs(degrees);
    const int whole = int(absolute);
    const double minutes = (absolute - whole) * 60.0;
    return QByteArray::number(whole).rightJustified(degreeDigits, '0') +
           QByteArray::number(minutes, 'f', 4).rightJustified(7, '0');
}

void AppendBigEndian16(QByteArray& out, int value)
{
    out.append(char((value >> 8) & 0xFF));
    out.append(char(value & 0xFF));
}

} // namespace

CVirtualInstrument::~CVirtualInstrument()
{
    Stop();
}

bool CVirtualInstrument::Start()
{
    Stop();
    if (!m_pty.Open())
        return false;
    if (!MakeLineRaw(m_pty.SlavePath())) {
        const int error = errno;
        m_pty.Close();
        errno = error;
        return false;
    }
    m_bStop = false;
    m_thread = std::thread(&CVirtualInstrument::Run, this);
    return true;
}

void CVirtualInstrument::Stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    m_pty.Close();
    m_pending.clear();
}

uint8_t CVirtualInstrument::NmeaChecksum(const QByteArray& body)
{
    uint8_t sum = 0;
    for (char c : body)
        sum ^= uint8_t(c);
    return sum;
}

QByteArray CVirtualInstrument::NmeaSentence(const QByteArray& body)
{
    return '$' + body + '*' + QByteArray::number(NmeaChecksum(body), 16).toUpper().rightJustified(2, '0') + "\r\n";
}

QByteArray CVirtualInstrument::BinaryFrame(uint8_t type, const QByteArray& payload)
{
    QByteArray frame;
    frame.append(char(kFrameSync0));
    frame.append(char(kFrameSync1));
    frame.append(char(type));
    frame.append(char(uint8_t(payload.size())));
    frame.append(payload);
    uint8_t check = 0;
    for (qsizetype i = 2; i < frame.size(); ++i)
        check ^= uint8_t(frame[i]);
    frame.append(char(check));
    return frame;
}

void CVirtualInstrument::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextGps = start, nextSensor = start + std::chrono::milliseconds(m_timing.nSensorMs / 2),
         nextFrame = start + std::chrono::milliseconds(m_timing.nFrameMs / 2);
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        const auto now = Clock::now();
        if (now >= nextGps) {
            Emit(NextGpsSentences());
            nextGps += std::chrono::milliseconds(m_timing.nGpsMs);
        }
        if (now >= nextSensor) {
            Emit(NextSensorLine());
            nextSensor += std::chrono::milliseconds(m_timing.nSensorMs);
        }
        if (now >= nextFrame) {
            Emit(NextFrame());
            nextFrame += std::chrono::milliseconds(m_timing.nFrameMs);
        }
        Flush();
        // A backlog is retried soon; otherwise sleep until the next message.
        auto wake = std::min({nextGps, nextSensor, nextFrame});
        if (!m_pending.isEmpty())
            wake = std::min(wake, Clock::now() + std::chrono::milliseconds(20));
        m_wake.wait_until(lock, wake, [this] { return m_bStop; });
    }
}

void CVirtualInstrument::Emit(const QByteArray& message)
{
    if (m_pending.size() + message.size() > kMaxPending) {
        ++m_nDropped;
        return;
    }
    m_pending += message;
    ++m_nSent;
}

void CVirtualInstrument::Flush()
{
    // Nothing reads from this side but stray output is taken away, so the
    // terminal never fills up in that direction.
    m_pty.ReadAvailable();
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_pty.MasterFd(), m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            m_pending.clear();  // the terminal is gone; nothing to wait for
        return;
    }
}

QByteArray CVirtualInstrument::NextGpsSentences()
{
    // A slow circle of about 150 m around a fixed point, at walking pace.
    const double t = m_nTick++;
    const double angle = t * 2.0 * M_PI / 120.0;
    const double latitude = 47.3769 + 0.00135 * std::sin(angle);
    const double longitude = 8.5417 + 0.0020 * std::cos(angle);
    const double course = std::fmod(360.0 + 90.0 - angle * 180.0 / M_PI + 360.0 * 4, 360.0);
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    const QByteArray time = utc.toString(QStringLiteral("HHmmss")).toLatin1() + ".00";
    const QByteArray date = utc.toString(QStringLiteral("ddMMyy")).toLatin1();
    const QByteArray lat = DegreesMinutes(latitude, 2) + (latitude >= 0 ? ",N" : ",S");
    const QByteArray lon = DegreesMinutes(longitude, 3) + (longitude >= 0 ? ",E" : ",W");
    const int satellites = 7 + int(t) % 4;

    const QByteArray gga = "GPGGA," + time + ',' + lat + ',' + lon + ",1," +
                           QByteArray::number(satellites).rightJustified(2, '0') + ",0.9," +
                           QByteArray::number(408.0 + 2.0 * std::sin(angle * 3), 'f', 1) + ",M,47.4,M,,";
    const QByteArray rmc = "GPRMC," + time + ",A," + lat + ',' + lon + ",2.7," + QByteArray::number(course, 'f', 1) +
                           ',' + date + ",,,A";
    return NmeaSentence(gga) + NmeaSentence(rmc);
}

QByteArray CVirtualInstrument::NextSensorLine()
{
    // A small linear congruential generator: noise, the same on every run.
    auto noise = [this] {
        m_nRandom = m_nRandom * 1103515245u + 12345u;
        return double((m_nRandom >> 16) & 0x7FFF) / 32767.0 - 0.5;
    };
    const double drift = std::sin(double(m_nSequence) / 40.0);
    const double temperature = 21.5 + 0.8 * drift + 0.05 * noise();
    const double humidity = 45.0 - 3.0 * drift + 0.2 * noise();
    const double pressure = 1013.25 + 0.4 * drift + 0.02 * noise();
    ++m_nSequence;
    return "SENS T=" + QByteArray::number(temperature, 'f', 2) + "C RH=" + QByteArray::number(humidity, 'f', 1) +
           "% P=" + QByteArray::number(pressure, 'f', 2) + "hPa\r\n";
}

QByteArray CVirtualInstrument::NextFrame()
{
    QByteArray payload;
    AppendBigEndian16(payload, m_nFrameSequence++);
    payload.append('\0');  // status: all well
    payload.append('\0');  // reserved
    const double phase = double(m_nSequence) / 7.0;
    AppendBigEndian16(payload, int(std::lround(120 * std::sin(phase))) & 0xFFFF);
    AppendBigEndian16(payload, int(std::lround(-80 * std::cos(phase))) & 0xFFFF);
    AppendBigEndian16(payload, 1000);  // 1 g, in thousandths
    return BinaryFrame(kFrameTypeMotion, payload);
}
