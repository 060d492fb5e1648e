// The virtual instrument read back from the slave side of its terminal, as
// the program would: every NMEA checksum valid, every binary frame intact;
// and the --demo port it stands behind.
#include "app/demo_port.h"
#include "app/monitor_dlg.h"
#include "capture/virtual_instrument.h"
#include "platform/device_map.h"
#include "test_support.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const CVirtualInstrument::Timing kFast{100, 30, 150};

// What a stream held, message by message.
struct ParsedStream {
    QList<QList<QByteArray>> gga, rmc;  // fields of each sentence, checksum checked
    QList<QByteArray> sensorLines;
    QList<QByteArray> framePayloads;  // check byte verified
    QByteArray rest;                  // an unfinished message at the end
    QString error;                    // the first thing that was not a message
};

int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Parses messages from `from` on; anything that is not a whole, valid
// message is an error, except an unfinished one at the end.
ParsedStream Parse(const QByteArray& bytes, qsizetype from = 0)
{
    static const QRegularExpression sensor(
        QStringLiteral("^SENS T=-?\\d+\\.\\d\\dC RH=\\d+\\.\\d% P=\\d+\\.\\d\\dhPa\\r\\n$"));
    ParsedStream out;
    qsizetype i = from;
    while (i < bytes.size() && out.error.isEmpty()) {
        const uint8_t first = uint8_t(bytes[i]);
        if (first == '$' || first == 'S') {
            const qsizetype end = bytes.indexOf("\r\n", i);
            if (end < 0)
                break;
            const QByteArray line = bytes.mid(i, end + 2 - i);
            i = end + 2;
            if (first == 'S') {
                if (!sensor.match(QString::fromLatin1(line)).hasMatch())
                    out.error = QStringLiteral("bad sensor line: ") + QString::fromLatin1(line);
                out.sensorLines.append(line);
                continue;
            }
            const qsizetype star = line.lastIndexOf('*');
            if (star != line.size() - 5) {
                out.error = QStringLiteral("no checksum: ") + QString::fromLatin1(line);
                continue;
            }
            const QByteArray body = line.mid(1, star - 1);
            uint8_t sum = 0;
            for (char c : body)
                sum ^= uint8_t(c);
            const int given = HexDigit(line[star + 1]) * 16 + HexDigit(line[star + 2]);
            if (given != sum)
                out.error = QStringLiteral("checksum mismatch: ") + QString::fromLatin1(line);
            const QList<QByteArray> fields = body.split(',');
            if (fields[0] == "GPGGA")
                out.gga.append(fields);
            else if (fields[0] == "GPRMC")
                out.rmc.append(fields);
            else
                out.error = QStringLiteral("unknown sentence: ") + QString::fromLatin1(line);
        } else if (first == CVirtualInstrument::kFrameSync0) {
            if (i + 4 > bytes.size())
                break;
            const int length = uint8_t(bytes[i + 3]);
            if (i + 5 + length > bytes.size())
                break;
            if (uint8_t(bytes[i + 1]) != CVirtualInstrument::kFrameSync1 ||
                uint8_t(bytes[i + 2]) != CVirtualInstrument::kFrameTypeMotion) {
                out.error = QStringLiteral("bad frame header");
                continue;
            }
            uint8_t check = 0;
            for (qsizetype k = i + 2; k < i + 4 + length; ++k)
                check ^= uint8_t(bytes[k]);
            if (check != uint8_t(bytes[i + 4 + length]))
                out.error = QStringLiteral("bad frame check byte");
            out.framePayloads.append(bytes.mid(i + 4, length));
            i += 5 + length;
        } else {
            out.error = QStringLiteral("stray byte 0x%1 at %2").arg(first, 2, 16, QLatin1Char('0')).arg(i);
        }
    }
    out.rest = bytes.mid(i);
    return out;
}

// Reads the slave side raw until `enough` says so or 10 s pass.
QByteArray ReadSlave(const QString& path, const std::function<bool(const QByteArray&)>& enough)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << path.toStdString();
    if (fd < 0)
        return {};
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    QByteArray bytes;
    for (int rounds = 0; rounds < 1000 && !enough(bytes); ++rounds) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 10);
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

