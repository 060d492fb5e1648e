#pragma once
// The serial ports present on this machine, as the Port Setting dialog lists
// them.
#include <QStringList>

// Empties `ports`, then appends "COMn" for every n from 1 to 256 whose device
// is present (busy ones included), in ascending order, without opening any
// of them. Returns the number found.
int EnumeratePorts(QStringList& ports);
