// `vantrel --capture` and `vantrel --list`, run as the built program with no
// display at all, against pseudo-terminals as the far end.
#include "app/headless_capture.h"
#include "capture/capture_engine.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"
#include "data/journal_reader.h"
#include "data/journal_support.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "capture_probe.h"
#include "program.h"
#include "small_disk.h"
#include "test_support.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::PseudoTerminal;
using testing_support::FileBytes;
using testing_support::InTest;
using testing_support::kProbe;
using testing_support::ProbeUntil;
using testing_support::Program;
using testing_support::TestDir;
using testing_support::WaitUntilOpened;

namespace {

// Probes until the capture has recorded one into the Send Data file, so
// that what follows is certain to be recorded. The probes sent before the
// capture listened are purged, as at every Begin.
void WaitUntilRecording(PseudoTerminal& far, const QString& sendDataPath)
{
    EXPECT_TRUE(ProbeUntil(far, [&] { return QFileInfo(sendDataPath).size() > 0; })) << "nothing was recorded";
}

// The recorded bytes after the probes.
QByteArray AfterProbes(const QByteArray& recorded)
{
    qsizetype at = 0;
    while (at < recorded.size() && recorded[at] == kProbe)
        ++at;
    EXPECT_GT(at, 0) << "no probe was recorded";
    return recorded.mid(at);
}

// The items of a Send Data file, as Save would have them in its list.
QVector<CDataItem> ParseSendData(const QByteArray& bytes)
{
    QVector<CDataItem> items;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(',');
        EXPECT_EQ(fields.size(), 3) << line.toStdString();
        if (fields.size() != 3)
            continue;
        const QByteArray data = QByteArray::fromHex(fields[2].mid(1, fields[2].size() - 2).replace(' ', ""));
        CDataItem item(reinterpret_cast<const uint8_t*>(data.constData()), int(data.size()));
        item.SetName(QString::fromLatin1(fields[0].mid(1, fields[0].size() - 2)));
        const QByteArray kind = fields[1];
        item.SetKind(kind == "String" ? 0 : kind == "Hex" ? 1 : kind == "Str&Symbol" ? 2 : 3);
        items.append(item);
    }
    return items;
}

QByteArray Bytes(const QVector<CDataItem>& items)
{
    QByteArray all;
    for (const CDataItem& item : items)
        all.append(reinterpret_cast<const char*>(item.GetData()), item.GetLength());
    return all;
}

// What Save writes for these items, in both formats.
struct Saved {
    QByteArray log, sendData;
};
Saved SaveOf(const QVector<CDataItem>& items)
{
    CCaptureEngine dlg;
    for (const CDataItem& item : items)
        dlg.m_items.Add(item);
    Saved saved;
    QBuffer log(&saved.log), sendData(&saved.sendData);
    log.open(QIODevice::WriteOnly);
    sendData.open(QIODevice::WriteOnly);
    EXPECT_TRUE(dlg.WriteOutputText(log));
    dlg.WriteSendData(sendData);
    return saved;
}

QStringList Parts(const QString& pattern)
{
    const QFileInfo info(pattern);
    QStringList names = QDir(info.path()).entryList({info.fileName()}, QDir::Files, QDir::Name);
    for (QString& name : names)
        name = info.path() + QLatin1Char('/') + name;
    return names;
}

// Whether the first of the parts matching `pattern` holds anything yet.
bool FirstPartRecorded(const QString& pattern)
{
    const QStringList parts = Parts(pattern);
    return !parts.isEmpty() && QFileInfo(parts.first()).size() > 0;
}

} // namespace

TEST(HeadlessCapture, BothFilesHoldExactlyWhatSaveWritesForTheSameCapture)
{
    for (const bool hex : {false, true}) {
        SCOPED_TRACE(hex ? "hex" : "text");
        PseudoTerminal far;
        ASSERT_TRUE(far.Open());
        const QString log = InTest(QStringLiteral("capture%1.log").arg(hex));
        const QString sendData = InTest(QStringLiteral("capture%1.sds").arg(hex));
        QStringList arguments{"--capture", "--device", far.SlavePath(), "--log", log, "--send-data", sendData};
        if (hex)
            arguments << "--hex";
        Program program(arguments);
        WaitUntilRecording(far, sendData);
        QByteArray sent;

        // Text, a zero byte in the middle, bytes that are not UTF-8, and
        // more than one read's worth at once.
        QByteArray binary;
        for (int i = 0; i < 3000; ++i)
            binary += char(i * 7);
        for (const QByteArray& chunk : {QByteArray("$GPGGA,092750.000,5321.6802,N*76\r\n"),
                                        QByteArray("before\0after", 12), QByteArray("\xff\xfe caf\xc3\xa9\n"), binary}) {
            ASSERT_TRUE(far.WriteAll(chunk));
            sent += chunk;
            QThread::msleep(60);
        }
        ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines().isEmpty()) << program.ErrorLines().join('\n').toStdString();

        const QVector<CDataItem> items = ParseSendData(FileBytes(sendData));
        EXPECT_EQ(AfterProbes(Bytes(items)), sent);  // every byte, in order
        for (const CDataItem& item : items)
            EXPECT_EQ(item.GetKind(), hex ? 1 : 0);
        const Saved saved = SaveOf(items);
        EXPECT_EQ(FileBytes(sendData), saved.sendData);
        EXPECT_EQ(FileBytes(log), saved.log);
        EXPECT_TRUE(FileBytes(log).startsWith("Welcome to Vantrel \r\n Ver 0.4\r\nRec :"));
    }
}