bool HasEveryKind(const ParsedStream& s, int count)
{
    return s.gga.size() >= count && s.rmc.size() >= count && s.framePayloads.size() >= count &&
           s.sensorLines.size() >= count;
}

// With `nothingDropped`, the frames' sequence numbers follow each other;
// otherwise they only increase.
void ExpectSoundMessages(const ParsedStream& s, bool nothingDropped = true)
{
    for (const QList<QByteArray>& gga : s.gga) {
        ASSERT_EQ(gga.size(), 15);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{6}\\.\\d\\d$")).match(QString::fromLatin1(gga[1])).hasMatch());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}\\.\\d{4}$")).match(QString::fromLatin1(gga[2])).hasMatch());
        EXPECT_EQ(gga[3], "N");
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{5}\\.\\d{4}$")).match(QString::fromLatin1(gga[4])).hasMatch());
        EXPECT_EQ(gga[6], "1") << "a GPS fix";
    }
    for (const QList<QByteArray>& rmc : s.rmc) {
        ASSERT_EQ(rmc.size(), 13);
        EXPECT_EQ(rmc[2], "A");
        EXPECT_EQ(rmc[9].size(), 6) << "ddmmyy";
    }
    for (int k = 0; k < s.framePayloads.size(); ++k) {
        const QByteArray& payload = s.framePayloads[k];
        ASSERT_EQ(payload.size(), 10);
        EXPECT_TRUE(payload.contains('\0'));
        if (k > 0) {
            const int previous = (uint8_t(s.framePayloads[k - 1][0]) << 8) | uint8_t(s.framePayloads[k - 1][1]);
            const int sequence = (uint8_t(payload[0]) << 8) | uint8_t(payload[1]);
            if (nothingDropped)
                EXPECT_EQ(sequence, (previous + 1) & 0xFFFF);
            else
                EXPECT_GT(sequence, previous);
        }
    }
}

} // namespace

TEST(VirtualInstrument, NmeaChecksumIsTheXorBetweenDollarAndStar)
{
    // The textbook sentence, whose checksum is 47.
    const QByteArray body = "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    EXPECT_EQ(CVirtualInstrument::NmeaChecksum(body), 0x47);
    EXPECT_EQ(CVirtualInstrument::NmeaSentence("A"), QByteArray("$A*41\r\n"));
    EXPECT_EQ(CVirtualInstrument::NmeaSentence(""), QByteArray("$*00\r\n"));
}

TEST(VirtualInstrument, ItsStreamParsesBackWholeFromTheSlaveSide)
{
    CVirtualInstrument instrument(kFast);
    ASSERT_TRUE(instrument.Start());
    const QByteArray bytes =
        ReadSlave(instrument.DevicePath(), [](const QByteArray& b) { return HasEveryKind(Parse(b), 4); });
    instrument.Stop();

    const ParsedStream stream = Parse(bytes);
    EXPECT_TRUE(stream.error.isEmpty()) << stream.error.toStdString();
    ASSERT_TRUE(HasEveryKind(stream, 4)) << bytes.size() << " bytes";
    ExpectSoundMessages(stream);
    EXPECT_EQ(instrument.DroppedMessages(), 0u);
}

TEST(VirtualInstrument, KeepsGoingWhenNobodyReadsAndStopsAtOnce)
{
    CVirtualInstrument instrument({20, 5, 20});
    ASSERT_TRUE(instrument.Start());
    // The terminal fills up, then whole messages are dropped.
    ASSERT_TRUE(testing_support::WaitUntil([&] { return instrument.DroppedMessages() > 0; }, 30000));
    const uint64_t sent = instrument.SentMessages();

    // A reader that comes late still finds whole messages, and more follow.
    const QByteArray bytes = ReadSlave(instrument.DevicePath(), [&](const QByteArray& b) {
        return b.size() > 24 * 1024 && instrument.SentMessages() > sent + 20;
    });
    const ParsedStream stream = Parse(bytes);
    EXPECT_TRUE(stream.error.isEmpty()) << stream.error.toStdString();
    ExpectSoundMessages(stream, false);
    EXPECT_GT(instrument.SentMessages(), sent);

    instrument.Stop();
    EXPECT_FALSE(instrument.IsRunning());
}

