#pragma once
// A main window (initialised and shown, offscreen) over its capture engine,
// whose port COM5 is the slave side of a pseudo-terminal; the test is the far
// end.
#include "app/command_bar.h"
#include "app/monitor_dlg.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"
#include "test_support.h"

#include <QByteArray>
#include <QStringList>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

// Whether the toolbar's command `id` is enabled.
inline bool Enabled(CMonitorDlg& dlg, int id)
{
    return dlg.m_wndCommandBar->ToolAction(id)->isEnabled();
}

class CaptureOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Open());
        testing_support::SetPortOverride(5, pty.SlavePath());
        dlg = std::make_unique<CMonitorDlg>();
        dlg->OnInitDialog();
        dlg->show();
        dlg->Engine().m_strPortName = QStringLiteral("COM5");
    }
    void TearDown() override { dlg.reset(); }

    void Begin()
    {
        dlg->OnBegin();
        ASSERT_NE(dlg->Engine().Port(), nullptr);
        // The receive thread lets the line settle and purges it; from then
        // on every byte belongs to the capture.
        ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg->Engine().IsListening(); }));
    }

    // Every recorded byte, in order.
    QByteArray Recorded()
    {
        std::lock_guard lock(dlg->Engine().m_csCapture);
        QByteArray bytes;
        for (int i = 0; i < dlg->Engine().m_items.GetSize(); ++i)
            bytes.append(reinterpret_cast<const char*>(dlg->Engine().m_items.GetAt(i).GetData()),
                         dlg->Engine().m_items.GetAt(i).GetLength());
        return bytes;
    }
    int ItemCount()
    {
        std::lock_guard lock(dlg->Engine().m_csCapture);
        return dlg->Engine().m_items.GetSize();
    }
    uint32_t WaitingInPort()
    {
        uint32_t errors = 0;
        COMSTAT status{};
        return dlg->Engine().Port() && dlg->Engine().Port()->ClearCommError(errors, status) ? status.cbInQue : 0;
    }

    // Sends `bytes` so that the receive thread finds all of them waiting at
    // once: it is kept out of its handler (by the capture lock) until they
    // have arrived, and this returns once it has taken them.
    void SendAsOneChunk(const QByteArray& bytes)
    {
        ReadUnderLock();
        {
            std::lock_guard lock(dlg->Engine().m_csCapture);
            ASSERT_TRUE(pty.WriteAll(bytes));
            // No event processing here: a view refresh would want this lock.
            ASSERT_TRUE(WaitWithoutEvents([&] { return WaitingInPort() >= uint32_t(bytes.size()); }));
        }
        ASSERT_TRUE(testing_support::WaitUntil([&] { return WaitingInPort() == 0; }));
        // The handler holds the lock from before its read until it has asked
        // the gate and recorded, so once the lock is free again it is done.
        std::lock_guard done(dlg->Engine().m_csCapture);
        dlg->Engine().m_bReadUnderLock = false;
    }

    // From now until a chunk is sent, the receive thread reads only under
    // the capture lock (it takes this up between reads).
    void ReadUnderLock()
    {
        dlg->Engine().m_bReadUnderLock = true;
        ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg->Engine().m_bReadingUnderLock.load(); }));
    }

    static bool WaitWithoutEvents(const std::function<bool()>& done)
    {
        for (int i = 0; i < 500; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }

    platform::PseudoTerminal pty;
    std::unique_ptr<CMonitorDlg> dlg;
};
