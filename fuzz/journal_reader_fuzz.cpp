// Any bytes given to the journal reader: no crash, no hang, no read outside
// the input, and a summary that agrees with what it handed out.
#include "data/journal_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int64_t items = 0;
    int64_t bytes = 0;
    unsigned sum = 0;
    const JournalSummary summary = ReadJournal(data, size, [&](const JournalItem& item) {
        ++items;
        bytes += item.length;
        if (item.length < 0 || item.data < data || item.data + item.length > data + size)
            std::abort();
        for (int i = 0; i < item.length; ++i)
            sum += item.data[i];  // every byte handed out is readable
        sum += unsigned(item.name.size());
    });
    // A saved mark counts from the capture's first item, which a later
    // segment of a journal does not hold.
    if (summary.items != items || summary.bytes != bytes || summary.goodEnd > int64_t(size) ||
        summary.saved > summary.EndItem() || summary.firstItem < 0)
        std::abort();
    return sum == 0xFFFFFFFFu ? 1 : 0;
}
