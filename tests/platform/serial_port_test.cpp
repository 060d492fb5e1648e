// The serial layer against real pseudo-terminals, checked from the far end.
#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"
#include "platform/serial_termios.h"
#include "test_support.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

struct PortOnPty : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(pty.Open());
        port.reset(SerialPort::Open(pty.SlavePath()));
        ASSERT_NE(port, nullptr) << errno;
    }
    DCB Settings(uint32_t rate, uint8_t size, uint8_t parity, uint8_t stop, uint32_t flags = kDcbBinary)
    {
        DCB dcb{};
        EXPECT_TRUE(port->GetCommState(dcb));
        dcb.BaudRate = rate;
        dcb.ByteSize = size;
        dcb.Parity = parity;
        dcb.StopBits = stop;
        dcb.Flags = flags;
        return dcb;
    }
    // On Linux TCGETS2 on the master reports the slave's settings.
    termios2 FarEnd()
    {
        termios2 t{};
        EXPECT_EQ(::ioctl(pty.MasterFd(), TCGETS2, &t), 0);
        return t;
    }
    // Waits for data the way the receive thread does.
    QByteArray ReadWithin(int expected)
    {
        QByteArray got;
        while (got.size() < expected) {
            uint32_t mask = 0;
            if (!port->WaitCommEvent(mask) || mask != EV_RXCHAR)
                break;
            char buffer[1024];
            uint32_t n = 0;
            EXPECT_TRUE(port->ReadFile(buffer, sizeof buffer, n));
            got.append(buffer, int(n));
        }
        return got;
    }
    platform::PseudoTerminal pty;
    std::unique_ptr<SerialPort> port;
};

TEST(SerialPortOpen, RefusesWhatIsNotAnOpenableTerminal)
{
    errno = 0;
    EXPECT_EQ(SerialPort::Open(testing_support::TestDir() + "/absent"), nullptr);
    EXPECT_EQ(errno, ENOENT);

    QFile plain(testing_support::TestDir() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(SerialPort::Open(plain.fileName()), nullptr);
    EXPECT_EQ(errno, ENOTTY);

    EXPECT_EQ(SerialPort::Open(QString()), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(PortOnPty, IsHeldExclusivelyUntilClosed)
{
    // A second opener, from this program or another, is turned away.
    errno = 0;
    EXPECT_EQ(SerialPort::Open(pty.SlavePath()), nullptr);
    EXPECT_TRUE(errno == EWOULDBLOCK || errno == EBUSY) << errno;
    const int other = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) {  // only root gets past TIOCEXCL; flock still stops it
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    EXPECT_TRUE(port->Close());
    port.reset(SerialPort::Open(pty.SlavePath()));
    EXPECT_NE(port, nullptr) << errno;
}

struct FrameCase {
    uint32_t rate;
    uint8_t size, parity, stop;
    tcflag_t frame;
};
const FrameCase kFrameCases[] = {
    {9600, 8, NOPARITY, ONESTOPBIT, CS8},
    {14400, 7, EVENPARITY, ONESTOPBIT, CS7 | PARENB},
    {256000, 6, ODDPARITY, TWOSTOPBITS, CS6 | PARENB | PARODD | CSTOPB},
    {56000, 5, MARKPARITY, ONE5STOPBITS, CS5 | PARENB | PARODD | CMSPAR | CSTOPB},
    {128000, 8, SPACEPARITY, TWOSTOPBITS, CS8 | PARENB | CMSPAR | CSTOPB},
};

TEST(SerialTermios, BuildsTheWholeFrameInRawModeWithoutFlowControl)
{
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.rate);
        termios2 t{};
        // Start from a cooked terminal with flow control, as a fresh tty is.
        t.c_cflag = B9600 | CS8 | CRTSCTS | HUPCL;
        t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | PARMRK | IGNPAR;
        t.c_oflag = OPOST | ONLCR;
        t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        DCB dcb{};
        dcb.BaudRate = c.rate;
        dcb.ByteSize = c.size;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stop;
        dcb.Flags = kDcbBinary | kDcbParity;
        ASSERT_TRUE(platform::TermiosFromDcb(dcb, t));
        EXPECT_EQ(t.c_cflag & platform::kFrameFlags, c.frame);
        EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(BOTHER));
        EXPECT_EQ(t.c_ospeed, c.rate);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_TRUE(t.c_cflag & HUPCL);  // what has no DCB meaning is kept
        EXPECT_EQ(t.c_iflag, tcflag_t(INPCK));
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);

        DCB back{};
        platform::DcbFromTermios(t, back);
        EXPECT_EQ(back.BaudRate, c.rate);
        EXPECT_EQ(back.ByteSize, c.size);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
        EXPECT_EQ(back.Flags & (kDcbParity | kDcbOutxCtsFlow | kDcbOutX | kDcbInX), uint32_t(kDcbParity));
    }
}