// A platform asked for that cannot start (X11 with no display) would end a
// program that loads one; the capture loads none and records anyway.
TEST(HeadlessCapture, RunsWithoutAnyWindowSystemEvenWhenOneIsAskedFor)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString log = InTest(QStringLiteral("nodisplay.log"));
    const QString sendData = InTest(QStringLiteral("nodisplay.sds"));
    Program program({"--capture", "--device", far.SlavePath(), "--log", log, "--send-data", sendData},
                    QStringLiteral("xcb"));
    WaitUntilRecording(far, sendData);
    ASSERT_TRUE(program.Running());
    QFile maps(QStringLiteral("/proc/%1/maps").arg(program.Pid()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    ASSERT_TRUE(mapped.contains("libQt6Core")) << "not the program's map";
    for (const char* plugin : {"libqxcb", "libqoffscreen", "libqwayland", "/platforms/"})
        EXPECT_FALSE(mapped.contains(plugin)) << plugin;
    ASSERT_TRUE(far.WriteAll("no display\r\n"));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return FileBytes(log).endsWith("no display\r\n"); }));
    EXPECT_EQ(program.Stop(), 0);
    EXPECT_TRUE(program.ErrorLines().isEmpty()) << program.ErrorLines().join(QLatin1Char('\n')).toStdString();
}

TEST(HeadlessCapture, TheSerialLogGoesToStandardOutputWhenAskedOrWhenNoFileIsNamed)
{
    {
        PseudoTerminal far;
        ASSERT_TRUE(far.Open());
        const QString sendData = InTest(QStringLiteral("stdout.sds"));
        Program program({"--capture", "--device", far.SlavePath(), "--send-data", sendData, "--log", "-"});
        WaitUntilRecording(far, sendData);
        ASSERT_TRUE(far.WriteAll("line one\r\nline two\r\n"));
        QThread::msleep(100);
        ASSERT_EQ(program.Stop(), 0);
        EXPECT_EQ(program.Out(), SaveOf(ParseSendData(FileBytes(sendData))).log);
        EXPECT_TRUE(program.Out().endsWith("line two\r\n")) << program.Out().toStdString();
    }
    {
        PseudoTerminal far;
        ASSERT_TRUE(far.Open());
        Program program({"--capture", "--device", far.SlavePath()});
        ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
        QThread::msleep(500);  // configured and listening
        ASSERT_TRUE(far.WriteAll("line one\r\nline two\r\n"));
        QThread::msleep(300);
        ASSERT_EQ(program.Stop(), 0);
        QByteArray text = program.Out();
        ASSERT_TRUE(text.startsWith("Welcome to Vantrel \r\n Ver 0.4\r\nRec :")) << text.toStdString();
        EXPECT_EQ(text.mid(29).replace("\r\nRec :", ""), QByteArray("line one\r\nline two\r\n"));
    }
}

TEST(HeadlessCapture, SigtermInTheMiddleOfAFloodLosesNothingThatWasSent)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString sendData = InTest(QStringLiteral("flood.sds"));
    Program program({"--capture", "--device", far.SlavePath(), "--send-data", sendData});
    WaitUntilRecording(far, sendData);

    QByteArray stream;
    for (int i = 0; i < 8 << 20; ++i)
        stream += char('A' + i % 23);
    std::atomic<qsizetype> accepted{0};
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        constexpr qsizetype kPiece = 4096;
        for (qsizetype at = 0; at < stream.size() && !stop; at += kPiece) {
            if (!far.WriteAll(stream.mid(at, kPiece), 3000))
                break;
            accepted = at + kPiece;
        }
    });
    QDeadlineTimer deadline(30000);
    while (accepted < (512 << 10) && !deadline.hasExpired())
        QThread::msleep(5);
    // Everything accepted by now is in the terminal's buffer or already read.
    const qsizetype sentBeforeStop = accepted;
    program.Signal(SIGTERM);
    stop = true;
    flood.join();
    ASSERT_EQ(program.Wait(), 0);

    const QByteArray recorded = Bytes(ParseSendData(FileBytes(sendData)));
    const QByteArray flooded = AfterProbes(recorded);
    EXPECT_GE(flooded.size(), sentBeforeStop);
    EXPECT_TRUE(stream.startsWith(flooded)) << "the recorded bytes are not the stream's beginning";
}

