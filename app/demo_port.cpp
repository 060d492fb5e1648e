#include "app/demo_port.h"

#include "app/monitor_dlg.h"
#include "platform/device_map.h"

#include <QFileInfo>
#include <cstring>

int FirstFreeDemoPortNumber(const QVector<QString>& devicePaths)
{
    for (int n = CDemoPort::kFirstDemoPort; n <= platform::kMaxPortNumber && n < devicePaths.size(); ++n)
        if (devicePaths.at(n).isEmpty() || !QFileInfo::exists(devicePaths.at(n)))
            return n;
    return 0;
}

CDemoPort::~CDemoPort()
{
    Stop();
}

bool CDemoPort::Start()
{
    const int number = FirstFreeDemoPortNumber(platform::devicePathsForAllPorts());
    if (!number) {
        m_strError = QStringLiteral("The virtual instrument needs a free port number from COM%1 to COM%2, "
                                    "and every one of them names a device.")
                         .arg(kFirstDemoPort)
                         .arg(platform::kMaxPortNumber);
        return false;
    }
    if (!m_instrument.Start()) {
        m_strError = QStringLiteral("The virtual instrument could not be started: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_nPort = number;
    platform::setRuntimePortOverride(m_nPort, m_instrument.DevicePath());
    return true;
}

void CDemoPort::Stop()
{
    m_instrument.Stop();
    if (m_nPort)
        platform::setRuntimePortOverride(m_nPort, QString());
    m_nPort = 0;
}

QString CDemoPort::PortName() const
{
    return m_nPort ? QStringLiteral("COM%1").arg(m_nPort) : QString();
}

void CDemoPort::SelectIn(CMonitorDlg& dlg) const
{
    const QString stored = dlg.Engine().m_strPortName;
    const QString demo = PortName();
    dlg.Engine().m_strPortName = demo;
    // The window saves its settings after its modal loop ends; by then the
    // stored name is back, unless the user chose another port meanwhile.
    QObject::connect(&dlg, &QDialog::finished, &dlg, [&dlg, stored, demo] {
        if (dlg.Engine().m_strPortName == demo)
            dlg.Engine().m_strPortName = stored;
    });
}
