#pragma once
// Whether a serial port's device is there, found without opening it: opening
// a terminal raises DTR, which resets many boards, and a port that another
// program holds must still count as present.
#include <QString>

namespace platform {

// True when `devicePath` (symbolic links followed) is a character device
// that sysfs does not rule out as a serial port. sysfs rules it out when its
// entry belongs to another subsystem than tty, or when its "type" reads 0,
// the legacy UART slot with no hardware behind it. A character device with
// no sysfs entry at all (a pseudo-terminal) counts as present. sysfs is read
// under deviceRoot(); the device path is taken as given. On false, *error
// (when given) holds the errno code: the one stat gave, ENODEV for a device
// that is not a port.
bool isPortPresent(const QString& devicePath, int* error = nullptr);

} // namespace platform