TEST(HeadlessCapture, SplitBySizeGivesSortedPartsThatTogetherAreOneFile)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    Program program({"--capture", "--device", far.SlavePath(), "--split", "8k", "--log",
                     InTest(QStringLiteral("parts.log")), "--send-data", InTest(QStringLiteral("parts.sds"))});
    // The parts' names are not known in advance: wait for the first item.
    QByteArray sent;
    ASSERT_TRUE(ProbeUntil(far, [] { return FirstPartRecorded(InTest(QStringLiteral("parts-*.sds"))); }));
    sent.clear();
    for (int i = 0; i < 60; ++i) {
        const QByteArray line = QByteArray("reading ") + QByteArray::number(i) + QByteArray(300, '=') + "\r\n";
        ASSERT_TRUE(far.WriteAll(line));
        sent += line;
        QThread::msleep(5);
    }
    ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();

    for (const char* kind : {"log", "sds"}) {
        SCOPED_TRACE(kind);
        const QStringList parts = Parts(InTest(QStringLiteral("parts-*.%1").arg(QLatin1String(kind))));
        EXPECT_GE(parts.size(), 3);
        QByteArray joined;
        for (const QString& part : parts) {
            EXPECT_TRUE(QFileInfo(part).fileName().contains(QRegularExpression(
                QStringLiteral("^parts-[0-9]{8}-[0-9]{6}(_[0-9]{3})?\\.%1$").arg(QLatin1String(kind)))))
                << part.toStdString();
            EXPECT_LE(QFileInfo(part).size(), 8192) << part.toStdString();
            joined += FileBytes(part);
        }
        static QVector<CDataItem> items;
        if (QLatin1String(kind) == QLatin1String("log")) {
            items = ParseSendData([] {
                QByteArray all;
                for (const QString& part : Parts(InTest(QStringLiteral("parts-*.sds"))))
                    all += FileBytes(part);
                return all;
            }());
            EXPECT_EQ(AfterProbes(Bytes(items)), sent);
            EXPECT_EQ(joined, SaveOf(items).log);
        } else {
            EXPECT_EQ(joined, SaveOf(items).sendData);
        }
    }
}

TEST(HeadlessCapture, OverridesApplyForThisRunOnlyAndTheSettingsFileIsUntouched)
{
    {
        CCaptureEngine stored;
        stored.m_strPortName = QStringLiteral("COM7");
        stored.m_nShowFormat = 0;
        stored.m_recordSettings = RecordSettings{0, 10, 3, 0};  // a recording window, not everything
        stored.SaveSettings();
    }
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    testing_support::SetPortOverride(5, far.SlavePath());
    const QByteArray settingsBefore = FileBytes(platform::registryFilePath());
    ASSERT_FALSE(settingsBefore.isEmpty());

    const QString sendData = InTest(QStringLiteral("over.sds"));
    Program program({"--capture", "--port", "com5", "--baud", "57600", "--line", "7O2", "--hex", "--all",
                     "--send-data", sendData, "--log", InTest(QStringLiteral("over.log"))});
    WaitUntilRecording(far, sendData);
    // The line as the far end sees it (a terminal pair shares one setting;
    // it keeps 8 data bits and no parity bit whatever is asked, but shows
    // the kind of parity, the stop bits and the rate).
    termios2 line{};
    ASSERT_EQ(::ioctl(far.MasterFd(), TCGETS2, &line), 0);
    EXPECT_TRUE(line.c_cflag & PARODD);
    EXPECT_FALSE(line.c_cflag & CMSPAR);
    EXPECT_TRUE(line.c_cflag & CSTOPB);
    EXPECT_EQ(line.c_ospeed, 57600u);
    ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();
    EXPECT_TRUE(program.ErrorLines().isEmpty()) << program.ErrorLines().join('\n').toStdString();

    // Recorded from COM5 as Hex, though the stored settings say COM7 and
    // String; and the settings file is exactly as it was.
    const QByteArray lines = FileBytes(sendData);
    EXPECT_TRUE(lines.contains(",Hex,\"7e ")) << lines.toStdString();
    EXPECT_FALSE(lines.contains(",String,"));
    EXPECT_EQ(FileBytes(platform::registryFilePath()), settingsBefore);
}

TEST(HeadlessCapture, TheRecordingWindowDropsWhatComesAfterIt)
{
    // A window of the first second of every 999: a chunk 2.5 s after the
    // start is dropped. Stored or given with --every, the window applies;
    // --all over a stored window records the chunk.
    struct Case {
        const char* name;
        RecordSettings stored;
        QStringList options;
        bool recorded;
    };
    const RecordSettings window{0, 999, 1, 0}, everything{1, 1, 1, 1};
    for (const Case& c : {Case{"stored window", window, {}, false}, Case{"--all", window, {"--all"}, true},
                          Case{"--every", everything, {"--every", "999s", "--length", "1"}, false}}) {
        SCOPED_TRACE(c.name);
        {
            CCaptureEngine stored;
            stored.m_recordSettings = c.stored;
            stored.SaveSettings();
        }
        PseudoTerminal far;
        ASSERT_TRUE(far.Open());
        const QString sendData = InTest(QStringLiteral("window-%1.sds").arg(QLatin1String(c.name).mid(2, 3)));
        Program program(QStringList{"--capture", "--device", far.SlavePath(), "--send-data", sendData} + c.options);
        ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
        QThread::msleep(2500);
        ASSERT_TRUE(far.WriteAll("late\n"));
        QThread::msleep(500);
        ASSERT_EQ(program.Stop(), 0);
        EXPECT_EQ(FileBytes(sendData).contains("6c 61 74 65 0a"), c.recorded) << FileBytes(sendData).toStdString();
    }
}

