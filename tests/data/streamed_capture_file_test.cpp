// Streamed capture files against real files: rotation by local hour and day,
// part names that sort in order and never replace a file, standard output
// never split, and a file already at the path replaced or kept aside.
#include "data/capture_formats.h"
#include "data/streamed_capture_file.h"
#include "platform/file_io.h"
#include "test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using testing_support::FileBytes;
using testing_support::TestDir;

namespace {

CDataItem ItemAt(const QDateTime& when, const QByteArray& bytes)
{
    CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    item.SetKind(0);
    item.SetName(when.toString(QStringLiteral("HH:mm:ss")));
    item.SetTimeMicros(when.toSecsSinceEpoch() * 1000000);
    return item;
}

} // namespace

TEST(StreamedCaptureFile, SplitByHourStartsAPartAtEveryLocalHourNamedByIt)
{
    const QDateTime start(QDate(2026, 12, 8), QTime(13, 58, 30));
    const QString path = TestDir() + QStringLiteral("/rig.log");
    SplitRule rule;
    ASSERT_TRUE(SplitRule::Parse(QStringLiteral("hour"), rule));
    {
        CStreamedCaptureFile file(CaptureFormat::SerialLog, path, rule);
        ASSERT_TRUE(file.Open(QStringLiteral("Welcome"), start.toSecsSinceEpoch()));
        ASSERT_TRUE(file.Append(ItemAt(start.addSecs(10), "a")));
        ASSERT_TRUE(file.Append(ItemAt(QDateTime(QDate(2026, 12, 8), QTime(14, 0, 0)), "b")));
        ASSERT_TRUE(file.Append(ItemAt(QDateTime(QDate(2026, 12, 8), QTime(14, 59, 59)), "c")));
        // An hour with nothing recorded gives no file.
        ASSERT_TRUE(file.Append(ItemAt(QDateTime(QDate(2026, 12, 8), QTime(16, 20, 0)), "d")));
        ASSERT_TRUE(file.Flush(true));
        EXPECT_EQ(file.PartCount(), 3);
    }
    const QStringList parts = QDir(TestDir()).entryList({QStringLiteral("rig-*.log")}, QDir::Files, QDir::Name);
    EXPECT_EQ(parts, QStringList({"rig-20261208-135830.log", "rig-20261208-140000.log", "rig-20261208-160000.log"}));
    EXPECT_EQ(FileBytes(TestDir() + "/rig-20261208-135830.log"), QByteArray("Welcome\r\nRec :a"));
    EXPECT_EQ(FileBytes(TestDir() + "/rig-20261208-140000.log"), QByteArray("\r\nRec :b\r\nRec :c"));
    EXPECT_EQ(FileBytes(TestDir() + "/rig-20261208-160000.log"), QByteArray("\r\nRec :d"));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(StreamedCaptureFile, SplitByDayAndPartsThatStartInTheSameSecondNeverReplaceAFile)
{
    const QDateTime start(QDate(2026, 12, 8), QTime(23, 59, 59));
    const QString path = TestDir() + QStringLiteral("/night.sds");
    // A file of an earlier run with the same start second is kept as it was.
    QFile earlier(TestDir() + QStringLiteral("/night-20261208-235959.sds"));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier run\n");
    earlier.close();

    SplitRule rule;
    ASSERT_TRUE(SplitRule::Parse(QStringLiteral("1d"), rule));
    {
        CStreamedCaptureFile file(CaptureFormat::SendData, path, rule);
        ASSERT_TRUE(file.Open(QStringLiteral("Welcome"), start.toSecsSinceEpoch()));
        ASSERT_TRUE(file.Append(ItemAt(start, "\x01")));
        ASSERT_TRUE(file.Append(ItemAt(start.addSecs(1), "\x02")));
    }
    EXPECT_EQ(FileBytes(earlier.fileName()), QByteArray("earlier run\n"));
    EXPECT_EQ(FileBytes(TestDir() + "/night-20261208-235959_002.sds"), QByteArray("\"23:59:59\",String,\"01 \"\n"));
    EXPECT_EQ(FileBytes(TestDir() + "/night-20261209-000000.sds"), QByteArray("\"00:00:00\",String,\"02 \"\n"));
    // Byte order sorts the parts as they were written.
    QStringList names{RotatedFileName("x.log", start.toSecsSinceEpoch(), 10), RotatedFileName("x.log", start.toSecsSinceEpoch()),
                      RotatedFileName("x.log", start.toSecsSinceEpoch() + 1), RotatedFileName("x.log", start.toSecsSinceEpoch(), 2)};
    names.sort();
    EXPECT_EQ(names, QStringList({"x-20261208-235959.log", "x-20261208-235959_002.log", "x-20261208-235959_010.log",
                                  "x-20261209-000000.log"}));
}

TEST(StreamedCaptureFile, SizesAndSplitRulesAreReadOrRefused)
{
    int64_t bytes = 0;
    for (const auto& [text, expected] : std::initializer_list<std::pair<const char*, int64_t>>{
             {"4096", 4096}, {"64k", 65536}, {"10M", 10 << 20}, {"10MiB", 10 << 20}, {"2G", int64_t(2) << 30}, {"7B", 7}}) {
        EXPECT_TRUE(ParseByteSize(QLatin1String(text), bytes)) << text;
        EXPECT_EQ(bytes, expected) << text;
    }
    for (const char* text : {"", "0", "-5", "5T", "1.5M", "M", "10iB", "k10"})
        EXPECT_FALSE(ParseByteSize(QLatin1String(text), bytes)) << text;

    SplitRule rule;
    EXPECT_TRUE(SplitRule::Parse(QStringLiteral("Hour"), rule));
    EXPECT_EQ(rule.kind, SplitRule::Hour);
    EXPECT_TRUE(SplitRule::Parse(QStringLiteral("100M"), rule));
    EXPECT_EQ(rule.kind, SplitRule::Size);
    EXPECT_EQ(rule.bytes, 100 << 20);
    for (const char* text : {"week", "2h", "0", ""})
        EXPECT_FALSE(SplitRule::Parse(QLatin1String(text), rule)) << text;
}

TEST(StreamedCaptureFile, StandardOutputIsNeverSplitAndAnUnwritablePathSaysWhy)
{
    SplitRule rule;
    ASSERT_TRUE(SplitRule::Parse(QStringLiteral("1"), rule));
    CStreamedCaptureFile out(CaptureFormat::SendData, QStringLiteral("-"), rule);
    ASSERT_TRUE(out.Open({}, 0));
    EXPECT_TRUE(out.Append(ItemAt(QDateTime::currentDateTime(), "")));
    EXPECT_TRUE(out.Append(ItemAt(QDateTime::currentDateTime(), "")));
    EXPECT_EQ(out.PartCount(), 1);

    const QString missing = TestDir() + QStringLiteral("/no/such/folder/a.log");
    CStreamedCaptureFile file(CaptureFormat::SerialLog, missing);
    EXPECT_FALSE(file.Open(QStringLiteral("Welcome"), 0));
    EXPECT_TRUE(file.ErrorText().contains(missing)) << file.ErrorText().toStdString();
    EXPECT_TRUE(file.ErrorText().contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
}

TEST(StreamedCaptureFile, AFileAtThePathIsReplacedOrWhenAskedKeptAsideByItsLastWriteTime)
{
    const QDateTime lastWritten(QDate(2026, 12, 9), QTime(6, 30, 0));
    const struct {
        const char* label;
        bool keep;            // SetKeepEarlier
        const char* earlier;  // what the path held; nullptr: nothing there
        bool keptNameTaken;   // a file by the kept name is there already
        int moveError;        // the system refuses the move with this
        const char* keptAs;   // "" when nothing is kept
    } cases[] = {
        {"replaced, as Save does", false, "old\r\n", false, 0, ""},
        {"kept", true, "old\r\n", false, 0, "rig-20261209-063000.log"},
        {"kept, its name taken", true, "old\r\n", true, 0, "rig-20261209-063000_002.log"},
        {"an empty file", true, "", false, 0, ""},
        {"no file", true, nullptr, false, 0, ""},
        {"a move the system refuses", true, "old\r\n", false, EACCES, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString folder = TestDir() + QStringLiteral("/keep%1").arg(++n);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/rig.log");
        const QString taken = folder + QStringLiteral("/rig-20261209-063000.log");
        const char* takenBytes = c.keptNameTaken ? "taken" : nullptr;
        for (const auto& [name, bytes] : {std::pair(path, c.earlier), std::pair(taken, takenBytes)}) {
            QFile file(name);
            ASSERT_TRUE(!bytes || (file.open(QIODevice::WriteOnly) && file.write(bytes) >= 0 && file.flush() &&
                                   file.setFileTime(lastWritten, QFileDevice::FileModificationTime)));
        }
        platform::file_io::SetInterceptor([&c](const platform::file_io::Request& request) {
            platform::file_io::Outcome outcome;
            if (request.call == platform::file_io::Call::Rename)
                outcome.error = c.moveError;
            return outcome;
        });
        CStreamedCaptureFile file(CaptureFormat::SerialLog, path);
        file.SetKeepEarlier(c.keep);
        const bool opened = file.Open(QStringLiteral("Welcome"), 0);
        platform::file_io::SetInterceptor({});
        if (c.moveError) {
            EXPECT_FALSE(opened);
            EXPECT_TRUE(file.ErrorText().startsWith(QStringLiteral("cannot keep the earlier capture in ") + path))
                << file.ErrorText().toStdString();
            EXPECT_EQ(FileBytes(path), QByteArray(c.earlier));
            continue;
        }
        ASSERT_TRUE(opened) << file.ErrorText().toStdString();
        ASSERT_TRUE(file.Append(ItemAt(lastWritten, "new")));
        ASSERT_TRUE(file.Flush(true));
        EXPECT_EQ(FileBytes(path), QByteArray("Welcome\r\nRec :new"));
        const QString keptAs = *c.keptAs ? folder + QLatin1Char('/') + QLatin1String(c.keptAs) : QString();
        EXPECT_EQ(file.KeptEarlierPath(), keptAs);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1 + !keptAs.isEmpty() + c.keptNameTaken);
        EXPECT_EQ(FileBytes(keptAs), keptAs.isEmpty() ? QByteArray() : QByteArray(c.earlier));
        if (takenBytes) {
            EXPECT_EQ(FileBytes(taken), QByteArray(takenBytes));
        }
    }

    // A device is written to, never moved.
    CStreamedCaptureFile device(CaptureFormat::SerialLog, QStringLiteral("/dev/null"));
    device.SetKeepEarlier(true);
    ASSERT_TRUE(device.Open(QStringLiteral("Welcome"), 0));
    EXPECT_TRUE(device.KeptEarlierPath().isEmpty());
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/null")).exists());
}
