#pragma once
// Which device stands behind a COM name. COM1-COM32 are /dev/ttyS0-31,
// COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, COM97-128
// /dev/ttyAMA0-31 and COM129-160 /dev/rfcomm0-31. A REG_SZ value "COMn" under
// the "Ports" key holds a device path that overrides the default; an
// override made for this run only (the virtual instrument) wins over both.
#include <QString>
#include <QStringList>

namespace platform {

constexpr int kMaxPortNumber = 256;
extern const QString kPortsKey;  // "Software\\Kerbix\\Vantrel\\Ports"

// The folder that stands for "/" in default device paths and sysfs paths:
// $VANTREL_DEVICE_ROOT, or empty for the real root. Tests point it at a
// tree of their own so they never see, or touch, the machine's ports.
QString deviceRoot();

// 1-256 for "COMn" or "COMn:" (case-insensitive), else 0.
int portNumber(const QString& portName);

// The device path for a port name ("COM3" or "COM3:"); empty when the name
// maps to nothing.
QString devicePathForPort(const QString& portName);

// The same for every port number at once, reading the overrides once.
// Index 0 is unused.
QVector<QString> devicePathsForAllPorts();

// The stable name of the device behind `devicePath`: a link in the device
// root's /dev/serial/by-id (or, failing that, /dev/serial/by-path) that
// leads to the same device node. A path that is such a link already is its
// own stable name. Empty when the device is absent or has no such link.
// A kernel name (/dev/ttyUSB0) may go to another device after a replug;
// the by-id link keeps following the one it was made for.
QString stableLinkFor(const QString& devicePath);

// The folders where a device's node and its stable links appear: the device
// root's /dev, /dev/serial/by-id and /dev/serial/by-path.
QStringList deviceFolders();

// Overrides for this run only; never stored.
void setRuntimePortOverride(int number, const QString& devicePath);
void clearRuntimePortOverrides();

} // namespace platform
