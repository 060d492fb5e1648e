// How items keep their bytes, kind and name (short chunks inside the item,
// long ones in a block of their own, names shared), and how the list keeps
// its items through growth, clearing and a failed allocation.
#include "data/data_item.h"
#include "data/data_item_array.h"

#include <gtest/gtest.h>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr int kLimit = CDataItem::kInlineBytes;

std::vector<uint8_t> patternOf(int length, int seed)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        bytes[size_t(i)] = uint8_t(seed * 31 + i * 7 + 1);
    return bytes;
}

CDataItem itemOf(const std::vector<uint8_t>& bytes)
{
    return CDataItem(bytes.data(), int(bytes.size()));
}

std::vector<uint8_t> bytesOf(const CDataItem& item)
{
    return std::vector<uint8_t>(item.GetData(), item.GetData() + item.GetLength());
}

const std::vector<int> kLengths = {0, 1, kLimit, kLimit + 1, 1024};

TEST(ItemStorage, EveryLengthSurvivesCopiesAssignmentsAndTheList)
{
    CDataItemArray list;
    for (int length : kLengths) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> bytes = patternOf(length, length);
        CDataItem source = itemOf(bytes);
        source.SetKind(-7);
        source.SetName(QStringLiteral("12:00:01"));
        ASSERT_EQ(source.GetLength(), length);
        EXPECT_EQ(bytesOf(source), bytes);
        EXPECT_EQ(source.GetData() == nullptr, length == 0);
        EXPECT_EQ(source.GetHexString().size(), length * 3);

        // Into a fresh item, over a short one and over a long one.
        const CDataItem copy(source);
        CDataItem overShort = itemOf({1, 2, 3});
        overShort = source;
        CDataItem overLong = itemOf(patternOf(2000, 9));
        overLong = source;
        for (const CDataItem* target : {&copy, static_cast<const CDataItem*>(&overShort), static_cast<const CDataItem*>(&overLong)}) {
            EXPECT_EQ(bytesOf(*target), bytes);
            EXPECT_EQ(target->GetKind(), -7);
            EXPECT_EQ(target->GetName(), QStringLiteral("12:00:01"));
            if (length) {
                EXPECT_NE(target->GetData(), source.GetData());
            }
        }
        // The copies own their bytes: changing the source leaves them alone.
        const uint8_t other[] = {0xEE};
        source.SetData(other, 1);
        EXPECT_EQ(bytesOf(copy), bytes);
        EXPECT_EQ(bytesOf(overLong), bytes);

        list.Add(copy);
    }
    for (int i = 0; i < 50; ++i)
        list.Add(list.ElementAt(i % int(kLengths.size())));
    for (int i = 0; i < list.GetSize(); ++i) {
        const int length = kLengths[size_t(i) % kLengths.size()];
        EXPECT_EQ(bytesOf(list.GetAt(i)), patternOf(length, length)) << "item " << i;
    }
}

TEST(ItemStorage, SetDataMovesBytesInsideAndOutWithoutLosingAny)
{
    CDataItem item;
    for (int length : {3, kLimit + 5, 2000, kLimit, kLimit + 1, 0, 1}) {
        const std::vector<uint8_t> bytes = patternOf(length, 3);
        item.SetData(bytes.data(), length);
        EXPECT_EQ(bytesOf(item), bytes) << length;
    }
    // From the item's own bytes: a tail kept inside, a long tail on the heap,
    // and a long chunk cut down to fit inside.
    for (int length : {kLimit, kLimit + 10, 1024}) {
        const std::vector<uint8_t> bytes = patternOf(length, 5);
        item.SetData(bytes.data(), length);
        item.SetData(item.GetData() + 1, length - 1);
        EXPECT_EQ(bytesOf(item), std::vector<uint8_t>(bytes.begin() + 1, bytes.end())) << length;
    }
    const std::vector<uint8_t> longBytes = patternOf(500, 8);
    item.SetData(longBytes.data(), 500);
    item.SetData(item.GetData() + 490, 10);
    EXPECT_EQ(bytesOf(item), std::vector<uint8_t>(longBytes.begin() + 490, longBytes.end()));
    // No bytes, however asked for.
    item.SetData(nullptr, 5);
    EXPECT_EQ(item.GetLength(), 0);
    item.SetData(longBytes.data(), -1);
    EXPECT_EQ(item.GetLength(), 0);
    EXPECT_EQ(item.GetData(), nullptr);
}

