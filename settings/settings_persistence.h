#pragma once
// The four settings a capture starts with, read from the settings file at
// start and written back at the end of a run.
#include "settings/port_settings.h"
#include "settings/record_settings.h"

#include <QString>
#include <cstdint>

struct StoredSettings {
    QString portName;
    PortSettings port{};
    RecordSettings record{};
    int32_t showFormat = 0;
};

// Fills `settings` with the stored values; what is missing or unreadable
// keeps its default.
void LoadSettings(StoredSettings& settings);
void SaveSettings(const StoredSettings& settings);

// The output area's time column, a setting of the window kept beside the
// four. `stored` tells whether the file holds it, so that a file that never
// had the column on is written back as it was.
struct TimeColumnSetting {
    int32_t mode = 0;
    bool stored = false;
};
TimeColumnSetting LoadTimeColumnSetting();
void SaveTimeColumnSetting(const TimeColumnSetting& setting);

// The folder chosen for the capture's journal (the string value
// "StoreFolder"), or an empty text when none is chosen.
QString LoadStoreFolder();
