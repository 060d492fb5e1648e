// The timed files: the Timed Log (the Serial Log with every entry's time)
// and JSON Lines for log collectors, for captures holding every byte value.
#include "app/monitor_dlg.h"
#include "app/save_with_times.h"
#include "data/item_rendering.h"
#include "data/item_time_format.h"
#include "data/jsonl_format.h"
#include "data/timed_log_format.h"
#include "test_support.h"

#include <QBuffer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
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

TEST(TimedLog, IsTheSerialLogWithEachItemsTimeBeforeItsEntry)
{
    CMonitorDlg dlg;
    const std::vector<CDataItem> items = EveryByteItems();
    for (const CDataItem& item : items) {
        const int i = dlg.m_items.Add(item);
        dlg.m_items.ElementAt(i).SetTimeMicros(item.GetTimeMicros());
    }
    QByteArray serialLog, timedLog;
    QBuffer logOut(&serialLog), timedOut(&timedLog);
    logOut.open(QIODevice::WriteOnly);
    timedOut.open(QIODevice::WriteOnly);
    ASSERT_TRUE(dlg.WriteOutputText(logOut));
    ASSERT_TRUE(WriteTimedLog(dlg, timedOut));

    // Every entry's line end is followed by its item's time and a tab, in order.
    static const QRegularExpression stamp(QStringLiteral("\r\n(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}"
                                                         "[+-]\\d\\d:\\d\\d)\tRec :"));
    const QString text = QString::fromUtf8(timedLog);
    QStringList stamps;
    for (auto match = stamp.globalMatch(text); match.hasNext();)
        stamps << match.next().captured(1);
    ASSERT_EQ(stamps.size(), qsizetype(items.size()));
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(stamps[qsizetype(i)], FormatIsoLocalMicros(items[i].GetTimeMicros())) << i;

    // Without the times it is the Serial Log, byte for byte.
    QString stripped = text;
    stripped.replace(stamp, QStringLiteral("\r\nRec :"));
    EXPECT_EQ(stripped.toUtf8(), serialLog);
    EXPECT_TRUE(timedLog.startsWith("Welcome to Vantrel \r\n Ver 0.4\r\n"));
}

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