TEST(ItemStorage, SelfAssignmentAndMovesKeepEverything)
{
    for (int length : kLengths) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> bytes = patternOf(length, 1);
        CDataItem item = itemOf(bytes);
        item.SetKind(2);
        item.SetName(QStringLiteral("23:59:59"));
        item.SetTimeMicros(1234567);
        const uint8_t* data = item.GetData();
        item = item;
        EXPECT_EQ(item.GetData(), data);
        EXPECT_EQ(bytesOf(item), bytes);
        EXPECT_EQ(item.GetName(), QStringLiteral("23:59:59"));
        EXPECT_EQ(item.GetTimeMicros(), 1234567);

        CDataItem moved(std::move(item));
        EXPECT_EQ(bytesOf(moved), bytes);
        EXPECT_EQ(moved.GetKind(), 2);
        EXPECT_EQ(moved.GetName(), QStringLiteral("23:59:59"));
        EXPECT_EQ(moved.GetTimeMicros(), 1234567);
        if (length > kLimit) {
            EXPECT_EQ(moved.GetData(), data);  // the block changed hands
        }
        // The source is left empty and still usable.
        EXPECT_EQ(item.GetLength(), 0);
        EXPECT_EQ(item.GetData(), nullptr);
        EXPECT_EQ(item.GetName(), QStringLiteral("NoName"));
        item = moved;
        EXPECT_EQ(bytesOf(item), bytes);
    }
}

TEST(ItemStorage, KindsAndNamesKeepEveryValue)
{
    CDataItemArray list;
    for (int kind : {INT_MIN, -1, 0, 1, 2, 3, 255, 256, 1000, INT_MAX}) {
        CDataItem item;
        item.SetKind(kind);
        list.Add(item);
        EXPECT_EQ(list.GetAt(list.GetSize() - 1).GetKind(), kind);
    }

    CDataItem unnamed;
    EXPECT_EQ(unnamed.GetName(), QStringLiteral("NoName"));
    unnamed.SetName(QString());
    EXPECT_EQ(unnamed.GetName(), QString());  // an empty name is not "NoName"

    // Equal names in a row share one string; a name that comes back after
    // another is still itself.
    CDataItem a, b, c, d;
    a.SetName(QStringLiteral("10:00:00"));
    b.SetName(QString::asprintf("%.2d:%.2d:%.2d", 10, 0, 0));
    c.SetName(QStringLiteral("10:00:01"));
    d.SetName(QStringLiteral("10:00:00"));
    EXPECT_EQ(a.GetName().constData(), b.GetName().constData());
    EXPECT_EQ(c.GetName(), QStringLiteral("10:00:01"));
    EXPECT_EQ(d.GetName(), QStringLiteral("10:00:00"));
    EXPECT_EQ(a.GetName(), QStringLiteral("10:00:00"));

    // Two threads naming items at once each keep their own names, and the
    // names outlive the threads that made them.
    std::vector<CDataItem> first(2000), second(2000);
    auto name = [](std::vector<CDataItem>& items, int thread) {
        for (size_t i = 0; i < items.size(); ++i)
            items[i].SetName(QStringLiteral("%1:%2").arg(thread).arg(i / 100));
    };
    std::thread t1(name, std::ref(first), 1);
    std::thread t2(name, std::ref(second), 2);
    t1.join();
    t2.join();
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_EQ(first[i].GetName(), QStringLiteral("1:%1").arg(i / 100)) << i;
        ASSERT_EQ(second[i].GetName(), QStringLiteral("2:%1").arg(i / 100)) << i;
    }
}

TEST(ItemStorage, AddCopiesOrTakesOverAnItem)
{
    CTime::SetClock([] { return int64_t(100); });
    const std::vector<uint8_t> bytes = patternOf(kLimit + 1, 2);
    CDataItem kept = itemOf(bytes);
    CDataItem given = itemOf(bytes);
    const uint8_t* block = given.GetData();
    CTime::SetClock([] { return int64_t(200); });

    CDataItemArray list;
    EXPECT_EQ(list.Add(kept), 0);
    EXPECT_EQ(list.Add(std::move(given)), 1);
    // A copy is stamped with the time of the copy and has its own bytes.
    CDataItem scratch;
    EXPECT_EQ(list.At(0, scratch).GetTimeStamp().GetTime(), 200);
    EXPECT_NE(list.At(0, scratch).GetData(), kept.GetData());
    EXPECT_EQ(bytesOf(kept), bytes);
    // A handed-over item keeps its block and its time stamp.
    EXPECT_EQ(list.At(1, scratch).GetData(), block);
    EXPECT_EQ(list.At(1, scratch).GetTimeStamp().GetTime(), 100);
    EXPECT_EQ(given.GetLength(), 0);
    EXPECT_EQ(bytesOf(list.At(1, scratch)), bytes);
}

