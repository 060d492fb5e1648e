// Captures on a real pseudo-terminal through the real main window: what the
// far end sends is what the item list and the output area get.
#include "capture_fixture.h"

#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/output_view.h"
#include "data/item_rendering.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using testing_support::CapturedMessages;
using testing_support::OpenDescriptors;
using testing_support::WaitUntil;

QString Normalized(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

TEST_F(CaptureOnPty, RecordsEveryByteInOrderAcrossManyChunks)
{
    Begin();
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_STOP));
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_PAUSE));

    QByteArray sent;
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < 300; ++i) {
        QByteArray piece(int(random->bounded(1, 3000)), Qt::Uninitialized);
        for (char& c : piece)
            c = char(random->bounded(256));
        ASSERT_TRUE(pty.WriteAll(piece));
        sent += piece;
    }
    ASSERT_TRUE(WaitUntil([&] { return Recorded().size() >= sent.size(); }, 20000));
    dlg->OnStop();
    EXPECT_EQ(dlg->Engine().Port(), nullptr);
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_STOP));

    EXPECT_EQ(Recorded(), sent);
    const QRegularExpression timeOfDay(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$"));
    // The journal's thread may still hand items over to disk after the stop.
    std::lock_guard lock(dlg->Engine().m_csCapture);
    for (int i = 0; i < dlg->Engine().m_items.GetSize(); ++i) {
        const CDataItem& item = dlg->Engine().m_items.GetAt(i);
        ASSERT_GE(item.GetLength(), 1);
        ASSERT_LE(item.GetLength(), 1024);
        ASSERT_EQ(item.GetKind(), 0);
        ASSERT_TRUE(timeOfDay.match(item.GetName()).hasMatch()) << item.GetName().toStdString();
    }
}

TEST_F(CaptureOnPty, TakesMoreThanAChunkOfWaitingBytesAsSeveralChunks)
{
    Begin();
    // The terminal holds at most 4095 bytes for a reader.
    QByteArray sent(4000, Qt::Uninitialized);
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char('a' + i % 26);
    SendAsOneChunk(sent);
    ASSERT_TRUE(WaitUntil([&] { return Recorded().size() >= sent.size(); }));
    EXPECT_EQ(Recorded(), sent);
    std::lock_guard lock(dlg->Engine().m_csCapture);
    ASSERT_EQ(dlg->Engine().m_items.GetSize(), 4);  // three full chunks and the rest
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dlg->Engine().m_items.GetAt(i).GetLength(), 1024);
}

TEST_F(CaptureOnPty, DiscardsWhatArrivedBeforeTheCaptureStarted)
{
    // A descriptor of our own on the slave lets us see the bytes wait there.
    const int own = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(own, 0);
    termios2 raw{};
    ASSERT_EQ(::ioctl(own, TCGETS2, &raw), 0);
    raw.c_lflag &= ~(ICANON | ECHO);
    ASSERT_EQ(::ioctl(own, TCSETS2, &raw), 0);
    ASSERT_TRUE(pty.WriteAll("stale bytes"));
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        return ::ioctl(own, FIONREAD, &waiting) == 0 && waiting == 11;
    }));
    Begin();
    ASSERT_TRUE(pty.WriteAll("fresh"));
    ASSERT_TRUE(WaitUntil([&] { return Recorded().size() >= 5; }));
    dlg->OnStop();
    EXPECT_EQ(Recorded(), QByteArray("fresh"));
    ::close(own);
}