TEST_F(PortOnPty, AppliesLineSettingsSeenFromTheFarEnd)
{
    // A pseudo-terminal always keeps 8 data bits and no parity bit; all the
    // rest reaches it as a real line would get it.
    const tcflag_t visible = platform::kFrameFlags & ~(CSIZE | PARENB);
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.rate);
        ASSERT_TRUE(port->SetCommState(Settings(c.rate, c.size, c.parity, c.stop, kDcbBinary | kDcbParity)));
        const termios2 t = FarEnd();
        EXPECT_EQ(t.c_ospeed, c.rate);
        EXPECT_EQ(t.c_ispeed, c.rate);
        EXPECT_EQ(t.c_cflag & visible, c.frame & visible);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_TRUE(t.c_cflag & CREAD);
        EXPECT_TRUE(t.c_iflag & INPCK);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
    }
    ASSERT_TRUE(port->SetCommState(Settings(9600, 8, NOPARITY, ONESTOPBIT, kDcbBinary)));
    EXPECT_EQ(FarEnd().c_iflag & INPCK, 0u);
}

TEST_F(PortOnPty, RefusesSettingsNoLineTakesAndKeepsThePrevious)
{
    ASSERT_TRUE(port->SetCommState(Settings(19200, 8, EVENPARITY, ONESTOPBIT)));
    ASSERT_TRUE(port->SetCommState(Settings(19200, 8, NOPARITY, ONESTOPBIT)));
    const DCB refused[] = {
        Settings(0, 8, NOPARITY, ONESTOPBIT),       Settings(9600, 4, NOPARITY, ONESTOPBIT),
        Settings(9600, 9, NOPARITY, ONESTOPBIT),    Settings(9600, 8, 5, ONESTOPBIT),
        Settings(9600, 8, NOPARITY, 3),             Settings(9600, 8, NOPARITY, ONE5STOPBITS),
        Settings(9600, 5, NOPARITY, TWOSTOPBITS),   Settings(9600, 8, NOPARITY, ONESTOPBIT, kDcbOutxDsrFlow),
    };
    for (const DCB& dcb : refused) {
        errno = 0;
        EXPECT_FALSE(port->SetCommState(dcb));
        EXPECT_EQ(errno, EINVAL);
    }
    const termios2 t = FarEnd();
    EXPECT_EQ(t.c_ospeed, 19200u);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), 0u);
}

TEST_F(PortOnPty, ReadsWithoutWaitingAndCountsWaitingBytes)
{
    ASSERT_TRUE(port->SetCommState(Settings(9600, 8, NOPARITY, ONESTOPBIT)));
    char buffer[16];
    uint32_t n = 99;
    EXPECT_TRUE(port->ReadFile(buffer, sizeof buffer, n));  // nothing there: returns at once
    EXPECT_EQ(n, 0u);

    ASSERT_TRUE(pty.WriteAll(QByteArray("\x00\xff\r\n\x11\x13 raw", 10)));
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        uint32_t errors = 0;
        COMSTAT status{};
        return port->ClearCommError(errors, status) && status.cbInQue == 10;
    }));
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    EXPECT_EQ(ReadWithin(10), QByteArray("\x00\xff\r\n\x11\x13 raw", 10));  // byte for byte, nothing translated
}

TEST_F(PortOnPty, PurgeDropsWhatHasArrived)
{
    ASSERT_TRUE(port->SetCommState(Settings(9600, 8, NOPARITY, ONESTOPBIT)));
    ASSERT_TRUE(pty.WriteAll("stale"));
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        uint32_t errors = 0;
        COMSTAT status{};
        return port->ClearCommError(errors, status) && status.cbInQue == 5;
    }));
    ASSERT_TRUE(port->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR));
    uint32_t errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(port->ClearCommError(errors, status));
    EXPECT_EQ(status.cbInQue, 0u);
    ASSERT_TRUE(pty.WriteAll("fresh"));
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    EXPECT_EQ(ReadWithin(5), QByteArray("fresh"));
}

