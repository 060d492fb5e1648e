#include "settings/enumerate_ports.h"

#include "platform/device_map.h"
#include "platform/port_probe.h"

int EnumeratePorts(QStringList& ports)
{
    ports.clear();
    // One reading of the Ports overrides for all 256 names.
    const QVector<QString> paths = platform::devicePathsForAllPorts();
    for (int n = 1; n <= platform::kMaxPortNumber; ++n) {
        if (platform::isPortPresent(paths[n]))
            ports.append(QStringLiteral("COM%1").arg(n));
    }
    return int(ports.size());
}
