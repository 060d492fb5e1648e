#include "data/data_item.h"
#include "data/data_item_array.h"
#include "data/item_rendering.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

CDataItem itemOf(std::vector<uint8_t> bytes)
{
    return CDataItem(bytes.data(), int(bytes.size()));
}

TEST(DataItem, ConstructionDefaultsAndKinds)
{
    CDataItem empty;
    EXPECT_EQ(empty.GetKind(), 0);
    EXPECT_EQ(empty.GetName(), QStringLiteral("NoName"));
    EXPECT_EQ(empty.GetLength(), 0);
    EXPECT_EQ(empty.GetHexString(), QString());

    CDataItem fromBytes = itemOf({1, 2});
    EXPECT_EQ(fromBytes.GetKind(), 1);
    EXPECT_EQ(fromBytes.GetName(), QStringLiteral("NoName"));

    CDataItem zero(nullptr, 0);
    EXPECT_EQ(zero.GetLength(), 0);
    EXPECT_EQ(zero.GetHexString(), QString());

    EXPECT_EQ(GetKindName(0), QStringLiteral("String"));
    EXPECT_EQ(GetKindName(1), QStringLiteral("Hex"));
    EXPECT_EQ(GetKindName(2), QStringLiteral("Str&Symbol"));
    for (int other : {3, -1, 1000, INT32_MIN})
        EXPECT_EQ(GetKindName(other), QStringLiteral("Unknown"));
}

TEST(DataItem, HexTextIsLowerCaseWithABlankAfterEveryByte)
{
    EXPECT_EQ(itemOf({0x00, 0xAB, 0x0A}).GetHexString(), QStringLiteral("00 ab 0a "));
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = uint8_t(i);
    const QString hex = itemOf(all).GetHexString();
    ASSERT_EQ(hex.size(), 256 * 3);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(hex.mid(i * 3, 3), QStringLiteral("%1 ").arg(i, 2, 16, QLatin1Char('0')));
    // The files' form of the same text, appended after what a line holds.
    for (const int length : {0, 1, 255, 256}) {
        QByteArray bytes("\"09:05:07\",Hex,\"");
        const qsizetype before = bytes.size();
        AppendHexBytes(bytes, all.data(), length);
        EXPECT_EQ(bytes.left(before), QByteArray("\"09:05:07\",Hex,\"")) << length;
        EXPECT_EQ(bytes.mid(before), hex.left(length * 3).toLatin1()) << length;
    }
}

TEST(DataItem, CopiesAreDeepAndStampedWithTheTimeOfTheCopy)
{
    CTime::SetClock([] { return int64_t(1000); });
    CDataItem source = itemOf({0x41, 0x42});
    source.SetName(QStringLiteral("09:05:07"));
    source.SetKind(7);

    CTime::SetClock([] { return int64_t(2000); });
    CDataItem target;
    target = source;
    EXPECT_EQ(target.GetName(), source.GetName());
    EXPECT_EQ(target.GetKind(), 7);
    ASSERT_EQ(target.GetLength(), 2);
    EXPECT_NE(target.GetData(), source.GetData());
    EXPECT_EQ(std::memcmp(target.GetData(), source.GetData(), 2), 0);
    EXPECT_EQ(target.GetTimeStamp().GetTime(), 2000);
    EXPECT_EQ(source.GetTimeStamp().GetTime(), 1000);

    CDataItem copy(source);
    EXPECT_NE(copy.GetData(), source.GetData());
    EXPECT_EQ(copy.GetHexString(), QStringLiteral("41 42 "));

    const uint8_t* before = source.GetData();
    source = source;  // self-assignment leaves everything as it was
    EXPECT_EQ(source.GetData(), before);
    EXPECT_EQ(source.GetHexString(), QStringLiteral("41 42 "));
    EXPECT_EQ(source.GetName(), QStringLiteral("09:05:07"));
}