TEST(HeadlessCapture, RefusedOptionsAreOneLineAndStatus2AndTouchNothing)
{
    const QString log = InTest(QStringLiteral("never.log"));
    const QList<QStringList> refused = {
        {"--capture", "--baud", "0"},          {"--capture", "--baud", "fast"},
        {"--capture", "--line", "9N1"},        {"--capture", "--line", "8X1"},
        {"--capture", "--line", "8N1.5"},      {"--capture", "--line", "5N2"},
        {"--capture", "--port", "COM0"},       {"--capture", "--port", "LPT1"},
        {"--capture", "--every", "10s"},       {"--capture", "--length", "3"},
        {"--capture", "--every", "0s", "--length", "1"},
        {"--capture", "--every", "1000m", "--length", "1"},
        {"--capture", "--every", "10", "--length", "1"},
        {"--capture", "--every", "10s", "--length", "1000"},
        {"--capture", "--all", "--every", "10s", "--length", "1"},
        {"--capture", "--hex", "--text"},      {"--capture", "--split", "0"},
        {"--capture", "--split", "weekly"},    {"--capture", "--split", "1M", "--log", "-"},
        {"--capture", "--duration", "0"},      {"--capture", "--duration", "5x"},
        {"--capture", "--bytes", "0"},         {"--capture", "--log", "-", "--send-data", "-"},
        {"--capture", "--keep", "2"},          {"--capture", "--split", "1M", "--keep", "0"},
        {"--capture", "--split", "1M", "--keep", "x"}, {"--capture", "--journal-max", "lots"},
        {"--capture", "--journal-max", "0"}, {"--capture", "--memory-max", "512K"}, {"--capture", "--memory-max", "x"},
        {"--capture", "--jsonl", "-", "--timed-log", "-"}, {"--capture", "--jsonl", "-", "--log", "-"},
        {"--capture", "--jsonl", ""},          {"--timed-log", "x.log"},
        {"--capture", "--list"},               {"--capture", "--demo"},
        {"--baud", "9600"},                    {"--log", "x.log"},
        {"--capture", "-style", "fusion"},     {"--list", "-platform", "offscreen"},
    };
    for (QStringList arguments : refused) {
        if (!arguments.contains("--log"))
            arguments << "--log" << log;
        Program program(arguments);
        EXPECT_EQ(program.Wait(), 2) << arguments.join(' ').toStdString();
        const QStringList lines = program.ErrorLines();
        EXPECT_EQ(lines.size(), 1) << arguments.join(' ').toStdString() << "\n" << lines.join('\n').toStdString();
        EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("vantrel: "))) << lines.value(0).toStdString();
        EXPECT_TRUE(program.Out().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(log)) << arguments.join(' ').toStdString();
    }
}

TEST(HeadlessCapture, APortThatCannotBeOpenedIsOneLineWithItsOwnStatus)
{
    // Nothing behind COM9 in the test's device tree.
    {
        Program program({"--capture", "--port", "COM9", "--send-data", InTest(QStringLiteral("a.sds"))});
        EXPECT_EQ(program.Wait(), kExitPortUnavailable);
        ASSERT_EQ(program.ErrorLines().size(), 1) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines()[0].contains(QStringLiteral("cannot open COM9")));
        EXPECT_TRUE(program.ErrorLines()[0].contains(QStringLiteral("no such device")));
    }
    // Held by another program, as serial tools hold a port.
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const int holder = ::open(QFile::encodeName(far.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    {
        Program program({"--capture", "--device", far.SlavePath(), "--send-data", InTest(QStringLiteral("b.sds"))});
        EXPECT_EQ(program.Wait(), kExitPortBusy);
        ASSERT_EQ(program.ErrorLines().size(), 1) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines()[0].contains(QStringLiteral("in use by another program")));
    }
    ::close(holder);
    // Permission: the tests may run as root, who is never refused, so the
    // verdict is checked on the error itself.
    EXPECT_EQ(CHeadlessCapture::ExitStatusForOpenError(EACCES), kExitPermission);
    const QString text = CHeadlessCapture::DescribeOpenError(QStringLiteral("COM33"), QStringLiteral("/dev/ttyUSB0"), EACCES);
    EXPECT_TRUE(text.contains(QStringLiteral("permission denied")) && text.contains(QStringLiteral("dialout")))
        << text.toStdString();
}

TEST(HeadlessCapture, AFileThatCannotBeWrittenEndsWithStatus6)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    {
        // A folder that does not exist: refused before the port is opened.
        Program program({"--capture", "--device", far.SlavePath(), "--log", InTest(QStringLiteral("no/such/a.log"))});
        EXPECT_EQ(program.Wait(), kExitFileError);
        ASSERT_EQ(program.ErrorLines().size(), 1) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines()[0].contains(QStringLiteral("no/such/a.log")));
    }
    {
        // A disk that stays full: said once, retried while the capture goes
        // on, and the run ends with the file incomplete.
        Program program({"--capture", "--device", far.SlavePath(), "--send-data", "/dev/full"});
        ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
        for (int i = 0; i < 30; ++i) {
            far.WriteAll("data\n");
            QThread::msleep(100);
        }
        EXPECT_EQ(program.Wait(1000), -1) << "ended at the first failure";
        EXPECT_EQ(program.Stop(), kExitFileError);
        ASSERT_EQ(program.ErrorLines().size(), 1) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines()[0].contains(QString::fromLocal8Bit(std::strerror(ENOSPC))))
            << program.ErrorLines()[0].toStdString();
    }
}

