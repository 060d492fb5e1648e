// Opening, configuring and closing the serial port, on the user-interface
// thread.
#include "app/monitor_dlg.h"

#include "capture/port_reconnect.h"
#include "data/capture_journal.h"
#include "platform/device_map.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

// Lets the line and the device behind it settle after the open.
constexpr auto kSettleTime = std::chrono::milliseconds(100);

QString deviceNameFor(const QString& portName)
{
    return QStringLiteral("%1:").arg(portName);
}

void showOpenFailure(const QString& deviceName, int error)
{
    AfxMessageBox(QStringLiteral("Cannot Open Port %1. Error No\uFF1A%2").arg(deviceName, QString::number(error)),
                  MB_OK | MB_ICONSTOP);
}

// Applies the line settings and the time-outs to the port. Returns what
// the port refused, as the message to show, or nothing when all went well.
QString configureLine(SerialPort& port, const PortSettings& settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    port.GetCommState(dcb);
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;

    // fParity (bit 1) from the settings, every other bit from the port; then
    // fBinary on, no CTS/DSR flow, DTR and RTS enabled, no DSR sensitivity,
    // TX continues on XOFF, no XON/XOFF, no error or null replacement, no
    // abort on error; bits 15-31 as the port had them.
    const uint32_t c = dcb.Flags;
    const uint32_t s = settings.Flags;
    uint32_t flags = (c & ~uint32_t(0x2)) | (s & uint32_t(0x2));
    flags = (flags & uint32_t(0xFFFF9093)) | uint32_t(0x1091);
    dcb.Flags = flags;

    if (!port.SetCommState(dcb))
        return QStringLiteral("Unable to configure the serial port\n Error Code: %1 ").arg(errno);

    COMMTIMEOUTS timeouts{};
    port.GetCommTimeouts(timeouts);
    // A read returns at once with what has arrived, even nothing.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!port.SetCommTimeouts(timeouts))
        return QStringLiteral("Unable to set the time-out parameters");
    // The results are not examined: a line without modem control (a
    // pseudo-terminal, many USB bridges) refuses both and works anyway.
    port.EscapeCommFunction(SETDTR);
    port.EscapeCommFunction(SETRTS);
    return {};
}

// Starts the receive thread on the open port and returns once it has
// purged the port and listens, so every byte that arrives from then on
// belongs to the capture (the purge never waits for anything, so neither
// does this for long). 0, or the error with which the thread did not start.
int startReceiveThread(CMonitorDlg& dlg)
{
    dlg.m_bListening = false;
    try {
        dlg.m_hThread = std::thread(&CMonitorDlg::ReceiveThreadProc, &dlg);
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    dlg.m_bListening.wait(false);
    return 0;
}

// Ends the receive thread and closes the port.
bool releasePort(CMonitorDlg& dlg)
{
    SerialPort* port = dlg.m_hPort;
    const bool hadCapture = port || dlg.m_hThread.joinable();
    // Interrupting the port releases the receive thread wherever it is: a
    // wait returns at once and the next read fails. The thread never waits
    // for this thread, so the join always ends, and once it has the thread
    // records nothing more. Only then are the descriptor, the lock and the
    // exclusive hold released and the pointer cleared, so the receive
    // thread never sees the port change under it.
    if (port)
        port->Interrupt();
    if (dlg.m_hThread.joinable())
        dlg.m_hThread.join();
    // The journal takes the last items now, and rests until a port is open
    // again.
    dlg.m_journal->SetFollowing(false);
    bool result = false;
    if (port) {
        result = port->Close();
        dlg.m_hPort = nullptr;
        delete port;
    }
    // Stop returns with everything recorded on screen.
    if (hadCapture)
        dlg.RefreshOutput();
    return result;
}

} // namespace

void CMonitorDlg::OnBegin()
{
    OpenPort();
}

void CMonitorDlg::OnStop()
{
    if (!m_hPort && !IsWaitingForPort())
        return;
    ClosePort();
    UpdateCommandState();
}

bool CMonitorDlg::OpenPort()
{
    if (m_hPort || IsWaitingForPort())
        ClosePort();
    const QString deviceName = deviceNameFor(m_strPortName);
    // Taken on every attempt and before the open, so the recording windows
    // count from the moment of Begin.
    m_timeStart = CTime::GetCurrentTime();

    const QString devicePath = platform::devicePathForPort(deviceName);
    // A new capture: earlier losses are forgotten, and the device's stable
    // name is looked up while the device is surely there.
    m_pReconnect->Begin(m_strPortName, devicePath);
    SerialPort* port = SerialPort::Open(devicePath);
    if (!port) {
        showOpenFailure(deviceName, errno);
        return false;
    }
    m_hPort = port;
    std::this_thread::sleep_for(kSettleTime);
    ConfigurePort();
    if (const int error = startReceiveThread(*this)) {
        // No receive thread, no capture: leave the port closed as we found it.
        ClosePort();
        showOpenFailure(deviceName, error);
        return false;
    }
    m_journal->SetLine(m_strPortName, m_portSettings, m_timeStart.GetTime() * 1'000'000);
    m_journal->SetFollowing(true);
    UpdateCommandState();
    return true;
}

int CMonitorDlg::ReopenPort(const QString& devicePath)
{
    SerialPort* port = SerialPort::Open(devicePath);
    if (!port)
        return errno ? errno : EIO;
    m_hPort = port;
    std::this_thread::sleep_for(kSettleTime);
    // The capture runs unattended: a refusal goes to the status line, never
    // into a box that would wait for someone.
    m_pReconnect->SetNote(configureLine(*port, m_portSettings).simplified());
    if (const int error = startReceiveThread(*this)) {
        releasePort(*this);
        return error;
    }
    m_journal->SetFollowing(true);
    UpdateCommandState();
    return 0;
}

void CMonitorDlg::ConfigurePort()
{
    if (!m_hPort)
        return;
    const QString problem = configureLine(*m_hPort, m_portSettings);
    if (!problem.isEmpty())
        ShowMessageBox(this, problem, QStringLiteral("Error"), MB_OK);
}

bool CMonitorDlg::ClosePort()
{
    m_pReconnect->StopWaiting();
    return releasePort(*this);
}

void CMonitorDlg::OnPortLost(int errorCode)
{
    // The queued report may come after a Stop, or after a new Begin whose
    // port is well: only a capture whose port is gone waits for it.
    if (!m_hPort || !m_hPort->LostError())
        return;
    // Whoever runs the capture unattended may end it here instead.
    emit portLost(errorCode);
    // The capture goes on: the item list, the start time and the pause
    // state stay; only the dead port goes, and the device is waited for.
    // No box: an unattended capture would pile them up.
    ClosePort();
    m_pReconnect->StartWaiting();
    UpdateCommandState();
}

bool CMonitorDlg::IsWaitingForPort() const
{
    return m_pReconnect && m_pReconnect->IsWaiting();
}

QString CMonitorDlg::ConnectionState() const
{
    return m_pReconnect ? m_pReconnect->Describe() : QString();
}