TEST(ItemStorage, ALongListKeepsEveryItemThroughGrowthAndClearing)
{
    // Far past the size where the block is mapped rather than allocated,
    // with short and long chunks mixed.
    constexpr int kItems = 200'000;
    CDataItemArray list;
    const uint8_t* firstLong = nullptr;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kItems; ++i) {
            const int length = i % 24;
            const std::vector<uint8_t> bytes = patternOf(length, i);
            CDataItem item(bytes.data(), length);
            item.SetKind(i % 3);
            ASSERT_EQ(list.Add(item), i);
            if (i == kLimit + 1)
                firstLong = list.ElementAt(i).GetData();
        }
        EXPECT_EQ(list.ElementAt(kLimit + 1).GetData(), firstLong);  // moved, not copied
        for (int i = 0; i < kItems; ++i) {
            ASSERT_EQ(bytesOf(list.GetAt(i)), patternOf(i % 24, i)) << "item " << i;
            ASSERT_EQ(list.GetAt(i).GetKind(), i % 3);
        }
        list.RemoveAll();
        EXPECT_EQ(list.GetSize(), 0);
        EXPECT_EQ(list.GetCapacity(), 0);
    }
    list.Add(CDataItem());
    EXPECT_EQ(list.GetCapacity(), 1);
}

// Recorded chunks live in the list's ring only until they leave memory:
// a capture that goes on and on, its oldest items dropped as a journal would
// take them, reuses the same blocks, and every item reads back whole.
TEST(ItemStorage, RecordedChunksReuseTheRingAndStayWholeUntilTheyLeave)
{
    struct Case {
        const char* what;
        int (*length)(int i);
        int longest;
        int64_t held;  // items kept in memory at most
    };
    const Case cases[] = {
        {"full reads", [](int) { return 1024; }, 1024, 300},
        {"one past the inline size", [](int) { return kLimit + 1; }, kLimit + 1, 2000},
        {"every length up to a full read", [](int i) { return (i * 37) % 1025; }, 1024, 1000},
        {"short and long mixed", [](int i) { return i % 2 ? 3 : 700; }, 700, 2000},
    };
    constexpr int kRecorded = 200'000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDataItemArray list;
        int64_t mostHeld = 0;
        int64_t recordedBytes = 0;
        CDataItem copy;
        for (int i = 0; i < kRecorded; ++i) {
            const std::vector<uint8_t> bytes = patternOf(c.length(i), i);
            ASSERT_EQ(list.Record(bytes.data(), int(bytes.size()), i % 3, QStringLiteral("12:00:%1").arg(i % 60)), i);
            recordedBytes += int64_t(bytes.size());
            if (i == 10)
                copy = list.GetAt(i);
            if (list.GetSize() - list.GetFirst() >= c.held) {
                // The oldest half leaves; what stays is checked byte for byte.
                for (int64_t k = list.GetFirst(); k < list.GetSize(); k += 7) {
                    const CDataItem& held = list.ElementAt(k);
                    ASSERT_EQ(bytesOf(held), patternOf(c.length(int(k)), int(k))) << "item " << k;
                    ASSERT_EQ(held.GetKind(), int(k % 3));
                    ASSERT_EQ(held.GetName(), QStringLiteral("12:00:%1").arg(k % 60));
                }
                list.DropBefore(list.GetSize() - c.held / 2);
            }
            mostHeld = std::max(mostHeld, list.ResidentBytes());
        }
        // The memory held follows what is in memory, not what was recorded.
        const int64_t bound = 2 * c.held * (c.longest + int64_t(sizeof(CDataItem))) + 2 * int64_t(CChunkRing::kBlockBytes);
        ASSERT_GT(recordedBytes, 4 * bound);
        EXPECT_LE(mostHeld, bound);
        // A copy has bytes of its own, whatever became of the list's.
        EXPECT_EQ(bytesOf(copy), patternOf(c.length(10), 10));
        list.RemoveAll();
        EXPECT_EQ(list.ResidentBytes(), 0);
    }
}

