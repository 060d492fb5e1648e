// Opening, configuring and closing the serial port, on the thread that
// drives the engine. Nothing here waits for the device: the settle time
// after Begin runs on the receive thread.
#include "capture/capture_engine.h"

#include "capture/port_reconnect.h"
#include "data/capture_journal.h"
#include "platform/device_map.h"
#include "platform/serial_port.h"

#include <cerrno>
#include <system_error>

namespace {

// How long one read waits for a first byte (see configureLine).
constexpr uint32_t kReadWaitMs = 200;

QString deviceNameFor(const QString& portName)
{
    return QStringLiteral("%1:").arg(portName);
}

QString openFailureText(const QString& deviceName, int error)
{
    return QStringLiteral("Cannot Open Port %1. Error No\uFF1A%2").arg(deviceName, QString::number(error));
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
    // A read returns at once with what has arrived and otherwise waits for
    // the first byte, so the receive thread needs no wait of its own before
    // each read. The bound is how late a Stop that lands just before a read
    // can be noticed, and how often an idle line wakes the thread.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
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

} // namespace

// Starts the receive thread on the open port. With `settleAndPurge` (Begin)
// it lets the line settle and purges it before it records, and
// IsListening turns true once it has; otherwise (a device that came back)
// it records from the first byte. 0, or the error with which the thread
// did not start.
int CCaptureEngine::StartReceiveThread(bool settleAndPurge)
{
    m_bListening = false;
    m_bSettleAndPurge = settleAndPurge;
    try {
        m_hThread = std::thread(&CCaptureEngine::ReceiveThreadProc, this);
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

// Ends the receive thread and closes the port.
bool CCaptureEngine::ReleasePort()
{
    SerialPort* port = m_hPort;
    // Interrupting the port releases the receive thread wherever it is: the
    // settle wait and a wait for data return at once and the next read
    // fails. The thread never waits for this thread, so the join always
    // ends, and once it has the thread records nothing more. Only then are
    // the descriptor, the lock and the exclusive hold released and the
    // pointer cleared, so the receive thread never sees the port change
    // under it.
    if (port)
        port->Interrupt();
    if (m_hThread.joinable())
        m_hThread.join();
    // The journal takes the last items now, and rests until a port is open
    // again.
    m_journal->SetFollowing(false);
    bool result = false;
    if (port) {
        result = port->Close();
        m_hPort = nullptr;
        delete port;
    }
    return result;
}

bool CCaptureEngine::OpenPort()
{
    if (IsCapturing())
        ClosePort();
    const QString deviceName = deviceNameFor(m_strPortName);
    // Taken on every attempt and before the open, so the recording windows
    // count from the moment of Begin.
    m_timeStart = CTime::GetCurrentTime();
    m_nOpenError = 0;
    m_strOpenError.clear();
    // A Begin after memory ran out tries again, with a new reserve.
    RenewMemoryReserve();
    SetBudgetForBegin();

    const QString devicePath = platform::devicePathForPort(deviceName);
    // A new capture: earlier losses are forgotten, and the device's stable
    // name is looked up while the device is surely there.
    m_pReconnect->Begin(m_strPortName, devicePath);
    SerialPort* port = SerialPort::Open(devicePath);
    int error = port ? 0 : errno;
    if (port) {
        m_hPort = port;
        if (const QString problem = ConfigurePort(); !problem.isEmpty())
            emit lineRefused(problem);
        // No receive thread, no capture: leave the port closed as we found it.
        if ((error = StartReceiveThread(true)) != 0)
            ClosePort();
    }
    if (error) {
        m_nOpenError = error;
        m_strOpenError = openFailureText(deviceName, error);
        emit openFailed(m_nOpenError, m_strOpenError);
        return false;
    }
    m_journal->SetLine(m_strPortName, m_portSettings, m_timeStart.GetTime() * 1'000'000);
    m_journal->SetFollowing(true);
    return true;
}

int CCaptureEngine::ReopenPort(const QString& devicePath)
{
    SerialPort* port = SerialPort::Open(devicePath);
    if (!port)
        return errno ? errno : EIO;
    m_hPort = port;
    // Configured at once, before the device has time to speak, and never
    // purged: what a board prints first on its return (its boot banner) is
    // often the most useful part of the capture. The capture runs
    // unattended: a refusal goes to the connection's description.
    m_pReconnect->SetNote(configureLine(*port, m_portSettings).simplified());
    if (const int error = StartReceiveThread(false)) {
        ReleasePort();
        return error;
    }
    m_journal->SetFollowing(true);
    emit back();
    return 0;
}

QString CCaptureEngine::ConfigurePort()
{
    if (!m_hPort)
        return {};
    return configureLine(*m_hPort, m_portSettings);
}

bool CCaptureEngine::ClosePort()
{
    m_pReconnect->StopWaiting();
    return ReleasePort();
}

void CCaptureEngine::OnPortLost(int errorCode)
{
    // The queued report may come after a Stop, or after a new Begin whose
    // port is well: only a capture whose port is gone waits for it.
    if (!m_hPort || !m_hPort->LostError())
        return;
    // Whoever runs the capture unattended may end it here instead.
    emit portLost(errorCode);
    if (!m_hPort)
        return;  // it did
    // The capture goes on: the item list, the start time and the pause
    // state stay; only the dead port goes, and the device is waited for.
    ClosePort();
    m_pReconnect->StartWaiting();
    emit waiting();
}