TEST_F(CaptureOnPty, ShowsHexAndTextAsTheShowFormatSaysAndKeepsEveryByte)
{
    // The show format changes under the capture lock: the receive thread
    // reads it while it records.
    auto showAs = [&](int format) {
        std::lock_guard lock(dlg->Engine().m_csCapture);
        dlg->Engine().m_nShowFormat = format;
    };
    Begin();
    showAs(1);
    SendAsOneChunk(QByteArray("AB\r\n", 4));
    showAs(0);
    SendAsOneChunk(QByteArray("ab\0cd", 5));
    SendAsOneChunk(QByteArray("\xff\xfe", 2));
    SendAsOneChunk(QByteArray("h\xc3\xa9", 3));
    showAs(2);
    SendAsOneChunk(QByteArray("x"));
    showAs(-1);
    SendAsOneChunk(QByteArray("y"));
    dlg->OnStop();  // returns with everything on screen

    ASSERT_EQ(ItemCount(), 6);
    const int kinds[] = {1, 0, 0, 0, 2, -1};
    {
        std::lock_guard lock(dlg->Engine().m_csCapture);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(dlg->Engine().m_items.GetAt(i).GetKind(), kinds[i]);
        EXPECT_EQ(dlg->Engine().m_items.GetAt(1).GetLength(), 5);  // the zero byte and what follows are kept
    }

    const QString expected = QStringLiteral("Welcome to Vantrel \n Ver 0.4") + QStringLiteral("\nRec :41 42 0d 0a ") +
                             QStringLiteral("\nRec :ab") + QStringLiteral("\nRec :\uFFFD\uFFFD") +
                             QStringLiteral("\nRec :h\u00E9") + QStringLiteral("\nRec :x") + QStringLiteral("\nRec :y");
    EXPECT_EQ(dlg->m_editOutput->ShownText(), expected);
    QBuffer saved;
    saved.open(QIODevice::WriteOnly);
    ASSERT_TRUE(dlg->Engine().WriteOutputText(saved));
    EXPECT_EQ(Normalized(QString::fromUtf8(saved.data())), expected);
}

TEST_F(CaptureOnPty, PauseReadsAndDropsWhileTheCaptureRuns)
{
    Begin();
    dlg->OnPause();
    EXPECT_TRUE(dlg->m_wndCommandBar->ToolAction(ID_TOOL_PAUSE)->isChecked());
    SendAsOneChunk("dropped while paused");  // read from the port all the same
    EXPECT_EQ(ItemCount(), 0);
    dlg->OnPause();
    SendAsOneChunk("kept");
    dlg->OnStop();
    EXPECT_EQ(Recorded(), QByteArray("kept"));
}

TEST_F(CaptureOnPty, StopWhilePausedKeepsThePauseForTheNextCapture)
{
    Begin();
    dlg->OnPause();
    dlg->OnStop();
    EXPECT_EQ(dlg->Engine().m_bPaused, 1);
    Begin();
    SendAsOneChunk("nothing");
    dlg->OnStop();
    EXPECT_EQ(ItemCount(), 0);
    EXPECT_EQ(dlg->Engine().m_bPaused, 1);
}

TEST_F(CaptureOnPty, RecordsOnlyInsideTheWindowsOfTheRule)
{
    std::atomic<int64_t> now{1'000'000};
    const testing_support::ScopedClock clock([&] { return now.load(); });
    dlg->Engine().m_recordSettings = RecordSettings{0, 10, 3, 0};  // 3 s of every 10 s
    Begin();
    EXPECT_EQ(dlg->Engine().m_timeStart.GetTime(), 1'000'000);

    const struct {
        int64_t elapsed;
        const char* bytes;
    } chunks[] = {{0, "a"}, {2, "b"}, {3, "-"}, {9, "-"}, {10, "c"}, {12, "d"}, {13, "-"}, {-7, "e"}};
    QByteArray expected;
    QStringList expectedNames;
    for (const auto& chunk : chunks) {
        now = 1'000'000 + chunk.elapsed;
        SendAsOneChunk(chunk.bytes);
        if (chunk.bytes[0] != '-') {
            expected += chunk.bytes;
            expectedNames << QDateTime::fromSecsSinceEpoch(now.load()).toString(QStringLiteral("HH:mm:ss"));
        }
    }
    dlg->OnStop();
    EXPECT_EQ(Recorded(), expected);
    QStringList names;
    std::lock_guard lock(dlg->Engine().m_csCapture);
    for (int i = 0; i < dlg->Engine().m_items.GetSize(); ++i)
        names << dlg->Engine().m_items.GetAt(i).GetName();
    EXPECT_EQ(names, expectedNames);
}