TEST(DemoPort, TakesTheFirstNumberFromCom200WhoseDeviceIsAbsent)
{
    const QString present = testing_support::TestDir() + QStringLiteral("/present");
    QFile(present).open(QIODevice::WriteOnly);
    QVector<QString> paths(platform::kMaxPortNumber + 1);
    paths[200] = present;
    paths[201] = present;
    paths[202] = testing_support::TestDir() + QStringLiteral("/gone");
    EXPECT_EQ(FirstFreeDemoPortNumber(paths), 202);
    paths[202] = present;
    EXPECT_EQ(FirstFreeDemoPortNumber(paths), 203);
    for (int n = 200; n <= platform::kMaxPortNumber; ++n)
        paths[n] = present;
    EXPECT_EQ(FirstFreeDemoPortNumber(paths), 0);

    // A stored override to a present device keeps its number.
    testing_support::SetPortOverride(200, present);
    CDemoPort demo(kFast);
    ASSERT_TRUE(demo.Start()) << demo.ErrorText().toStdString();
    EXPECT_EQ(demo.PortName(), QStringLiteral("COM201"));
    EXPECT_EQ(platform::devicePathForPort(QStringLiteral("COM201:")), demo.DevicePath());
    EXPECT_EQ(platform::devicePathsForAllPorts()[201], demo.DevicePath());
    demo.Stop();
    EXPECT_NE(platform::devicePathForPort(QStringLiteral("COM201")), demo.DevicePath());
}

TEST(DemoPort, IsSelectedForTheRunWithoutReplacingTheStoredPortName)
{
    {
        CMonitorDlg first;
        first.Engine().m_strPortName = QStringLiteral("COM7");
        first.SaveSettings();
    }
    CDemoPort demo(kFast);
    ASSERT_TRUE(demo.Start());
    for (const QString& choice : {QString(), QStringLiteral("COM3")}) {
        {
            CMonitorDlg dlg;
            demo.SelectIn(dlg);
            EXPECT_EQ(dlg.Engine().m_strPortName, demo.PortName());
            QTimer::singleShot(0, &dlg, [&] {
                if (!choice.isEmpty())
                    dlg.Engine().m_strPortName = choice;  // as when the user picks a port in Port Setting
                dlg.OnExit();
            });
            dlg.DoModal();
        }
        CMonitorDlg next;
        EXPECT_EQ(next.Engine().m_strPortName, choice.isEmpty() ? QStringLiteral("COM7") : choice);
    }
}

TEST(DemoPort, ACaptureOfTheInstrumentGoesThroughTheSerialPath)
{
    CDemoPort demo(kFast);
    ASSERT_TRUE(demo.Start());
    CMonitorDlg dlg;
    demo.SelectIn(dlg);
    dlg.OnInitDialog();
    dlg.show();
    dlg.OnBegin();
    ASSERT_NE(dlg.Engine().Port(), nullptr);
    auto recorded = [&] {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        QByteArray bytes;
        for (int i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
            bytes.append(reinterpret_cast<const char*>(dlg.Engine().m_items.GetAt(i).GetData()), dlg.Engine().m_items.GetAt(i).GetLength());
        return bytes;
    };
    // The capture may begin part way into a message; parse from the first sentence.
    auto parsed = [&] {
        const QByteArray bytes = recorded();
        return Parse(bytes, std::max<qsizetype>(bytes.indexOf("$GPGGA"), 0));
    };
    EXPECT_TRUE(testing_support::WaitUntil([&] { return HasEveryKind(parsed(), 3); }, 15000));
    dlg.OnStop();
    EXPECT_EQ(dlg.Engine().Port(), nullptr);
    const QByteArray bytes = recorded();
    const ParsedStream stream = Parse(bytes, std::max<qsizetype>(bytes.indexOf("$GPGGA"), 0));
    EXPECT_TRUE(stream.error.isEmpty()) << stream.error.toStdString();
    ASSERT_TRUE(HasEveryKind(stream, 3));
    ExpectSoundMessages(stream, false);  // frames dropped before Begin leave a gap
}
