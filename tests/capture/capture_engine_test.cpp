// The capture engine with no window at all, on a pseudo-terminal: what a
// face learns from it comes from its values and signals, never from a box
// (any box fails the test).
#include "capture/capture_engine.h"
#include "platform/pseudo_terminal.h"
#include "test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using testing_support::WaitUntil;

namespace {

QByteArray Recorded(CCaptureEngine& engine)
{
    std::lock_guard lock(engine.m_csCapture);
    QByteArray bytes;
    for (int i = 0; i < engine.m_items.GetSize(); ++i)
        bytes.append(reinterpret_cast<const char*>(engine.m_items.GetAt(i).GetData()), engine.m_items.GetAt(i).GetLength());
    return bytes;
}

TEST(CaptureEngine, AFailedBeginIsAnErrnoAndAMessageNeverABox)
{
    platform::PseudoTerminal pty;
    ASSERT_TRUE(pty.Open());
    const int held = ::open(pty.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // another serial tool holds it
    testing_support::SetPortOverride(5, pty.SlavePath());
    QFile plain(testing_support::TestDir() + QStringLiteral("/plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    testing_support::SetPortOverride(6, plain.fileName());

    const struct {
        const char* port;
        int error;
    } cases[] = {{"COM5", EWOULDBLOCK}, {"COM6", ENOTTY}, {"COM7", ENOENT}};
    CCaptureEngine engine;
    QSignalSpy failed(&engine, &CCaptureEngine::openFailed);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        engine.m_strPortName = QString::fromLatin1(c.port);
        EXPECT_FALSE(engine.OpenPort());
        EXPECT_FALSE(engine.IsCapturing());
        EXPECT_FALSE(engine.HasReceiveThread());
        EXPECT_EQ(engine.LastOpenError(), c.error);
        ASSERT_FALSE(failed.isEmpty());
        const QList<QVariant> report = failed.takeFirst();
        EXPECT_EQ(report.at(0).toInt(), c.error);
        EXPECT_EQ(report.at(1).toString(), engine.LastOpenErrorText());
        EXPECT_TRUE(report.at(1).toString().endsWith(QString::number(c.error)));
    }
    // A good Begin forgets the last failure.
    ::close(held);
    engine.m_strPortName = QStringLiteral("COM5");
    ASSERT_TRUE(engine.OpenPort());
    EXPECT_EQ(engine.LastOpenError(), 0);
    EXPECT_TRUE(failed.isEmpty());
    engine.ClosePort();
}

// Clear Output in the middle of a flood: the capture starts again with a
// new id, and what it holds afterwards is an unbroken run of what the far
// end sent, up to its last byte.
TEST(CaptureEngine, ClearOutputDuringAFloodKeepsEveryLaterByteInOrder)
{
    platform::PseudoTerminal pty;
    ASSERT_TRUE(pty.Open());
    testing_support::SetPortOverride(5, pty.SlavePath());
    CCaptureEngine engine;
    engine.m_strPortName = QStringLiteral("COM5");
    ASSERT_TRUE(engine.OpenPort());
    ASSERT_TRUE(WaitUntil([&] { return engine.IsListening(); }));

    // A stream in which every byte says where it is.
    QByteArray stream(400'000, Qt::Uninitialized);
    for (int i = 0; i < stream.size(); ++i)
        stream[i] = char(i % 251);
    // The second half waits for the clear, so something is always left
    // after it, however the threads are scheduled.
    std::atomic<bool> sent{false};
    std::atomic<bool> cleared{false};
    std::thread far([&] {
        for (int at = 0; at < stream.size(); at += 4000) {
            while (at >= stream.size() / 2 && !cleared)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!pty.WriteAll(stream.mid(at, 4000), 20000))
                return;
        }
        sent = true;
    });
    const bool flowing = WaitUntil([&] { return Recorded(engine).size() > 20'000; }, 20000);
    const uint64_t before = engine.m_nCaptureId;
    engine.ClearOutput();
    cleared = true;
    far.join();
    ASSERT_TRUE(flowing);
    ASSERT_TRUE(sent);
    EXPECT_EQ(engine.m_nCaptureId, before + 1);
    EXPECT_TRUE(engine.m_strOutput.isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return Recorded(engine).endsWith(stream.right(251)); }, 20000));
    engine.ClosePort();

    const QByteArray after = Recorded(engine);
    ASSERT_FALSE(after.isEmpty());
    ASSERT_GE(after.size(), stream.size() / 2);
    ASSERT_LT(after.size(), stream.size());
    EXPECT_TRUE(stream.endsWith(after)) << "recorded " << after.size() << " bytes that are not the stream's tail";
}

} // namespace