TEST(DataItem, SetDataReplacesBytesAndTime)
{
    CTime::SetClock([] { return int64_t(5); });
    CDataItem item = itemOf({1, 2, 3});
    CTime::SetClock([] { return int64_t(6); });
    const uint8_t fresh[] = {9};
    item.SetData(fresh, 1);
    EXPECT_EQ(item.GetHexString(), QStringLiteral("09 "));
    EXPECT_EQ(item.GetTimeStamp().GetTime(), 6);
    EXPECT_EQ(item.GetTimeMicros(), 6'000'000);
    // A restored time stamp keeps its fraction, and whole seconds round
    // down also before the epoch.
    item.SetTimeMicros(-1'500'000);
    EXPECT_EQ(item.GetTimeStamp().GetTime(), -2);
    item.SetData(nullptr, 0);
    EXPECT_EQ(item.GetLength(), 0);
    EXPECT_EQ(item.GetData(), nullptr);
}

TEST(DataItemArray, AddsDeepCopiesInOrderAndGrowsAsSpecified)
{
    CDataItemArray list;
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.GetCapacity(), 0);
    list.RemoveAll();  // nothing to remove
    EXPECT_EQ(list.GetSize(), 0);

    const std::vector<int> expected = {1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64, 72, 81};
    std::vector<int> seen;
    for (int i = 0; i < 81; ++i) {
        CDataItem item = itemOf({uint8_t(i)});
        item.SetName(QString::number(i));
        EXPECT_EQ(list.Add(item), i);
        if (seen.empty() || seen.back() != list.GetCapacity())
            seen.push_back(list.GetCapacity());
    }
    EXPECT_EQ(seen, expected);
    for (int i = 0; i < 81; ++i) {
        EXPECT_EQ(list.GetAt(i).GetName(), QString::number(i));
        EXPECT_EQ(list.GetAt(i).GetData()[0], uint8_t(i));
    }
    list.RemoveAll();
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.GetCapacity(), 0);
    list.Add(CDataItem());
    EXPECT_EQ(list.GetCapacity(), 1);
}

TEST(DataItemArray, GrowthKeepsTheCapUpTo8192AndDropsItAfter)
{
    EXPECT_EQ(CDataItemArray::GrowthFor(0), 4);
    EXPECT_EQ(CDataItemArray::GrowthFor(40), 5);
    EXPECT_EQ(CDataItemArray::GrowthFor(8191), 1023);
    EXPECT_EQ(CDataItemArray::GrowthFor(8192), 1024);
    EXPECT_EQ(CDataItemArray::GrowthFor(8200), 1025);
    EXPECT_EQ(CDataItemArray::GrowthFor(80000), 10000);
    // A list past 2^31 items still grows by an eighth.
    EXPECT_EQ(CDataItemArray::GrowthFor(int64_t(3) << 31), int64_t(3) << 28);

    // The real list crosses the boundary: below it every growth is at most
    // 1024 slots, above it growth is an eighth of the size.
    CDataItemArray list;
    const CDataItem item = itemOf({0xEE});
    int last = 0;
    int growths = 0;
    for (int i = 0; i < 40000; ++i) {
        list.Add(item);
        if (list.GetCapacity() != last) {
            const int step = list.GetCapacity() - last;
            if (last > 0 && last <= 8192) {
                EXPECT_EQ(step, std::clamp(last / 8, 4, 1024)) << "at capacity " << last;
            } else if (last > 8192) {
                EXPECT_EQ(step, last / 8) << "at capacity " << last;
                EXPECT_GT(step, 1024);
                ++growths;
            }
            last = list.GetCapacity();
        }
    }
    EXPECT_GT(growths, 0);
    EXPECT_EQ(list.GetAt(39999).GetHexString(), QStringLiteral("ee "));
}

TEST(DataItemArray, GrowingMovesItemsWithoutCopyingTheirBytes)
{
    // A chunk too long to live inside its item keeps its one heap block
    // while the list grows around it.
    std::vector<uint8_t> bytes(CDataItem::kInlineBytes + 1, 0x5A);
    CDataItemArray list;
    list.Add(itemOf(bytes));
    const uint8_t* buffer = list.ElementAt(0).GetData();
    for (int i = 0; i < 100; ++i)
        list.Add(CDataItem());
    EXPECT_EQ(list.ElementAt(0).GetData(), buffer);
    EXPECT_EQ(list.GetAt(0).GetLength(), CDataItem::kInlineBytes + 1);
    EXPECT_EQ(list.GetAt(0).GetData()[CDataItem::kInlineBytes], 0x5A);
}

