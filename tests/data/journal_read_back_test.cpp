// Items read back from the journal's segments once the list has given their
// memory back: byte for byte in any order, across segment boundaries and the
// blocks the list reads at a time, and while the files are renamed or
// removed; an item whose record went bad or was cut off comes back empty
// while the others still read.
#include "data/capture_journal.h"
#include "data/journal_format.h"
#include "journal_support.h"

#include <QRandomGenerator>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <set>

namespace {

struct Expected {
    QByteArray data;
    QString name;
    int kind = 0;
    int64_t micros = 0;
};

enum class Files { Kept, Renamed, Removed, Damaged, CutShort };

struct Case {
    const char* what;
    int64_t segmentBytes;
    int items;
    int shortest, longest;  // bytes of an item
    Files files;
    size_t damageAt = 0;  // which byte of a record is flipped
};

std::vector<Expected> Record(JournalModel& model, CCaptureJournal& journal, const Case& c)
{
    QRandomGenerator random(20261209);
    std::vector<Expected> expected;
    for (int i = 0; i < c.items; ++i) {
        QByteArray data(int(random.bounded(c.shortest, c.longest + 1)), Qt::Uninitialized);
        for (char& byte : data)
            byte = char(random.bounded(256));
        expected.push_back({data, QStringLiteral("12:00:%1").arg(i / 7 % 60, 2, 10, QLatin1Char('0')), i % 3,
                            1'800'000'000'000'000 + i * 1000});
        model.Add(data, expected.back().kind, expected.back().name, expected.back().micros);
        if (i % 256 == 0)
            journal.Wake();
    }
    journal.Wake();
    journal.Flush();
    return expected;
}

// Does to the segment files what the case says; returns the items that can
// no longer be read back.
std::set<int64_t> Disturb(const QString& folder, const Case& c)
{
    QStringList names = JournalNames(folder);
    names.sort();
    std::set<int64_t> lost;
    if (c.files == Files::Renamed || c.files == Files::Removed) {
        for (const QString& name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            EXPECT_TRUE(c.files == Files::Removed ? QFile::remove(path) : QFile::rename(path, path + ".moved"));
        }
    }
    if (c.files != Files::Damaged && c.files != Files::CutShort)
        return lost;
    // An item in the middle of the middle segment.
    const QString path = folder + QLatin1Char('/') + names.value(names.size() / 2);
    std::vector<JournalItem> inFile;
    ReadBytes(FileBytes(path), &inFile);
    EXPECT_GT(inFile.size(), 2u);
    const JournalItem victim = inFile[inFile.size() / 2];
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    if (c.files == Files::CutShort) {
        EXPECT_TRUE(file.resize(victim.offset + 3));
        for (const JournalItem& item : inFile)
            if (item.number >= victim.number)
                lost.insert(item.number);
    } else {
        const qint64 at = victim.offset + qint64(c.damageAt);
        file.seek(at);
        char byte = 0;
        file.getChar(&byte);
        file.seek(at);
        file.putChar(char(byte ^ 0x80));
        lost.insert(victim.number);
    }
    return lost;
}

TEST(JournalReadBack, ItemsOnDiskOnlyReadBackExactlyInAnyOrderAndDamageCostsOnlyTheItemsHit)
{
    const Case cases[] = {
        {"1 byte to 1 KiB, across 64 KiB segments", 64 * 1024, 600, 1, 1024, Files::Kept},
        {"1 byte to 1 KiB, across blocks in 1 MiB segments", 1 << 20, 6000, 1, 1024, Files::Kept},
        {"one byte each, hundreds to a block", 1 << 20, 20000, 1, 1, Files::Kept},
        {"larger than a block", 1 << 20, 12, 200 * 1024, 400 * 1024, Files::Kept},
        {"segments renamed", 64 * 1024, 600, 1, 1024, Files::Renamed},
        {"segments removed", 1 << 20, 6000, 1, 1024, Files::Removed},
        {"a record's bytes damaged", 1 << 20, 6000, 1, 1024, Files::Damaged, journal::kRecordHeadSize + 8},
        {"a record's size damaged", 1 << 20, 6000, 1, 1024, Files::Damaged, 3},
        {"a record's type damaged", 1 << 20, 6000, 1, 1024, Files::Damaged, 4},
        {"a segment cut short in a record", 1 << 20, 6000, 1, 1024, Files::CutShort},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = StateFolder() + QStringLiteral("/read_back_%1").arg(n++);
        JournalModel model;
        CCaptureJournal journal(model.Source(), folder);
        journal.SetSegmentBytes(c.segmentBytes);
        journal.SetLine(QStringLiteral("COM5"), PortSettings{}, 0);
        journal.SetSpillHandler([&](uint64_t, int64_t first, const std::vector<uint32_t>& offsets,
                                    const std::shared_ptr<const CJournalSegmentReader>& segment) {
            std::lock_guard lock(model.lock);
            const int64_t skip = model.items.GetFirst() - first;
            if (skip >= 0 && skip < int64_t(offsets.size()))
                model.items.Spill(first + int64_t(offsets.size()), segment, offsets.data() + skip);
        });
        const std::vector<Expected> expected = Record(model, journal, c);
        ASSERT_TRUE(testing_support::WaitUntil([&] {
            std::lock_guard lock(model.lock);
            return model.items.GetFirst() == model.items.GetSize();
        }));
        if (c.files != Files::Kept) {
            EXPECT_GT(journal.SegmentCount(), 1);
        }
        const std::set<int64_t> lost = Disturb(folder, c);

        std::vector<int64_t> forward(expected.size());
        std::iota(forward.begin(), forward.end(), 0);
        std::vector<int64_t> backward(forward.rbegin(), forward.rend());
        std::vector<int64_t> scattered = forward;
        std::shuffle(scattered.begin(), scattered.end(), std::mt19937(7));
        for (const auto& [order, indexes] : {std::pair{"forward", forward}, std::pair{"backward", backward},
                                             std::pair{"scattered", scattered}}) {
            SCOPED_TRACE(order);
            std::lock_guard lock(model.lock);
            CDataItem scratch;
            int wrong = 0;
            for (const int64_t i : indexes) {
                const CDataItem& item = model.items.At(i, scratch);
                const QByteArray data(reinterpret_cast<const char*>(item.GetData()), item.GetLength());
                const Expected& want = expected[size_t(i)];
                const bool right = lost.count(i)
                                       ? data.isEmpty()
                                       : data == want.data && item.GetName() == want.name &&
                                             item.GetKind() == want.kind && item.GetTimeMicros() == want.micros;
                if (!right && ++wrong <= 3)
                    ADD_FAILURE() << "item " << i << " of " << expected.size() << " (" << item.GetLength()
                                  << " bytes read back, " << want.data.size() << " recorded)";
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

} // namespace