TEST(HeadlessCapture, AFileThatFailsMidRunCatchesUpWhenTheDiskHasRoomAgain)
{
    const QString small = InTest(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    const SmallDisk disk(small);
    if (!disk.Mounted())
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";

    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString target = small + QStringLiteral("/rig.sds");
    // The journal on the same disk: both writers fail and both heal.
    const QByteArray stateHome = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(small));
    Program program({"--capture", "--device", far.SlavePath(), "--send-data", target});
    qputenv("XDG_STATE_HOME", stateHome);
    ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
    WaitUntilRecording(far, target);

    // Fill the disk to the last byte.
    const QString filler = small + QStringLiteral("/filler");
    {
        QFile fill(filler);
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (fill.write(block) == block.size() && fill.flush()) {
        }
    }
    QByteArray sent;
    auto send = [&](int lines) {
        for (int i = 0; i < lines; ++i) {
            const QByteArray line = QByteArray::number(sent.size()) + " line of the instrument\n";
            ASSERT_TRUE(far.WriteAll(line));
            sent += line;
            QThread::msleep(20);
        }
    };
    send(100);  // more than the disk holds now
    ASSERT_TRUE(QFile::remove(filler));
    send(20);
    // Caught up by itself, before the run ends.
    auto whole = [&] {  // the bytes of the whole lines written so far
        QByteArray bytes;
        for (const QByteArray& line : FileBytes(target).split('\n'))
            if (const QList<QByteArray> fields = line.split(','); fields.size() == 3 && fields[2].endsWith('"'))
                bytes += QByteArray::fromHex(fields[2].mid(1, fields[2].size() - 2).replace(' ', ""));
        return bytes;
    };
    EXPECT_TRUE(testing_support::WaitUntil([&] { return whole().endsWith(sent); }, 20000));
    auto journal = [&] {  // the items' bytes in the journal
        QByteArray bytes;
        for (const QString& name : QDir(small + QStringLiteral("/vantrel")).entryList({"*.vjournal"})) {
            const QByteArray file = FileBytes(small + QStringLiteral("/vantrel/") + name);
            ReadJournal(reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size()),
                        [&](const JournalItem& item) { bytes.append(reinterpret_cast<const char*>(item.data), item.length); });
        }
        return bytes;
    };
    EXPECT_TRUE(testing_support::WaitUntil([&] { return journal().endsWith(sent); }, 20000));
    EXPECT_EQ(program.Stop(), kExitStopped);
    EXPECT_EQ(AfterProbes(Bytes(ParseSendData(FileBytes(target)))), sent);
    // Each told once that it failed, once that it writes again.
    const QStringList lines = program.ErrorLines();
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(QString::fromLocal8Bit(std::strerror(ENOSPC))).size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(target + QStringLiteral(" is written again")).size(), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(QStringLiteral("protected on disk again")).size(), 1) << lines.join('\n').toStdString();
}

TEST(HeadlessCapture, EndsByItselfAfterADurationAByteCountOrALostDevice)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    {
        Program program({"--capture", "--device", far.SlavePath(), "--duration", "1s", "--log", InTest("d.log")});
        EXPECT_EQ(program.Wait(15000), 0);
    }
    {
        const QString sendData = InTest(QStringLiteral("bytes.sds"));
        Program program({"--capture", "--device", far.SlavePath(), "--bytes", "1k", "--send-data", sendData});
        ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
        QDeadlineTimer deadline(10000);
        while (program.Running() && !deadline.hasExpired()) {
            far.WriteAll(QByteArray(100, 'b'));
            QThread::msleep(20);
        }
        EXPECT_EQ(program.Wait(), 0);
        EXPECT_GE(Bytes(ParseSendData(FileBytes(sendData))).size(), 1024);
    }
    {
        const QString sendData = InTest(QStringLiteral("lost.sds"));
        Program program({"--capture", "--device", far.SlavePath(), "--exit-on-loss", "--send-data", sendData});
        WaitUntilRecording(far, sendData);
        far.Close();  // the adapter is pulled
        EXPECT_EQ(program.Wait(), kExitPortLost);
        ASSERT_EQ(program.ErrorLines().size(), 1) << program.ErrorLines().join('\n').toStdString();
        EXPECT_TRUE(program.ErrorLines()[0].contains(QStringLiteral("was lost")))
            << program.ErrorLines()[0].toStdString();
    }
}

TEST(HeadlessCapture, ListShowsThePresentPortsWithTheirLinkAndDriver)
{
    PseudoTerminal usb, other;
    ASSERT_TRUE(usb.Open());
    ASSERT_TRUE(other.Open());
    const QString root = platform::deviceRoot();
    auto link = [](const QString& target, const QString& path) {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_TRUE(QFile::link(target, path)) << path.toStdString();
    };
    link(usb.SlavePath(), root + "/dev/ttyUSB0");
    link(root + "/dev/ttyUSB0", root + "/dev/serial/by-id/usb-Test_Adapter_A1-if00-port0");
    QDir().mkpath(root + "/sys/bus/usb-serial/drivers/ftdi_sio");
    link(root + "/sys/bus/usb-serial/drivers/ftdi_sio", root + "/sys/class/tty/ttyUSB0/device/driver");
    testing_support::SetPortOverride(200, other.SlavePath());

    Program program({"--list"});
    ASSERT_EQ(program.Wait(), 0);
    EXPECT_EQ(QString::fromLocal8Bit(program.Out()),
              QStringLiteral("COM33\t%1/dev/ttyUSB0\t%1/dev/serial/by-id/usb-Test_Adapter_A1-if00-port0\tftdi_sio\n"
                             "COM200\t%2\t-\t-\n")
                  .arg(root, other.SlavePath()));
    EXPECT_TRUE(program.ErrorLines().isEmpty());
}

