// Opening, configuring and closing the serial port, on the user-interface
// thread.
#include "app/monitor_dlg.h"

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

} // namespace

void CMonitorDlg::OnBegin()
{
    OpenPort();
}

void CMonitorDlg::OnStop()
{
    if (!m_hPort)
        return;
    ClosePort();
    UpdateCommandState();
}

bool CMonitorDlg::OpenPort()
{
    if (m_hPort)
        ClosePort();
    const QString deviceName = deviceNameFor(m_strPortName);
    // Taken on every attempt and before the open, so the recording windows
    // count from the moment of Begin.
    m_timeStart = CTime::GetCurrentTime();

    SerialPort* port = SerialPort::Open(platform::devicePathForPort(deviceName));
    if (!port) {
        showOpenFailure(deviceName, errno);
        return false;
    }
    m_hPort = port;
    std::this_thread::sleep_for(kSettleTime);
    ConfigurePort();
    m_bListening = false;
    try {
        m_hThread = std::thread(&CMonitorDlg::ReceiveThreadProc, this);
    } catch (const std::system_error& e) {
        // No receive thread, no capture: leave the port closed as we found it.
        ClosePort();
        showOpenFailure(deviceName, e.code().value());
        return false;
    }
    // Begin returns once the thread has purged the port and listens, so
    // every byte that arrives after Begin belongs to the capture. The purge
    // never waits for anything, so neither does this for long.
    m_bListening.wait(false);
    UpdateCommandState();
    return true;
}

void CMonitorDlg::ConfigurePort()
{
    if (!m_hPort)
        return;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    m_hPort->GetCommState(dcb);
    dcb.BaudRate = m_portSettings.BaudRate;
    dcb.ByteSize = m_portSettings.ByteSize;
    dcb.Parity = m_portSettings.Parity;
    dcb.StopBits = m_portSettings.StopBits;

    // fParity (bit 1) from the settings, every other bit from the port; then
    // fBinary on, no CTS/DSR flow, DTR and RTS enabled, no DSR sensitivity,
    // TX continues on XOFF, no XON/XOFF, no error or null replacement, no
    // abort on error; bits 15-31 as the port had them.
    const uint32_t c = dcb.Flags;
    const uint32_t s = m_portSettings.Flags;
    uint32_t flags = (c & ~uint32_t(0x2)) | (s & uint32_t(0x2));
    flags = (flags & uint32_t(0xFFFF9093)) | uint32_t(0x1091);
    dcb.Flags = flags;

    if (!m_hPort->SetCommState(dcb)) {
        const int error = errno;
        ShowMessageBox(this, QStringLiteral("Unable to configure the serial port\n Error Code: %1 ").arg(error),
                       QStringLiteral("Error"), MB_OK);
        return;
    }

    COMMTIMEOUTS timeouts{};
    m_hPort->GetCommTimeouts(timeouts);
    // A read returns at once with what has arrived, even nothing.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (m_hPort->SetCommTimeouts(timeouts)) {
        // The results are not examined: a line without modem control (a
        // pseudo-terminal, many USB bridges) refuses both and works anyway.
        m_hPort->EscapeCommFunction(SETDTR);
        m_hPort->EscapeCommFunction(SETRTS);
    } else {
        ShowMessageBox(this, QStringLiteral("Unable to set the time-out parameters"), QStringLiteral("Error"), MB_OK);
    }
}

bool CMonitorDlg::ClosePort()
{
    SerialPort* port = m_hPort;
    const bool hadCapture = port || m_hThread.joinable();
    // Interrupting the port releases the receive thread wherever it is: a
    // wait returns at once and the next read fails. The thread never waits
    // for this thread, so the join always ends, and once it has the thread
    // records nothing more. Only then are the descriptor, the lock and the
    // exclusive hold released and the pointer cleared, so the receive
    // thread never sees the port change under it.
    if (port)
        port->Interrupt();
    if (m_hThread.joinable())
        m_hThread.join();
    bool result = false;
    if (port) {
        result = port->Close();
        m_hPort = nullptr;
        delete port;
    }
    // Stop returns with everything recorded on screen.
    if (hadCapture)
        RefreshOutput();
    return result;
}

void CMonitorDlg::OnPortLost(int errorCode)
{
    // The queued report may come after a Stop, or after a new Begin whose
    // port is well: only a capture whose port is gone is closed.
    if (!m_hPort || !m_hPort->LostError())
        return;
    emit portLost(errorCode);
    ClosePort();
    UpdateCommandState();
    AfxMessageBox(QStringLiteral("Port %1 was lost. Error No\uFF1A%2")
                      .arg(deviceNameFor(m_strPortName), QString::number(errorCode)),
                  MB_OK | MB_ICONSTOP);
}
