// A capture that outlives its device, on real pseudo-terminals: the far end
// goes away mid-stream, a new terminal appears where the port's path
// leads, and recording goes on into the same item list.
#include "capture_fixture.h"

#include "app/command_bar.h"
#include "app/command_ids.h"
#include "capture/port_reconnect.h"
#include "platform/device_map.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

using platform::PseudoTerminal;
using testing_support::HoldsOpen;
using testing_support::OpenDescriptors;
using testing_support::TestDir;
using testing_support::WaitUntil;

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QString TimeOfDay(int64_t seconds)
{
    const std::tm local = CTime(seconds).GetLocalTm();
    return QString::asprintf("%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
}

// Points `link` at `target` the way `ln -sf` and udev do: a new link renamed
// over the old one, so the path never leads nowhere in between.
void PointLinkAt(const QString& link, const QString& target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    ASSERT_TRUE(QFile::link(target, fresh));
    ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()), 0);
}

// COM5 is a link in the test's folder that leads to the far end's terminal;
// a device that comes back is a new terminal that the link is turned to.
class ReconnectOnPty : public CaptureOnPty {
protected:
    void SetUp() override
    {
        CaptureOnPty::SetUp();
        link = TestDir() + QStringLiteral("/port");
        ASSERT_TRUE(QFile::link(pty.SlavePath(), link));
        testing_support::SetPortOverride(5, link);
    }

    // Sends bytes and waits until all of them are recorded.
    void SendAndWait(PseudoTerminal& end, const QByteArray& bytes, QByteArray& sent)
    {
        ASSERT_TRUE(end.WriteAll(bytes));
        sent += bytes;
        ASSERT_TRUE(WaitUntil([&] { return Recorded().size() >= sent.size(); }, 20000));
    }

    // Sends bytes that the receive thread takes as one chunk, and returns
    // once it has (whether it recorded them or not).
    void SendAsOneChunk(PseudoTerminal& end, const QByteArray& bytes)
    {
        dlg->Engine().m_bReadUnderLock = true;
        ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().m_bReadingUnderLock.load(); }));
        {
            std::lock_guard lock(dlg->Engine().m_csCapture);
            ASSERT_TRUE(end.WriteAll(bytes));
            ASSERT_TRUE(WaitWithoutEvents([&] { return WaitingInPort() >= uint32_t(bytes.size()); }));
        }
        ASSERT_TRUE(WaitUntil([&] { return WaitingInPort() == 0; }));
        std::lock_guard done(dlg->Engine().m_csCapture);
        dlg->Engine().m_bReadUnderLock = false;
    }

    void Unplug(PseudoTerminal& end)
    {
        end.Close();
        ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().IsWaitingForPort(); }));
    }

    // A new far end appears under the port's path; returns once the capture
    // has taken it.
    void PlugIn(PseudoTerminal& end)
    {
        ASSERT_TRUE(end.Open());
        PointLinkAt(link, end.SlavePath());
        ASSERT_TRUE(WaitUntil([&] { return !dlg->Engine().IsWaitingForPort(); }));
        ASSERT_NE(dlg->Engine().Port(), nullptr);
    }

    QString StatusText() { return dlg->findChild<QLabel*>(QStringLiteral("statusLine"))->text(); }

    QString link;
};

