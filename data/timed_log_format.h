#pragma once
// The Timed Log: a Serial Log in which every entry's "Rec :" is preceded by
// the item's local time with microseconds and offset and a tab:
// "\r\n2026-12-08T14:03:05.123456+01:00\tRec :..." in UTF-8, its text
// before the first item and its line ends exactly as in the Serial Log.
#include "data/data_item.h"

#include <QByteArray>

void AppendTimedLogEntry(QByteArray& out, const CDataItem& item);
