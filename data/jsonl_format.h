#pragma once
// JSON Lines for log collectors: one object per item, on one line, in UTF-8:
// {"time":"2026-12-08T14:03:05.123456+01:00","run":"...","seq":1,
//  "port":"COM7","device":"/dev/serial/by-id/...","kind":"String",
//  "length":5,"text":"hello","base64":"aGVsbG8="}
// "text" is the item as the output area shows it (its hexadecimal text for
// a Hex item, else its bytes up to the first zero decoded as text, with
// replacement characters for bytes that are not); "base64" holds its exact
// bytes. Every line is valid JSON whatever the bytes.
#include "data/data_item.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

struct JsonLinesRun {
    QString run;     // differs for every capture, so "seq" restarting stays unambiguous
    QString port;    // the COM name
    QString device;  // the stable /dev/serial/by-id link; empty when there is none ("device":null)
};

// A new run id: a random UUID.
QString NewJsonLinesRunId();

// Appends the object for item number `seq` of the run, and its "\n".
void AppendJsonLine(QByteArray& out, const CDataItem& item, int64_t seq, const JsonLinesRun& run);

// `text` as a JSON string, quotes included.
void AppendJsonString(QByteArray& out, QStringView text);
