#include "settings/port_settings.h"

void SetPortDefaults(PortSettings& settings)
{
    settings.BaudRate = 9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.Flags |= kDcbParity;
}
