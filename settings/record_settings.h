#pragma once
// The recording rule: record everything, or only the first nLength seconds of
// every period of nPeriod units, counted from the start of the capture.
#include <cstddef>
#include <cstdint>

struct RecordSettings {
    int32_t nUnit;       // 0 "Sec", 1 "Min", 2 "Hour"
    int32_t nPeriod;     // "Record On Every", in units
    int32_t nLength;     // "Record Time Length", in seconds
    int32_t bRecordAll;  // nonzero: record every chunk
};

static_assert(sizeof(RecordSettings) == 16);
static_assert(offsetof(RecordSettings, bRecordAll) == 12);