TEST_F(CaptureOnPty, ConfiguresTheLineFromTheSettings)
{
    struct Case {
        uint32_t rate;
        uint8_t size, parity, stop;
        bool checkParity;
        tcflag_t visibleFrame;  // a pseudo-terminal keeps CS8 and drops PARENB
    } cases[] = {
        {14400, 7, MARKPARITY, ONESTOPBIT, true, PARODD | CMSPAR},
        {256000, 8, SPACEPARITY, TWOSTOPBITS, false, CMSPAR | CSTOPB},
        {9600, 5, ODDPARITY, ONE5STOPBITS, true, PARODD | CSTOPB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        dlg->Engine().m_portSettings.BaudRate = c.rate;
        dlg->Engine().m_portSettings.ByteSize = c.size;
        dlg->Engine().m_portSettings.Parity = c.parity;
        dlg->Engine().m_portSettings.StopBits = c.stop;
        dlg->Engine().m_portSettings.Flags = c.checkParity ? uint32_t(kDcbParity) : 0u;
        Begin();
        termios2 t{};
        ASSERT_EQ(::ioctl(pty.MasterFd(), TCGETS2, &t), 0);
        EXPECT_EQ(t.c_ospeed, c.rate);
        EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), c.visibleFrame);
        EXPECT_EQ(bool(t.c_iflag & INPCK), c.checkParity);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        // What the port now holds, in the settings' own terms.
        DCB dcb{};
        ASSERT_TRUE(dlg->Engine().Port()->GetCommState(dcb));
        EXPECT_EQ(dcb.BaudRate, c.rate);
        EXPECT_EQ(dcb.Flags & (kDcbOutxCtsFlow | kDcbOutX | kDcbInX), 0u);
        dlg->OnStop();
    }
}

TEST_F(CaptureOnPty, RefusedLineSettingsAreReportedAndTheCaptureRunsAnyway)
{
    CapturedMessages messages;
    dlg->Engine().m_portSettings.ByteSize = 8;
    dlg->Engine().m_portSettings.StopBits = ONE5STOPBITS;  // 1.5 stop bits exist only with 5 data bits
    Begin();
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().text, QStringLiteral("Unable to configure the serial port\n Error Code: %1 ").arg(EINVAL));
    EXPECT_EQ(messages.Last().caption, QStringLiteral("Error"));
    EXPECT_EQ(messages.Last().type, unsigned(MB_OK));
    // The line keeps its previous rate and frame, but is read raw all the
    // same: nothing edited, eaten or echoed back to the device.
    SendAsOneChunk(QByteArray("a\r\x7f\x04\x03b", 6));
    dlg->OnStop();
    EXPECT_EQ(Recorded(), QByteArray("a\r\x7f\x04\x03b", 6));
    EXPECT_EQ(pty.ReadAvailable(), QByteArray());
}

TEST_F(CaptureOnPty, APortThatCannotBeOpenedLeavesTheCaptureClosed)
{
    CapturedMessages messages;
    const int held = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // as another serial tool holds it
    QFile plain(testing_support::TestDir() + QStringLiteral("/plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    testing_support::SetPortOverride(6, plain.fileName());

    const struct {
        const char* name;
        int error;
    } cases[] = {{"COM5", EWOULDBLOCK}, {"COM7", ENOENT}, {"COM6", ENOTTY}, {"", ENOENT}};
    for (const auto& c : cases) {
        dlg->Engine().m_strPortName = QString::fromLatin1(c.name);
        EXPECT_FALSE(dlg->Engine().OpenPort());
        // The engine keeps the errno itself: no face reads it from the text.
        EXPECT_EQ(dlg->Engine().LastOpenError(), c.error);
        EXPECT_EQ(dlg->Engine().Port(), nullptr);
        EXPECT_FALSE(dlg->Engine().HasReceiveThread());
        EXPECT_TRUE(Enabled(*dlg, ID_TOOL_BEGIN));
        EXPECT_FALSE(Enabled(*dlg, ID_TOOL_STOP));
        ASSERT_GT(messages.Count(), 0);
        EXPECT_EQ(messages.Last().text, QStringLiteral("Cannot Open Port %1:. Error No\uFF1A%2")
                                            .arg(QString::fromLatin1(c.name))
                                            .arg(c.error));
        EXPECT_EQ(messages.Last().type, unsigned(MB_OK | MB_ICONSTOP));
    }
    EXPECT_EQ(messages.Count(), 4);
    ::close(held);
}

TEST_F(CaptureOnPty, ALostDeviceKeepsTheCaptureWaitingWithoutABox)
{
    Begin();
    SendAsOneChunk("before the unplug");
    pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().IsWaitingForPort(); }));
    EXPECT_EQ(dlg->Engine().Port(), nullptr);
    EXPECT_FALSE(dlg->Engine().HasReceiveThread());
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_PAUSE));
    EXPECT_EQ(Recorded(), QByteArray("before the unplug"));
    EXPECT_TRUE(dlg->m_editOutput->ShownText().endsWith(QStringLiteral("Rec :before the unplug")));
    dlg->OnStop();
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_BEGIN));
}

