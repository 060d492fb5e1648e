#pragma once
// What `vantrel --capture` is asked to do: the settings it overrides for
// this run only, where it writes, and when it ends; and the readers of the
// option values, which refuse what the settings dialogs refuse.
#include "data/file_rotation.h"
#include "settings/port_settings.h"
#include "settings/record_settings.h"

#include <QString>
#include <cstdint>
#include <optional>

class CCaptureEngine;

struct LineSettings {
    uint8_t byteSize = 8;
    uint8_t parity = NOPARITY;
    uint8_t stopBits = ONESTOPBIT;
};

struct CaptureOptions {
    // Overrides of the stored settings.
    QString strPortName;                 // "COMn", or empty for the stored port
    QString strDevicePath;               // the device behind the port, for this run only
    std::optional<uint32_t> baudRate;
    std::optional<LineSettings> line;
    std::optional<int32_t> showFormat;   // 0 text, 1 hex
    std::optional<RecordSettings> record;  // a recording window (--every, --length)
    bool bRecordAll = false;               // record everything; the stored window is kept

    // Output: paths, "-" for standard output; all empty means the Serial
    // Log on standard output.
    QString strLogPath;
    QString strSendDataPath;
    QString strTimedLogPath;             // the Serial Log with every item's time
    QString strJsonLinesPath;            // one JSON object per item, for log collectors
    SplitRule split;
    // The journal that protects what the files do not have on disk yet
    // stays under this size, its oldest segments going first.
    int64_t journalMaxBytes = int64_t(1) << 30;
    // The most memory the items not on disk yet may take (while the journal
    // cannot write them) before the capture stops; 0 for a quarter of the
    // memory available at the start.
    int64_t memoryMaxBytes = 0;

    // Ends: 0 for never.
    int64_t durationMs = 0;
    int64_t maxBytes = 0;
    bool bExitOnLoss = false;
    bool bQuiet = false;

    // Puts the overrides into the engine's settings; nothing
    // is stored.
    void ApplyTo(CCaptureEngine& engine) const;
};

// "8N1", "7E2", "5N1.5": data bits 5-8, parity N/O/E/M/S, stop bits 1, 1.5
// or 2; 1.5 stop bits only with 5 data bits and 2 not with 5, as the line
// takes them.
bool ParseLineSettings(const QString& text, LineSettings& line);
// "30" (seconds), "30s", "15m", "2h", "1d".
bool ParseDuration(const QString& text, int64_t& milliseconds);
// "10s", "5m", "1h": a recording period of 1-999 units.
bool ParseRecordPeriod(const QString& text, int32_t& unit, int32_t& period);
// 1-999.
bool ParseRecordLength(const QString& text, int32_t& seconds);
// A rate of bits per second the line can be set to.
bool ParseBaudRate(const QString& text, uint32_t& rate);