TEST_F(PortOnPty, InterruptReleasesAWaitingThread)
{
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    uint32_t mask = 77;
    bool waited = false;
    std::thread waiter([&] { waited = port->WaitCommEvent(mask); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->Interrupt();
    waiter.join();  // hangs here if the wake-up did not reach the poll
    EXPECT_TRUE(waited);
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(port->LostError(), 0);
    // After the interrupt nothing works on the port any more.
    uint32_t n = 0;
    char buffer[4];
    EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, n));
    EXPECT_EQ(errno, EBADF);
}

TEST_F(PortOnPty, AVanishedFarEndEndsTheWaitWithItsError)
{
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    pty.Close();
    uint32_t mask = EV_RXCHAR;
    EXPECT_FALSE(port->WaitCommEvent(mask));
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(port->LostError(), EIO);
}

TEST_F(PortOnPty, AWaitAnsweredByTheCountNeverOutrunsTheBytesThatAreThere)
{
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    QByteArray sent(3000, Qt::Uninitialized);
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 7 + i / 256);
    ASSERT_TRUE(pty.WriteAll(sent));
    uint32_t errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return port->ClearCommError(errors, status) && status.cbInQue == uint32_t(sent.size()); }));
    // Chunk after chunk as the receive thread takes them, counting before each.
    QByteArray got;
    while (got.size() < sent.size()) {
        uint32_t mask = 0;
        ASSERT_TRUE(port->WaitCommEvent(mask));
        ASSERT_EQ(mask, uint32_t(EV_RXCHAR));
        ASSERT_TRUE(port->ClearCommError(errors, status));
        ASSERT_EQ(status.cbInQue, uint32_t(sent.size() - got.size()));
        char buffer[1024];
        uint32_t n = 0;
        ASSERT_TRUE(port->ReadFile(buffer, sizeof buffer, n));
        ASSERT_EQ(n, std::min<uint32_t>(1024, status.cbInQue));
        got.append(buffer, int(n));
    }
    EXPECT_EQ(got, sent);

    // All taken: the next wait asks the terminal and lasts until bytes come.
    // So does one after a purge threw away what a count had seen.
    for (const bool purge : {false, true}) {
        if (purge) {
            ASSERT_TRUE(pty.WriteAll("stale"));
            ASSERT_TRUE(testing_support::WaitUntil(
                [&] { return port->ClearCommError(errors, status) && status.cbInQue == 5; }));
            ASSERT_TRUE(port->PurgeComm(PURGE_RXCLEAR));
        }
        std::atomic<bool> returned{false};
        uint32_t mask = 0;
        std::thread waiter([&] {
            port->WaitCommEvent(mask);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(returned) << "purge " << purge;
        ASSERT_TRUE(pty.WriteAll("x"));
        waiter.join();
        EXPECT_EQ(mask, uint32_t(EV_RXCHAR));
        EXPECT_EQ(ReadWithin(1), QByteArray("x"));
    }
}

TEST_F(PortOnPty, AReadThatMeetsAHangUpFailsAsALostDevice)
{
    ASSERT_TRUE(port->SetCommMask(EV_RXCHAR));
    ASSERT_TRUE(pty.WriteAll("abc"));
    uint32_t errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return port->ClearCommError(errors, status) && status.cbInQue == 3; }));
    pty.Close();
    // The count still says bytes wait, so the wait answers at once; the
    // read then finds the line hung up, and says so rather than reading 0.
    uint32_t mask = 0;
    ASSERT_TRUE(port->WaitCommEvent(mask));
    char buffer[16];
    uint32_t n = 99;
    errno = 0;
    EXPECT_FALSE(port->ReadFile(buffer, sizeof buffer, n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(port->LostError(), EIO);
    // Nor does the count make the next wait report bytes that are gone.
    EXPECT_FALSE(port->WaitCommEvent(mask));
    EXPECT_EQ(mask, 0u);
}

TEST_F(PortOnPty, AcceptsTimeOutsThatReadAtOnceOrWaitForTheFirstByte)
{
    const struct {
        COMMTIMEOUTS timeouts;
        bool accepted;
        cc_t vmin, vtime;  // as the terminal has them afterwards
        bool blocking;
    } cases[] = {
        {{MAXDWORD, MAXDWORD, 200, 10, 1000}, true, 0, 2, true},
        {{MAXDWORD, MAXDWORD, 1, 0, 0}, true, 0, 1, true},  // tenths, rounded up
        {{MAXDWORD, MAXDWORD, 25500, 0, 0}, true, 0, 255, true},
        {{MAXDWORD, MAXDWORD, 25501, 0, 0}, false, 0, 255, true},  // longer than a terminal times
        {{MAXDWORD, MAXDWORD, 0, 0, 0}, false, 0, 255, true},
        {{0, 0, 500, 10, 1000}, false, 0, 255, true},
        {{MAXDWORD, 0, 0, 10, 1000}, true, 1, 0, false},
        {{MAXDWORD, 0, 300, 0, 0}, false, 1, 0, false},
    };
    for (const auto& c : cases) {
        const uint32_t constant = c.timeouts.ReadTotalTimeoutConstant;
        errno = 0;
        EXPECT_EQ(port->SetCommTimeouts(c.timeouts), c.accepted) << constant;
        if (!c.accepted) {
            EXPECT_EQ(errno, EINVAL) << constant;
        }
        // A refused one leaves the previous in place, and so do new line
        // settings.
        ASSERT_TRUE(port->SetCommState(Settings(9600, 8, NOPARITY, ONESTOPBIT)));
        EXPECT_EQ(FarEnd().c_cc[VMIN], c.vmin) << constant;
        EXPECT_EQ(FarEnd().c_cc[VTIME], c.vtime) << constant;
        EXPECT_EQ((::fcntl(port->Descriptor(), F_GETFL) & O_NONBLOCK) == 0, c.blocking) << constant;
    }
}

TEST_F(PortOnPty, AReadThatWaitsReturnsTheFirstBytesAndEndsAtItsTimeOutOrAnInterrupt)
{
    ASSERT_TRUE(port->SetCommTimeouts({MAXDWORD, MAXDWORD, 100, 0, 0}));
    char buffer[1024];
    uint32_t n = 99;
    // Nothing arrives: the read times out, with nothing and no error.
    EXPECT_TRUE(port->ReadFile(buffer, sizeof buffer, n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(port->LostError(), 0);

    // Bytes that arrive during the wait end it.
    QByteArray got;
    std::thread reader([&] {
        while (got.isEmpty() && port->ReadFile(buffer, sizeof buffer, n))
            got.append(buffer, int(n));
    });
    ASSERT_TRUE(pty.WriteAll("abc"));
    reader.join();
    EXPECT_EQ(got, QByteArray("abc"));

    // Interrupt ends a wait far longer than the test at once: no read
    // times out before the reader is released.
    ASSERT_TRUE(port->SetCommTimeouts({MAXDWORD, MAXDWORD, 25500, 0, 0}));
    int timedOut = 0;
    bool ended = true;
    int error = 0;
    std::thread waiter([&] {
        while ((ended = port->ReadFile(buffer, sizeof buffer, n)))
            ++timedOut;
        error = errno;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->Interrupt();
    waiter.join();
    EXPECT_FALSE(ended);
    EXPECT_EQ(error, EBADF);
    EXPECT_EQ(timedOut, 0);
    EXPECT_EQ(port->LostError(), 0);
}

TEST_F(PortOnPty, AHungUpLineFailsTheReadAsALostDeviceWhetherReadsWaitOrNot)
{
    // The far end closing (a pseudo-terminal's unplug) and the line hung up
    // under the reader (a serial adapter's unplug), each with reads that
    // wait and reads that do not.
    for (const bool hangUp : {false, true}) {
        for (const uint32_t wait : {0u, 200u}) {
            platform::PseudoTerminal far;
            ASSERT_TRUE(far.Open());
            std::unique_ptr<SerialPort> line(SerialPort::Open(far.SlavePath()));
            ASSERT_NE(line, nullptr);
            ASSERT_TRUE(line->SetCommTimeouts({MAXDWORD, wait ? MAXDWORD : 0, wait, 0, 0}));
            if (hangUp && ::ioctl(line->Descriptor(), TIOCVHANGUP) != 0)
                GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
            if (!hangUp)
                far.Close();
            char buffer[16];
            uint32_t n = 99;
            EXPECT_FALSE(line->ReadFile(buffer, sizeof buffer, n)) << hangUp << wait;
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(line->LostError(), EIO) << hangUp << wait;
        }
    }
}

} // namespace