TEST_F(ReconnectOnPty, ALostDeviceIsWaitedForAndRecordingGoesOnInTheSameList)
{
    std::atomic<int64_t> now{100000};
    const testing_support::ScopedClock clock([&] { return now.load(); });
    Begin();
    const int64_t start = dlg->Engine().m_timeStart.GetTime();
    QByteArray sent;
    SendAndWait(pty, RandomBytes(20000), sent);

    now = 100007;
    Unplug(pty);
    // Still a running capture: it can be stopped and paused, not begun, and
    // its settings stay as they are. No box has come up (the test fails on one).
    EXPECT_EQ(dlg->Engine().Port(), nullptr);
    EXPECT_FALSE(dlg->Engine().HasReceiveThread());
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_STOP));
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_PAUSE));
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_SAVE));
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_PORT_SETTING));
    const QString waiting = QStringLiteral("Waiting for COM5 (%1) to come back, gone since %2").arg(link, TimeOfDay(100007));
    EXPECT_EQ(dlg->Engine().ConnectionState(), waiting);
    EXPECT_TRUE(StatusText().contains(waiting)) << StatusText().toStdString();

    now = 100011;
    PseudoTerminal back;
    PlugIn(back);
    SendAndWait(back, RandomBytes(20000), sent);
    // Everything sent after the return follows everything sent before, in
    // the one list, and the recording windows still count from Begin.
    EXPECT_EQ(Recorded(), sent);
    EXPECT_EQ(dlg->Engine().m_timeStart.GetTime(), start);
    const QString lost = QStringLiteral("lost 1 time, last %1 to %2").arg(TimeOfDay(100007), TimeOfDay(100011));
    EXPECT_EQ(dlg->Engine().ConnectionState(), lost);
    EXPECT_TRUE(StatusText().contains(lost)) << StatusText().toStdString();
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_BEGIN));

    dlg->OnStop();
    EXPECT_EQ(dlg->Engine().Port(), nullptr);
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_EQ(Recorded(), sent);
}