TEST(HeadlessCapture, OnATerminalOneStatusLineIsRedrawnAndQuietDrawsNone)
{
    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "--quiet" : "status line");
        PseudoTerminal far, console;
        ASSERT_TRUE(far.Open());
        ASSERT_TRUE(console.Open());  // standard error is this terminal
        const QByteArray consolePath = QFile::encodeName(console.SlavePath());
        QProcess process;
        process.setProcessEnvironment(testing_support::EnvironmentWithoutDisplay());
        process.setChildProcessModifier([consolePath] {
            const int fd = ::open(consolePath.constData(), O_RDWR | O_NOCTTY);
            if (fd >= 0)
                ::dup2(fd, STDERR_FILENO);
        });
        const QString sendData = InTest(QStringLiteral("status%1.sds").arg(quiet));
        QStringList arguments{"--capture", "--device", far.SlavePath(), "--send-data", sendData};
        if (quiet)
            arguments << "--quiet";
        process.start(QStringLiteral(VANTREL_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted());
        WaitUntilRecording(far, sendData);
        ASSERT_TRUE(far.WriteAll(QByteArray(3000, 'x')));
        QThread::msleep(1200);
        ::kill(pid_t(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 0);

        QByteArray shown;
        QDeadlineTimer deadline(2000);
        while (!deadline.hasExpired()) {
            const QByteArray more = console.ReadAvailable();
            if (more.isEmpty() && !shown.isEmpty())
                break;
            shown += more;
            QThread::msleep(20);
        }
        if (quiet) {
            EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
            continue;
        }
        // Redrawn in place on one line, which ends by staying on screen.
        EXPECT_GE(shown.count('\r') - shown.count("\r\n"), 3) << shown.toStdString();
        EXPECT_EQ(shown.count('\n'), 1);
        const QByteArray last = shown.mid(shown.lastIndexOf('\r', shown.size() - 3) + 1);
        for (const char* piece : {"COM1 ", " 9600 8-N-1 | ", " items | ", " KiB | ", "/s | stopped"})
            EXPECT_TRUE(last.contains(piece)) << piece << " in " << last.toStdString();
    }
}

namespace {

// The sanitizers reserve terabytes of address space, so a cap on it cannot
// run a sanitized program out of memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The address space process `pid` holds now, in bytes (0 when unknown).
rlim_t AddressSpaceOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) * 1024;
    return 0;
}

} // namespace

// Memory that runs out and a memory budget that fills stop a capture the
// same way: status 8, one message, and every item recorded before the stop
// in the file, the stream's beginning byte for byte.
TEST(HeadlessCapture, RunningOutOfMemoryOrPastTheBudgetStopsWithStatus8AndEveryItemRecordedBeforeIsInTheFile)
{
    struct Case {
        const char* what;
        QStringList options;
        bool capAddressSpace;
        const char* message;
    };
    const Case cases[] = {
        {"an allocation fails", {}, true, "Out of memory: the capture stopped after (\\d+) items"},
        {"the budget is full", {QStringLiteral("--memory-max"), QStringLiteral("4M")}, false,
         "Memory budget full: 4 MiB of items are not on disk yet, and the capture stopped after (\\d+) items"},
    };
    // Every 4 bytes their own index, so any byte lost, doubled or moved
    // shows in the comparison below.
    std::vector<uint32_t> words(16 << 20);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = uint32_t(i);
    const QByteArray stream = QByteArray::fromRawData(reinterpret_cast<const char*>(words.data()),
                                                      qsizetype(words.size() * sizeof(uint32_t)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.capAddressSpace && kSanitized) {
            std::printf("skipped (%s): a sanitized build reserves more address space than a cap allows\n", c.what);
            continue;
        }
        PseudoTerminal far;
        ASSERT_TRUE(far.Open());
        // Nothing lets the items leave memory: the journal cannot be written
        // (its folder would be inside a plain file), and the file they go to
        // is standard output, which this test does not read while it floods.
        const QString notAFolder = InTest(QStringLiteral("state-is-a-file"));
        QFile(notAFolder).open(QIODevice::WriteOnly);
        // One allocator arena for every thread, so the cap below is not spent
        // at once on another thread's reserved heap.
        Program program(QStringList{"--capture", "--device", far.SlavePath(), "--send-data", "-"} + c.options, {},
                        {{QStringLiteral("MALLOC_ARENA_MAX"), QStringLiteral("1")},
                         {QStringLiteral("XDG_STATE_HOME"), notAFolder}});
        ASSERT_TRUE(WaitUntilOpened(program.Pid(), far.SlavePath()));
        QThread::msleep(300);  // past the settle time, so the stream's first bytes count

        if (c.capAddressSpace) {
            // From now on the program may take only a little more address
            // space than it holds, which the recorded chunks soon need.
            const rlim_t holds = AddressSpaceOf(program.Pid());
            ASSERT_GT(holds, rlim_t(0));
            const rlimit cap{holds + (24 << 20), holds + (24 << 20)};
            ASSERT_EQ(prlimit(pid_t(program.Pid()), RLIMIT_AS, &cap, nullptr), 0) << std::strerror(errno);
        }

        // The flood goes on, at whatever pace the program reads, until the
        // stream ends or the program reads no more (its receive thread ends
        // at the stop, and the stop waits for standard output).
        qsizetype sent = 0;
        constexpr qsizetype kPiece = 64 << 10;
        for (int idle = 0; sent < stream.size() && idle < 30;) {
            const ssize_t n =
                ::write(far.MasterFd(), stream.constData() + sent, size_t(std::min(kPiece, stream.size() - sent)));
            if (n > 0) {
                sent += n;
                idle = 0;
            } else {
                pollfd out{far.MasterFd(), POLLOUT, 0};
                idle += ::poll(&out, 1, 100) > 0 ? 0 : 1;
                if (out.revents & POLLHUP)
                    break;  // the program has closed the port: it stopped
            }
        }

        // Reading standard output at last lets the program go on to its stop.
        ASSERT_EQ(program.Wait(120000), kExitOutOfMemory) << program.ErrorLines().join('\n').toStdString();
        const QStringList errors = program.ErrorLines();
        const QRegularExpression message(QLatin1String(c.message));
        const QStringList stop = errors.filter(message);
        ASSERT_EQ(stop.size(), 1) << errors.join('\n').toStdString();
        // Beside it only the notes on what the journal and standard output cannot protect.
        EXPECT_EQ(errors.size() - errors.filter(QStringLiteral("no longer protected")).size() -
                      errors.filter(QStringLiteral("cannot be synced")).size(),
                  1)
            << errors.join('\n').toStdString();

        // The output holds every item the capture had when it stopped, and
        // they are the stream's beginning, byte for byte.
        const QVector<CDataItem> items = ParseSendData(program.Out());
        EXPECT_EQ(items.size(), message.match(stop[0]).captured(1).toLongLong());
        const QByteArray flooded = Bytes(items);
        EXPECT_GT(flooded.size(), 1 << 20);
        EXPECT_TRUE(stream.startsWith(flooded)) << "the recorded bytes are not the stream's beginning";
    }
}