TEST(DataItemArray, AddingAnItemOfTheListItselfCopiesItBeforeGrowing)
{
    CDataItemArray list;
    list.Add(itemOf({7, 8}));
    for (int i = 0; i < 20; ++i)
        list.Add(list.ElementAt(0));  // the list is full at sizes 1, 5, 9, ...
    ASSERT_EQ(list.GetSize(), 21);
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(list.GetAt(i).GetHexString(), QStringLiteral("07 08 ")) << i;
}

TEST(ItemRendering, TextStopsAtTheFirstZeroByteAndHexShowsEverything)
{
    CDataItem text = itemOf({'A', 'B', 0, 'C'});
    text.SetKind(0);
    QString out;
    AppendItemEntry(out, text);
    EXPECT_EQ(out, QStringLiteral("\r\nRec :AB"));
    EXPECT_EQ(text.GetLength(), 4);

    CDataItem hex = itemOf({0x41, 0x42, 0x0D, 0x0A});
    hex.SetKind(1);
    out.clear();
    AppendItemEntry(out, hex);
    EXPECT_EQ(out, QStringLiteral("\r\nRec :41 42 0d 0a "));

    // Show formats other than 1 render as text.
    for (int kind : {-1, 2}) {
        CDataItem other = itemOf({'x'});
        other.SetKind(kind);
        out.clear();
        AppendItemEntry(out, other);
        EXPECT_EQ(out, QStringLiteral("\r\nRec :x"));
    }
}

TEST(ItemRendering, BytesThatAreNotTextBecomeReplacementCharacters)
{
    const uint8_t bytes[] = {'o', 'k', 0xFF, 0xC3, '!'};
    const QString text = ChunkAsText(bytes, 5);
    EXPECT_TRUE(text.startsWith(QStringLiteral("ok")));
    EXPECT_TRUE(text.endsWith(u'!'));
    EXPECT_TRUE(text.contains(QChar(0xFFFD)));
    EXPECT_EQ(ChunkAsText(bytes, 0), QString());
}

// The files' bytes come straight from the chunk where it is plain ASCII,
// and through the decoder otherwise: both must give what the screen shows.
TEST(ItemRendering, TheUtf8EntryIsTheScreenEntryEncoded)
{
    std::vector<uint8_t> ascii24(24, 'a');
    ascii24[23] = 0x7F;
    std::vector<uint8_t> highAtEnd(24, 'a');
    highAtEnd[23] = 0xE9;
    std::vector<uint8_t> highInWord(24, 'b');
    highInWord[3] = 0x80;
    std::vector<uint8_t> every(256);
    for (int i = 0; i < 256; ++i)
        every[size_t(i)] = uint8_t((i + 1) % 256);
    const std::vector<uint8_t> cases[] = {
        {},
        {'$', 'G', 'P', '\r', '\n'},
        {'A', 0, 0xFF},            // cut at the zero, which hides the bad byte
        {0xFF, 0xC3, '!'},         // not text
        {0xC3, 0xA9, 0xE2, 0x82, 0xAC},  // e acute and the euro sign
        {0xEF, 0xBB, 0xBF, 'x'},   // a leading byte-order mark stays
        {0xC3},                    // a sequence cut at the chunk's end
        ascii24, highAtEnd, highInWord, every,
    };
    for (const auto& bytes : cases) {
        for (int kind : {0, 1, 2, -1}) {
            CDataItem item(bytes.data(), int(bytes.size()));
            item.SetKind(kind);
            QString screen;
            AppendItemEntry(screen, item);
            QByteArray file("before");
            AppendItemEntryUtf8(file, item);
            EXPECT_EQ(file, "before" + screen.toUtf8()) << "kind " << kind << ", " << bytes.size() << " bytes";
        }
    }
}

} // namespace
