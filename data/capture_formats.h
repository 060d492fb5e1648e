#pragma once
// The bytes of the two capture file formats, item by item. Save and the
// streamed files of the headless capture both write through these, so a
// streamed file holds exactly what a Save of the same capture holds.
#include "data/data_item.h"

#include <QByteArray>
#include <QString>

enum class CaptureFormat {
    SerialLog,  // the output area's text: its prefix, then "\r\nRec :" and the rendering of each item
    SendData,   // one line per item: "name",Kind,"hex text"
    TimedLog,   // the Serial Log with each entry's local time and a tab before its "Rec :"
};

// Appends one Send Data line in UTF-8, its line end included. Names and
// hexadecimal text hold neither quotes nor commas, so nothing needs escaping.
void AppendSendDataLine(QByteArray& out, const CDataItem& item);

// One item in `format`, as UTF-8: appended to `out`, or on its own.
void AppendFormattedItem(QByteArray& out, CaptureFormat format, const CDataItem& item);
QByteArray FormatItem(CaptureFormat format, const CDataItem& item);

// What a file in `format` holds before its first item: the output area's
// prefix text for a Serial Log, nothing for Send Data.
QByteArray FormatPrefix(CaptureFormat format, const QString& outputPrefix);