TEST(HeadlessCapture, KeepHoldsOnlyTheNewestPartsOfARing)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString sendData = InTest(QStringLiteral("ring.sds"));
    Program program({"--capture", "--device", far.SlavePath(), "--split", "8k", "--keep", "2", "--send-data", sendData});
    ASSERT_TRUE(ProbeUntil(far, [] { return FirstPartRecorded(InTest(QStringLiteral("ring-*.sds"))); }));
    QByteArray sent;
    for (int i = 0; i < 80; ++i) {
        const QByteArray line = QByteArray("reading ") + QByteArray::number(i) + QByteArray(300, '=') + "\r\n";
        ASSERT_TRUE(far.WriteAll(line));
        sent += line;
        QThread::msleep(5);
    }
    ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();
    const QStringList parts = Parts(InTest(QStringLiteral("ring-*.sds")));
    ASSERT_EQ(parts.size(), 2);
    QByteArray kept;
    for (const QString& part : parts)
        kept += FileBytes(part);
    // The newest parts, whole: the end of what was sent, from an item's start.
    const QByteArray tail = Bytes(ParseSendData(kept));
    EXPECT_GT(tail.size(), 8 * 1024 / 3);
    EXPECT_TRUE(sent.endsWith(tail)) << parts.join(' ').toStdString();
}

namespace {

// The journals in the state folder and their size together.
struct StateFolder {
    QStringList files;
    qint64 bytes = 0;
};
StateFolder LookAtStateFolder()
{
    StateFolder state;
    const QDir dir(JournalFolder());
    for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.vjournal"), QStringLiteral("*.part")}, QDir::Files)) {
        state.files.append(info.fileName());
        state.bytes += info.size();
    }
    return state;
}

// A journal that an earlier run on `port` left: `items` recorded, the first
// `saved` of them on disk in its files.
void LeaveJournal(const QString& port, const QList<QByteArray>& items, int64_t saved)
{
    JournalModel model;
    CCaptureJournal journal(model.Source(), JournalFolder());
    PortSettings line{};
    line.BaudRate = 9600;
    journal.SetLine(port, line, 1765000000000000);
    for (const QByteArray& item : items)
        model.Add(item, 0, QStringLiteral("08:00:00"));
    journal.Wake();
    journal.Flush();
    journal.MarkSaved(model.captureId, saved);
    journal.Flush();
}

} // namespace

TEST(HeadlessCapture, WhatAnEarlierRunOfThePortLeftUnwrittenGoesToTheFilesFirst)
{
    LeaveJournal(QStringLiteral("COM5"), {"one", "two", "three", "four", "five"}, 2);
    LeaveJournal(QStringLiteral("COM6"), {"other port"}, 0);
    const QStringList before = LookAtStateFolder().files;
    ASSERT_EQ(before.size(), 2);

    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString sendData = InTest(QStringLiteral("takeover.sds"));
    Program program({"--capture", "--port", "COM5", "--device", far.SlavePath(), "--send-data", sendData});
    // The items taken over are in the file before the port is listened to:
    // probes until one of them is recorded after them.
    ASSERT_TRUE(ProbeUntil(far, [&] { return ParseSendData(FileBytes(sendData)).size() >= 4; }));
    ASSERT_TRUE(far.WriteAll("after\r\n"));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return FileBytes(sendData).contains(QByteArray("after\r\n").toHex(' ')); }));
    ASSERT_EQ(program.Stop(), 0);

    const QVector<CDataItem> items = ParseSendData(FileBytes(sendData));
    ASSERT_GE(items.size(), 4);
    QByteArray taken;
    for (int i = 0; i < 3; ++i)
        taken += QByteArray(reinterpret_cast<const char*>(items[i].GetData()), items[i].GetLength()) + '|';
    EXPECT_EQ(taken, QByteArray("three|four|five|"));
    EXPECT_EQ(AfterProbes(Bytes(items.mid(3))), QByteArray("after\r\n"));
    EXPECT_TRUE(program.ErrorLines().join('\n').contains(QStringLiteral("3 items that an earlier run on COM5")))
        << program.ErrorLines().join('\n').toStdString();
    // The port's own journal is done with; another port's is left for the
    // window to offer; the run leaves none of its own.
    const QStringList after = LookAtStateFolder().files;
    ASSERT_EQ(after.size(), 1) << after.join(' ').toStdString();
    std::vector<AbandonedJournal> left = ClaimAbandonedJournals(JournalFolder());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].summary.header.portName, QStringLiteral("COM6"));
}

