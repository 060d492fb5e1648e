#pragma once
// Reads a capture journal (data/journal_format.h) from memory. Any input is
// safe: a journal cut off in the middle of a record gives every whole record
// before the cut, and damage stops the reading at the first bad record.
#include "settings/port_settings.h"

#include <QString>
#include <cstdint>
#include <functional>

struct JournalHeader {
    int64_t startMicros = 0;
    PortSettings line{};
    QString portName;
    QString prefix;  // the output area's text before the first entry
};

struct JournalItem {
    int64_t number = 0;  // the capture's number of the item, counted from 0
    int64_t offset = 0;  // where its record begins in its file
    int file = 0;        // which file of a series holds it
    int64_t timeMicros = 0;
    int32_t kind = 0;
    QString name;
    const uint8_t* data = nullptr;
    int length = 0;
};

enum class JournalState {
    Whole,       // ends with a whole record
    CutOff,      // ends inside a record, as when the writer stopped mid-write
    Damaged,     // a record is not what it claims to be; reading stopped there
    NotAJournal, // no journal header at all
};

struct JournalSummary {
    JournalState state = JournalState::NotAJournal;
    JournalHeader header;
    uint32_t version = 0;
    uint32_t segment = 0;     // the segment's number in its series (0: a one-file journal)
    int64_t firstItem = 0;    // the capture's index of the first item held
    int64_t bytesBefore = 0;  // the recorded bytes of the capture before it
    int64_t skipped = 0;      // numbers between segments whose items no segment holds
    int64_t items = 0;     // whole item records before the end or the damage
    int64_t bytes = 0;     // the bytes those items hold
    int64_t saved = 0;     // items that a Save wrote, counted from the capture's first
    int64_t goodEnd = 0;   // file offset just past the last whole record read
    QString problem;       // what is wrong, for Damaged and NotAJournal

    // One past the capture's index of the last item held.
    int64_t EndItem() const { return firstItem + skipped + items; }
    bool Restorable() const { return state != JournalState::NotAJournal && EndItem() > saved; }
};

// How much of a journal to read: all of it, or only its head (the segment
// record, the capture header and the saved mark that opens a segment).
enum class JournalScope { Whole, Head };

// More items than any capture holds: a count past it is damage.
inline constexpr int64_t kMaxJournalItems = int64_t(1) << 48;

// Reads the journal in data[0, size), calling `onItem` for every whole item
// record in order (the item's bytes point into `data`).
JournalSummary ReadJournal(const uint8_t* data, size_t size,
                           const std::function<void(const JournalItem&)>& onItem = {},
                           JournalScope scope = JournalScope::Whole);
