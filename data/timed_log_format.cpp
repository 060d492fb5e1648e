#include "data/timed_log_format.h"

#include "data/item_rendering.h"
#include "data/item_time_format.h"

void AppendTimedLogEntry(QByteArray& out, const CDataItem& item)
{
    // The entry's leading line end, then the time where "Rec :" began.
    out += "\r\n";
    AppendIsoLocalMicros(out, item.GetTimeMicros());
    out += '\t';
    const qsizetype entry = out.size();
    AppendItemEntryUtf8(out, item);
    out.remove(entry, 2);
}