TEST(HeadlessCapture, ARestartKeepsTheFilesOfARunThatNeverEndedAndReplacesThoseOfOneThatStopped)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString log = InTest(QStringLiteral("rig.log")), sendData = InTest(QStringLiteral("rig.sds"));
    const QStringList command{"--capture", "--port", "COM7", "--device", far.SlavePath(),
                              "--log", log, "--send-data", sendData};
    // Each run sends its text until it is recorded: a run after a kill
    // listens only once it has written what the killed one left unwritten.
    auto run = [&](const QByteArray& text, int signal) {
        Program program(command);
        EXPECT_TRUE(ProbeUntil(far, [&] { return FileBytes(sendData).contains(text.toHex(' ')); }, text));
        // The journal begins with the run's first items, within a tenth of
        // a second; a kill before that leaves nothing to tell.
        EXPECT_TRUE(testing_support::WaitUntil([] { return !LookAtStateFolder().files.isEmpty(); }));
        program.Signal(signal);
        EXPECT_EQ(program.Wait(), signal == SIGKILL ? -1 : 0);
        return program.ErrorLines().join('\n');
    };
    const QStringList patterns{InTest(QStringLiteral("rig-*.log")), InTest(QStringLiteral("rig-*.sds"))};
    auto keptCount = [&] { return std::make_pair(Parts(patterns[0]).size(), Parts(patterns[1]).size()); };

    // Killed: its files are kept beside the new ones, named by when they
    // were last written, and the next run says where.
    run("killed run\r\n", SIGKILL);
    const QString said = run("stopped run\r\n", SIGTERM);
    ASSERT_EQ(keptCount(), std::make_pair(qsizetype(1), qsizetype(1)));
    for (const QString& pattern : patterns)
        EXPECT_TRUE(said.contains(QStringLiteral("is kept as ") + Parts(pattern)[0])) << said.toStdString();
    EXPECT_TRUE(Bytes(ParseSendData(FileBytes(Parts(patterns[1])[0]))).endsWith("killed run\r\n"));
    EXPECT_TRUE(Bytes(ParseSendData(FileBytes(sendData))).endsWith("stopped run\r\n"));

    // Stopped: nothing was left undone, and the next run replaces its
    // files, as Save replaces a file.
    EXPECT_FALSE(run("third run\r\n", SIGTERM).contains(QStringLiteral("is kept as")));
    EXPECT_EQ(keptCount(), std::make_pair(qsizetype(1), qsizetype(1)));
    EXPECT_FALSE(FileBytes(log).contains("stopped run"));

    // A run that never ended but whose files had everything (its journal
    // has nothing to give back) is kept all the same.
    LeaveJournal(QStringLiteral("COM7"), {"settled"}, 1);
    run("fourth run\r\n", SIGTERM);
    EXPECT_EQ(keptCount(), std::make_pair(qsizetype(2), qsizetype(2)));
    EXPECT_TRUE(FileBytes(Parts(patterns[0]).last()).contains("third run"));
}

TEST(HeadlessCapture, TheJournalGivesBackWhatTheFilesHoldAndStaysUnderItsLimit)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    const QString log = InTest(QStringLiteral("bounded.log"));
    const QString sendData = InTest(QStringLiteral("bounded.sds"));
    constexpr qint64 kLimit = 256 * 1024;
    Program program({"--capture", "--device", far.SlavePath(), "--journal-max", "256K", "--log", log, "--send-data",
                     sendData});
    WaitUntilRecording(far, sendData);
    QByteArray sent;
    for (int i = 0; i < 3000; ++i)
        sent += QByteArray("sample ") + QByteArray::number(i) + QByteArray(1000, char('a' + i % 26)) + "\r\n";
    for (qsizetype at = 0; at < sent.size(); at += 4096)
        ASSERT_TRUE(far.WriteAll(sent.mid(at, 4096)));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return FileBytes(log).endsWith(sent.right(100)); }, 30000));
    // Once the files have it all on disk, the journal holds little or
    // nothing of it, and never more than its limit.
    ASSERT_TRUE(testing_support::WaitUntil([&] { return LookAtStateFolder().bytes <= kLimit; }, 15000))
        << LookAtStateFolder().bytes;
    ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();
    EXPECT_EQ(AfterProbes(Bytes(ParseSendData(FileBytes(sendData)))), sent);
    EXPECT_TRUE(LookAtStateFolder().files.isEmpty()) << LookAtStateFolder().files.join(' ').toStdString();
}