// A board that restarts prints its banner at once: the capture keeps it,
// between what came before the loss and what comes after, in order.
TEST_F(ReconnectOnPty, WhatADeviceSaysFirstOnItsReturnIsRecorded)
{
    Begin();
    QByteArray sent;
    SendAndWait(pty, "before the reset\n", sent);
    Unplug(pty);

    PseudoTerminal back;
    ASSERT_TRUE(back.Open());
    const QByteArray banner = "boot 2.1 ready, sensors 4 ok\n";
    std::atomic<bool> written{false};
    // The far end speaks as soon as it sees itself opened again.
    std::thread board([&] {
        for (int i = 0; i < 20000 && !HoldsOpen(back.SlavePath()); ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        written = back.WriteAll(banner);
    });
    PointLinkAt(link, back.SlavePath());
    const bool reopened = WaitUntil([&] { return !dlg->Engine().IsWaitingForPort(); });
    board.join();
    ASSERT_TRUE(reopened);
    ASSERT_TRUE(written);
    sent += banner;
    ASSERT_TRUE(WaitUntil([&] { return Recorded().size() >= sent.size(); }));
    SendAndWait(back, "after\n", sent);
    dlg->OnStop();
    EXPECT_EQ(Recorded(), sent);
}

TEST_F(ReconnectOnPty, SeveralLossesInARowKeepThePauseAndEveryByteInOrder)
{
    Begin();
    QByteArray sent;
    SendAndWait(pty, RandomBytes(3000), sent);
    std::vector<std::unique_ptr<PseudoTerminal>> ends;
    PseudoTerminal* current = &pty;
    for (int loss = 1; loss <= 4; ++loss) {
        Unplug(*current);
        if (loss == 2)
            dlg->OnPause();  // paused while it waits ...
        ends.push_back(std::make_unique<PseudoTerminal>());
        current = ends.back().get();
        PlugIn(*current);
        if (loss == 2) {
            // ... stays paused when the device is back: read and dropped.
            EXPECT_TRUE(dlg->m_wndCommandBar->ToolAction(ID_TOOL_PAUSE)->isChecked());
            SendAsOneChunk(*current, "dropped while paused");
        }
        if (loss == 2)
            dlg->OnPause();
        SendAndWait(*current, RandomBytes(3000), sent);
    }
    EXPECT_EQ(Recorded(), sent);
    EXPECT_TRUE(dlg->Engine().ConnectionState().startsWith(QStringLiteral("lost 4 times, last "))) <<
        dlg->Engine().ConnectionState().toStdString();
}

TEST_F(ReconnectOnPty, StopOrClosingTheWindowEndsTheWaitAtOnceAndLeaksNothing)
{
    const int terminals = OpenDescriptors("/dev/pts/");
    const int watchers = OpenDescriptors("inotify");
    Begin();
    Unplug(pty);
    EXPECT_GT(OpenDescriptors("inotify"), watchers);
    dlg->OnStop();
    EXPECT_FALSE(dlg->Engine().IsWaitingForPort());
    EXPECT_TRUE(Enabled(*dlg, ID_TOOL_BEGIN));
    EXPECT_FALSE(Enabled(*dlg, ID_TOOL_STOP));
    EXPECT_EQ(OpenDescriptors("inotify"), watchers);
    EXPECT_TRUE(dlg->Engine().ConnectionState().startsWith(QStringLiteral("lost 1 time, last at ")));

    // A device that comes back after Stop is left alone, also when the
    // retry's time has passed.
    PseudoTerminal back;
    ASSERT_TRUE(back.Open());
    PointLinkAt(link, back.SlavePath());
    WaitUntil([] { return false; }, CPortReconnect::kRetryIntervalMs + 300);
    EXPECT_EQ(dlg->Engine().Port(), nullptr);
    std::unique_ptr<SerialPort> free(SerialPort::Open(link));
    EXPECT_NE(free, nullptr) << errno;
    free.reset();

    // Begin on it, lose it again and close the window while waiting.
    Begin();
    EXPECT_EQ(dlg->Engine().ConnectionState(), QString());  // a new capture starts afresh
    Unplug(back);
    EXPECT_TRUE(dlg->DestroyWindow());
    EXPECT_FALSE(dlg->Engine().IsWaitingForPort());
    EXPECT_EQ(OpenDescriptors("inotify"), watchers);
    EXPECT_EQ(OpenDescriptors("/dev/pts/"), terminals);
}

TEST_F(ReconnectOnPty, ADeviceThatComesBackBusyIsTriedAgainAndTheReasonShown)
{
    Begin();
    QByteArray sent;
    SendAndWait(pty, "before", sent);
    Unplug(pty);

    // Another program has the returning device.
    PseudoTerminal back;
    ASSERT_TRUE(back.Open());
    const int holder = ::open(QFile::encodeName(back.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    PointLinkAt(link, back.SlavePath());
    ASSERT_TRUE(WaitUntil([&] { return dlg->Engine().ConnectionState().contains(QStringLiteral("busy")); }));
    EXPECT_TRUE(dlg->Engine().IsWaitingForPort());
    EXPECT_TRUE(dlg->Engine().ConnectionState().contains(QStringLiteral("cannot open it: busy, another program holds it (error %1)")
                                                    .arg(EWOULDBLOCK)))
        << dlg->Engine().ConnectionState().toStdString();
    EXPECT_TRUE(StatusText().contains(QStringLiteral("busy")));

    // Let go: the next retry takes it, with no event to prompt it.
    ::close(holder);
    ASSERT_TRUE(WaitUntil([&] { return !dlg->Engine().IsWaitingForPort(); }, CPortReconnect::kRetryIntervalMs * 4));
    SendAndWait(back, "after", sent);
    EXPECT_EQ(Recorded(), QByteArray("beforeafter"));
    EXPECT_FALSE(dlg->Engine().ConnectionState().contains(QStringLiteral("busy")));
}

TEST_F(ReconnectOnPty, WorksWithoutAWindowToo)
{
    // The engine alone, as the headless capture runs it: no window at all.
    auto engine = std::make_unique<CCaptureEngine>();
    engine->m_strPortName = QStringLiteral("COM5");
    dlg.reset();
    ASSERT_TRUE(engine->OpenPort());
    ASSERT_TRUE(WaitUntil([&] { return engine->IsListening(); }));
    ASSERT_TRUE(pty.WriteAll("one"));
    auto recorded = [&] {
        std::lock_guard lock(engine->m_csCapture);
        QByteArray bytes;
        for (int i = 0; i < engine->m_items.GetSize(); ++i)
            bytes.append(reinterpret_cast<const char*>(engine->m_items.GetAt(i).GetData()),
                         engine->m_items.GetAt(i).GetLength());
        return bytes;
    };
    ASSERT_TRUE(WaitUntil([&] { return recorded() == "one"; }));
    pty.Close();
    ASSERT_TRUE(WaitUntil([&] { return engine->IsWaitingForPort(); }));
    PseudoTerminal back;
    ASSERT_TRUE(back.Open());
    PointLinkAt(link, back.SlavePath());
    ASSERT_TRUE(WaitUntil([&] { return !engine->IsWaitingForPort() && engine->Port(); }));
    ASSERT_TRUE(back.WriteAll("two"));
    ASSERT_TRUE(WaitUntil([&] { return recorded() == "onetwo"; }));
    EXPECT_TRUE(engine->ConnectionState().startsWith(QStringLiteral("lost 1 time")));
}

// A USB adapter seen by the kernel as /dev/ttyUSB0, with its by-id link, in
// the test's device tree. It comes back as /dev/ttyUSB1, while another
// adapter takes /dev/ttyUSB0.
TEST_F(ReconnectOnPty, TheSameDeviceIsFollowedByItsStableLinkAndAnotherOneIsNotTaken)
{
    const QString dev = platform::deviceRoot() + QStringLiteral("/dev");
    const QString byId = dev + QStringLiteral("/serial/by-id");
    ASSERT_TRUE(QDir().mkpath(byId));
    const QString ours = byId + QStringLiteral("/usb-Acme_Logger_A1B2-if00-port0");
    ASSERT_TRUE(QFile::link(pty.SlavePath(), dev + QStringLiteral("/ttyUSB0")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB0"), ours));
    dlg->Engine().m_strPortName = QStringLiteral("COM33");  // /dev/ttyUSB0 by default
    Begin();
    EXPECT_EQ(dlg->Engine().Reconnect().ReopenPath(), ours);
    QByteArray sent;
    SendAndWait(pty, "A", sent);

    // Unplugged: the kernel node and the link go.
    Unplug(pty);
    EXPECT_TRUE(dlg->Engine().ConnectionState().startsWith(QStringLiteral("Waiting for COM33 (%1)").arg(ours)));
    ASSERT_TRUE(QFile::remove(ours));
    ASSERT_TRUE(QFile::remove(dev + QStringLiteral("/ttyUSB0")));

    // Another adapter arrives and takes the old kernel name.
    PseudoTerminal other;
    ASSERT_TRUE(other.Open());
    ASSERT_TRUE(QFile::link(other.SlavePath(), dev + QStringLiteral("/ttyUSB0")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB0"), byId + QStringLiteral("/usb-Other_Modem_9999-if00-port0")));
    WaitUntil([] { return false; }, CPortReconnect::kRetryIntervalMs + 300);
    EXPECT_TRUE(dlg->Engine().IsWaitingForPort());
    std::unique_ptr<SerialPort> untouched(SerialPort::Open(other.SlavePath()));
    EXPECT_NE(untouched, nullptr) << "the other adapter was taken: " << errno;
    untouched.reset();

    // Ours comes back under the next kernel name.
    PseudoTerminal back;
    ASSERT_TRUE(back.Open());
    ASSERT_TRUE(QFile::link(back.SlavePath(), dev + QStringLiteral("/ttyUSB1")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB1"), ours));
    ASSERT_TRUE(WaitUntil([&] { return !dlg->Engine().IsWaitingForPort(); }));
    ASSERT_TRUE(other.WriteAll("not ours"));
    SendAndWait(back, "C", sent);
    EXPECT_EQ(Recorded(), QByteArray("AC"));
}

} // namespace