TEST_F(CaptureOnPty, BeginWhileOpenStartsAFreshCapture)
{
    std::atomic<int64_t> now{5000};
    const testing_support::ScopedClock clock([&] { return now.load(); });
    Begin();
    SendAsOneChunk("first");
    now = 6000;
    dlg->OnBegin();
    ASSERT_NE(dlg->Engine().Port(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().IsListening(); }));
    EXPECT_EQ(dlg->Engine().m_timeStart.GetTime(), 6000);
    SendAsOneChunk("second");
    dlg->OnStop();
    EXPECT_EQ(Recorded(), QByteArray("firstsecond"));  // Begin keeps what was recorded
}

// Floods the master side until told to stop, whether or not anyone listens.
class Flood {
public:
    explicit Flood(int masterFd)
        : m_thread([this, masterFd] {
              const QByteArray block(4096, 'z');
              while (!m_stop) {
                  if (::write(masterFd, block.constData(), size_t(block.size())) < 0)
                      std::this_thread::sleep_for(std::chrono::microseconds(200));
              }
          })
    {
    }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(CaptureOnPty, BeginAndStopUnderAFloodNeverHangAndLeakNothing)
{
    Flood flood(pty.MasterFd());
    // One capture first, so what Qt opens once and keeps (font and timer
    // descriptors) is already there when the count is taken.
    Begin();
    WaitUntil([] { return false; }, 50);
    dlg->OnStop();
    WaitUntil([] { return false; }, 50);
    // A capture opens a terminal and a wake-up event descriptor. Qt opens
    // event descriptors of its own now and then, so those may grow by one or
    // two, but not by one a cycle.
    const int terminalsBefore = OpenDescriptors("/dev/pts/");
    const int eventsBefore = OpenDescriptors("eventfd");
    for (int cycle = 0; cycle < 25; ++cycle) {
        Begin();
        if (cycle % 3 == 1)
            dlg->OnPause();  // Stop while paused too
        WaitUntil([] { return false; }, 15);
        if (cycle == 24) {  // the flood is recorded, however slow the machine
            ASSERT_TRUE(WaitUntil([&] { return ItemCount() > 0; }, 20000));
        }
        dlg->OnStop();
        ASSERT_EQ(dlg->Engine().Port(), nullptr);
        ASSERT_FALSE(dlg->Engine().HasReceiveThread());
        if (dlg->Engine().m_bPaused)
            dlg->OnPause();
        // After Stop nothing more is recorded, and the view has all of it.
        const int recorded = ItemCount();
        WaitUntil([] { return false; }, 10);
        ASSERT_EQ(ItemCount(), recorded);
    }
    EXPECT_EQ(OpenDescriptors("/dev/pts/"), terminalsBefore);
    EXPECT_LT(OpenDescriptors("eventfd") - eventsBefore, 5);
}

// Byte `position` of an endless stream of 32-bit counters: a lost, doubled
// or swapped piece anywhere shows.
char SequenceByte(qint64 position)
{
    return char(uint32_t(position / 4) >> (8 * (position % 4)));
}

QByteArray Sequence(qint64 from, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = SequenceByte(from + i);
    return bytes;
}

// Floods the master side with the counter stream until stopped, and knows
// how much of it went in.
class SequenceFlood {
public:
    explicit SequenceFlood(int masterFd)
        : m_thread([this, masterFd] {
              while (!m_stop) {
                  const QByteArray block = Sequence(m_written, 4096);
                  const ssize_t n = ::write(masterFd, block.constData(), size_t(block.size()));
                  if (n > 0) {
                      m_written += n;
                  } else {
                      pollfd p{masterFd, POLLOUT, 0};
                      ::poll(&p, 1, 5);
                  }
              }
          })
    {
    }
    ~SequenceFlood() { Stop(); }
    // Returns once nothing more is written.
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    qint64 Written() const { return m_written; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_written{0};
    std::thread m_thread;
};

// Every item of the capture holds 1 to 1024 bytes, and together they are
// the start of the counter stream; returns how many were full chunks.
int ExpectChunksOfTheStream(CMonitorDlg& dlg, qint64 written)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    qint64 position = 0;
    int full = 0;
    for (int i = 0; i < dlg.Engine().m_items.GetSize(); ++i) {
        const CDataItem& item = dlg.Engine().m_items.GetAt(i);
        EXPECT_GE(item.GetLength(), 1) << "item " << i;
        EXPECT_LE(item.GetLength(), 1024) << "item " << i;
        full += item.GetLength() == 1024;
        const QByteArray bytes(reinterpret_cast<const char*>(item.GetData()), item.GetLength());
        if (bytes != Sequence(position, bytes.size())) {
            ADD_FAILURE() << "item " << i << " is not the stream at " << position;
            return full;
        }
        position += bytes.size();
    }
    EXPECT_LE(position, written);
    return full;
}

TEST_F(CaptureOnPty, UnderAFloodEveryChunkIsAtMostAKilobyteInOrderAndStopEndsIt)
{
    Begin();
    SequenceFlood flood(pty.MasterFd());
    // Now and then the receive thread is kept from recording until the
    // terminal is full. It holds at most the one chunk it read before, so
    // its next two reads find a full kilobyte each: a reader that read less
    // than a chunk while more was waiting shows here, however fast or slow
    // the machine is.
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        int before = 0;
        {
            std::lock_guard lock(dlg->Engine().m_csCapture);
            ASSERT_TRUE(WaitWithoutEvents([&] { return WaitingInPort() >= 3000; })) << "round " << round;
            before = dlg->Engine().m_items.GetSize();
        }
        ASSERT_TRUE(WaitUntil([&] { return ItemCount() >= before + 3; }, 20000)) << "round " << round;
    }
    dlg->OnStop();  // with the flood still running
    ASSERT_EQ(dlg->Engine().Port(), nullptr);
    ASSERT_FALSE(dlg->Engine().HasReceiveThread());
    const int items = ItemCount();
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(ItemCount(), items);  // nothing recorded after Stop
    flood.Stop();