// Past its memory budget the list records nothing more and changes nothing;
// once items leave memory it records again.
TEST(ItemStorage, TheMemoryBudgetRefusesAChunkWithoutChangingTheList)
{
    for (const int length : {5, kLimit + 1, 1024}) {
        SCOPED_TRACE(length);
        constexpr int64_t kBudget = 2 << 20;
        CDataItemArray list;
        list.SetMemoryBudget(kBudget);
        const std::vector<uint8_t> bytes = patternOf(length, 1);
        int64_t recorded = 0;
        while (list.Record(bytes.data(), length, 1, QStringLiteral("x")) != CDataItemArray::kOverBudget)
            ++recorded;
        EXPECT_GT(recorded, 0);
        EXPECT_EQ(list.GetSize(), recorded);
        EXPECT_LE(list.ResidentBytes(), kBudget);
        EXPECT_EQ(list.Record(bytes.data(), length, 1, QStringLiteral("x")), CDataItemArray::kOverBudget);
        EXPECT_EQ(list.GetSize(), recorded);
        EXPECT_EQ(bytesOf(list.ElementAt(recorded - 1)), bytes);
        list.DropBefore(recorded);
        EXPECT_EQ(list.Record(bytes.data(), length, 1, QStringLiteral("x")), recorded);
    }
}

long VmSizeBytes()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    long kib = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmSize:", 7) == 0)
            kib = std::atol(line + 7);
    if (f)
        std::fclose(f);
    return kib * 1024;
}

// Runs in a child process whose address space is capped: fills a list until
// memory runs out and checks that every failed step changed nothing.
// Returns what went wrong, or nothing.
const char* FillUntilMemoryRunsOut()
{
    // Everything compared with is made before the cap: afterwards even a
    // small allocation may fail.
    const std::vector<uint8_t> huge = patternOf(64 << 20, 4);
    const std::vector<uint8_t> firstBytes = patternOf(kLimit + 3, 0);
    const std::vector<uint8_t> itemBytes = patternOf(5, 1);
    const CDataItem hugeItem = itemOf(huge);
    const CDataItem item = itemOf(itemBytes);
    auto holds = [](const CDataItem& held, const std::vector<uint8_t>& bytes) {
        return held.GetLength() == int(bytes.size()) && std::memcmp(held.GetData(), bytes.data(), bytes.size()) == 0;
    };
    CDataItemArray list;
    list.Add(itemOf(firstBytes));

    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = rlim_t(VmSizeBytes() + (48 << 20));
    if (setrlimit(RLIMIT_AS, &cap) != 0)
        return "cannot cap the address space";

    bool ranOut = false;
    for (int i = 0; i < 100'000'000 && !ranOut; ++i) {
        const int size = list.GetSize();
        const int capacity = list.GetCapacity();
        try {
            list.Add(item);
        } catch (const std::bad_alloc&) {
            ranOut = true;
            if (list.GetSize() != size || list.GetCapacity() != capacity)
                return "a failed growth changed the list";
        }
    }
    if (!ranOut)
        return "memory never ran out";
    // Copying a long chunk fails too: nothing is added.
    const int size = list.GetSize();
    try {
        list.Add(hugeItem);
        return "a 64 MiB copy succeeded under the cap";
    } catch (const std::bad_alloc&) {
    }
    if (list.GetSize() != size)
        return "a failed copy was counted";
    // A failed SetData keeps the item's bytes.
    CDataItem& first = list.ElementAt(0);
    try {
        first.SetData(huge.data(), int(huge.size()));
        return "a 64 MiB SetData succeeded under the cap";
    } catch (const std::bad_alloc&) {
    }
    if (!holds(first, firstBytes))
        return "a failed SetData lost the bytes";
    for (int i = 1; i < list.GetSize(); ++i)
        if (!holds(list.GetAt(i), itemBytes))
            return "an item changed";
    // Cleared, the list has room again; then it is destroyed.
    list.RemoveAll();
    for (int i = 0; i < 1000; ++i)
        list.Add(item);
    return nullptr;
}

TEST(ItemStorage, AFailedAllocationLeavesTheListAsItWasAndSafeToDestroy)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the cap leaves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const char* failure = FillUntilMemoryRunsOut();
            std::fprintf(stderr, "%s\n", failure ? failure : "held");
            std::_Exit(failure ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "held");
}

} // namespace
