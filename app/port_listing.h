#pragma once
// `vantrel --list`: the ports that are present, found as the Port Setting
// dialog finds them, without opening any.
#include <QString>
#include <QVector>

struct PresentPort {
    QString portName;    // "COM33"
    QString devicePath;  // "/dev/ttyUSB0", or the override's path
    QString stableLink;  // the /dev/serial/by-id/ link to the same device, or empty
    QString driver;      // the kernel driver's name from sysfs, or empty
};

QVector<PresentPort> ListPresentPorts();

// One line per port: name, device, by-id link and driver, separated by tabs,
// "-" for what is not known.
QString FormatPortList(const QVector<PresentPort>& ports);