    EXPECT_GE(ExpectChunksOfTheStream(*dlg, flood.Written()), 2 * kRounds);
}

TEST_F(CaptureOnPty, ADeviceLostWhileDataKeepsArrivingKeepsEveryByteBeforeTheLoss)
{
    Begin();
    SequenceFlood flood(pty.MasterFd());
    ASSERT_TRUE(WaitUntil([&] { return Recorded().size() > 100000; }, 20000));
    {
        // Unplugged with a full terminal: the receive thread meets the
        // hang-up in the middle of chunks it knows are waiting.
        std::lock_guard lock(dlg->Engine().m_csCapture);
        WaitWithoutEvents([&] { return WaitingInPort() >= 3000; });
        flood.Stop();
        pty.Close();
    }
    // The capture waits for the device, without a box.
    ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().IsWaitingForPort(); }));
    EXPECT_FALSE(dlg->Engine().HasReceiveThread());
    // No empty chunk for the failed read, nothing out of order before it.
    ExpectChunksOfTheStream(*dlg, flood.Written());
}

TEST_F(CaptureOnPty, AReadThatFindsNothingOrFailsBecauseTheCaptureIsStoppingRecordsNothing)
{
    Begin();
    SendAsOneChunk("first");
    // A read that finds nothing (here one that never waits, with the
    // receive thread held in its wait for the port) is no chunk and leaves
    // no empty item behind.
    ReadUnderLock();
    uint32_t read = 99;
    EXPECT_TRUE(dlg->Engine().OnReceive(&read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(ItemCount(), 1);
    // Stop interrupts the port before it joins the receive thread. A
    // handler that had counted waiting bytes just before then reads from
    // the interrupted port: that is no data, not an empty chunk.
    dlg->Engine().Port()->Interrupt();
    ASSERT_TRUE(pty.WriteAll("late"));
    dlg->Engine().OnReceive();
    dlg->OnStop();
    EXPECT_EQ(ItemCount(), 1);
    EXPECT_EQ(Recorded(), QByteArray("first"));
}

TEST_F(CaptureOnPty, ClosingTheWindowDuringACaptureStopsItFirst)
{
    {
        Flood flood(pty.MasterFd());
        Begin();
        WaitUntil([&] { return ItemCount() > 10; });
        EXPECT_TRUE(dlg->DestroyWindow());
        EXPECT_EQ(dlg->Engine().Port(), nullptr);
        EXPECT_FALSE(dlg->Engine().HasReceiveThread());

        // A window destroyed without closing first stops its capture too.
        auto other = std::make_unique<CMonitorDlg>();
        other->Engine().m_strPortName = QStringLiteral("COM5");
        ASSERT_TRUE(other->Engine().OpenPort());
        WaitUntil([&] {
            std::lock_guard lock(other->Engine().m_csCapture);
            return other->Engine().m_items.GetSize() > 10;
        });
        other.reset();
    }
    // The port was released both times.
    std::unique_ptr<SerialPort> again(SerialPort::Open(pty.SlavePath()));
    EXPECT_NE(again, nullptr) << errno;
}

} // namespace
