// JSON Lines for log collectors, for a capture holding every byte value.
// (The Timed Log is checked against the Serial Log in the window's and the
// headless capture's tests.)
#include "data/item_rendering.h"
#include "data/item_time_format.h"
#include "data/jsonl_format.h"
#include "test_support.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Chunks of random lengths that together hold every byte value many times,
// and some that hold nothing but the bytes JSON and text rendering find
// hardest: zeros, quotes, backslashes, line ends, invalid UTF-8.
std::vector<QByteArray> EveryByteChunks()
{
    QRandomGenerator random(8);
    std::vector<QByteArray> chunks{QByteArray("\0\0", 2), QByteArray("\"\\\"\\\\"), QByteArray("\r\n\r"),
                                   QByteArray("\xff\xfe\xc3\x28\xe2\x82", 6), QByteArray(), QByteArray("a\0b\"", 4)};
    QByteArray all;
    for (int round = 0; round < 8; ++round)
        for (int b = 0; b < 256; ++b)
            all += char(b);
    for (qsizetype at = 0; at < all.size();) {
        const int length = int(random.bounded(1, 90));
        chunks.push_back(all.mid(at, length));
        at += length;
    }
    return chunks;
}

// Items of both kinds, 1.5 ms apart.
std::vector<CDataItem> EveryByteItems()
{
    std::vector<CDataItem> items;
    int64_t micros = int64_t(1'796'000'000) * 1'000'000;
    int n = 0;
    for (const QByteArray& chunk : EveryByteChunks()) {
        CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
        item.SetKind(n++ % 3 == 0 ? 1 : 0);
        item.SetTimeMicros(micros += 1500);
        items.push_back(item);
    }
    return items;
}

} // namespace

TEST(JsonLines, EveryLineIsAValidObjectThatGivesTheExactBytesBack)
{
    const std::vector<CDataItem> items = EveryByteItems();
    const JsonLinesRun run{NewJsonLinesRunId(), QStringLiteral("COM7"), QStringLiteral("/dev/serial/by-id/usb-x\"y")};
    QByteArray lines;
    for (size_t i = 0; i < items.size(); ++i)
        AppendJsonLine(lines, items[i], int64_t(i) + (int64_t(1) << 40), run);

    // A JSON parser other than ours takes every line.
    const QString path = testing_support::TestDir() + QStringLiteral("/capture.jsonl");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(lines);
    }
    QProcess python;
    python.start(QStringLiteral("python3"), {"-m", "json.tool", "--json-lines", path});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();

    const QList<QByteArray> split = lines.split('\n');
    ASSERT_EQ(split.size(), qsizetype(items.size()) + 1);  // every line ends in "\n"
    EXPECT_TRUE(split.last().isEmpty());
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(split[qsizetype(i)], &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << split[qsizetype(i)].toStdString();
        const CDataItem& item = items[i];
        const QByteArray bytes(reinterpret_cast<const char*>(item.GetData()), item.GetLength());
        EXPECT_EQ(QByteArray::fromBase64(object["base64"].toString().toLatin1()), bytes);
        EXPECT_EQ(object["length"].toInt(), item.GetLength());
        EXPECT_EQ(object["seq"].toInteger(), qint64(i) + (qint64(1) << 40));
        EXPECT_EQ(object["time"].toString(), FormatIsoLocalMicros(item.GetTimeMicros()));
        EXPECT_EQ(object["kind"].toString(), GetKindName(item.GetKind()));
        EXPECT_EQ(object["run"].toString(), run.run);
        EXPECT_EQ(object["port"].toString(), QStringLiteral("COM7"));
        EXPECT_EQ(object["device"].toString(), run.device);
        // The text as the output area shows it.
        QString entry;
        AppendItemEntry(entry, item);
        EXPECT_EQ(object["text"].toString(), entry.mid(kEntryPrefix.size()));
    }
}

TEST(JsonLines, AnUnknownDeviceIsNullAndEveryRunHasItsOwnId)
{
    CDataItem item(reinterpret_cast<const uint8_t*>("x"), 1);
    QByteArray line;
    AppendJsonLine(line, item, 1, JsonLinesRun{NewJsonLinesRunId(), QStringLiteral("COM1"), QString()});
    EXPECT_TRUE(QJsonDocument::fromJson(line).object()["device"].isNull()) << line.toStdString();
    EXPECT_NE(NewJsonLinesRunId(), NewJsonLinesRunId());
}
