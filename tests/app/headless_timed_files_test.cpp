// `vantrel --capture --jsonl` and `--timed-log`, run as the built program
// with no display, against a pseudo-terminal as the far end.
#include "capture/capture_engine.h"
#include "platform/pseudo_terminal.h"
#include "capture_probe.h"
#include "program.h"
#include "test_support.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

using platform::PseudoTerminal;
using testing_support::FileBytes;
using testing_support::ProbeUntil;
using testing_support::Program;
using testing_support::TestDir;

namespace {

// The bytes in the files of the test's folder whose names match `pattern`.
qint64 SizeOf(const QString& pattern)
{
    qint64 size = 0;
    for (const QFileInfo& file : QDir(TestDir()).entryInfoList({pattern}, QDir::Files))
        size += file.size();
    return size;
}

// Probes until the capture has written something to the files named by
// `pattern`: from then on every byte sent is recorded.
void WaitUntilRecording(PseudoTerminal& far, const QString& pattern)
{
    ASSERT_TRUE(ProbeUntil(far, [&] { return SizeOf(pattern) > 0; })) << "nothing was recorded";
}

// Every byte value, four times over, in chunks the far end writes apart.
QByteArray SendEveryByte(PseudoTerminal& far)
{
    QByteArray sent;
    for (int round = 0; round < 4; ++round) {
        QByteArray chunk;
        for (int b = 0; b < 256; ++b)
            chunk += char((b + round * 37) & 0xFF);
        EXPECT_TRUE(far.WriteAll(chunk));
        sent += chunk;
        QThread::msleep(50);
    }
    return sent;
}

struct JsonLine {
    QJsonObject object;
    QByteArray bytes;
};

// Every line parsed; a line that is not a JSON object fails the test.
QVector<JsonLine> ParseJsonLines(const QByteArray& text)
{
    QVector<JsonLine> lines;
    EXPECT_TRUE(text.isEmpty() || text.endsWith('\n'));
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(document.isObject()) << line.toStdString();
        lines.append({document.object(), QByteArray::fromBase64(document.object()["base64"].toString().toLatin1())});
    }
    return lines;
}

} // namespace

TEST(HeadlessTimedFiles, SplitJsonLinesAndTheTimedLogHoldEveryItemWithItsTime)
{
    PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    Program program({"--capture", "--device", far.SlavePath(), "--send-data", TestDir() + QStringLiteral("/c.sds"),
                     "--jsonl", TestDir() + QStringLiteral("/c.jsonl"), "--split", "1K", "--timed-log", "-"});
    WaitUntilRecording(far, QStringLiteral("c-*.sds"));
    const QByteArray sent = SendEveryByte(far);
    ASSERT_EQ(program.Stop(), 0) << program.ErrorLines().join('\n').toStdString();

    // The parts, one after the other, are one file of whole lines.
    const QStringList parts = QDir(TestDir()).entryList({"c-*.jsonl"}, QDir::Files, QDir::Name);
    ASSERT_GT(parts.size(), 1);
    QByteArray whole;
    for (const QString& part : parts)
        whole += FileBytes(testing_support::InTest(part));
    const QVector<JsonLine> lines = ParseJsonLines(whole);
    ASSERT_FALSE(lines.isEmpty());
    const QString run = lines.first().object["run"].toString();
    EXPECT_EQ(run.size(), 36) << run.toStdString();  // a UUID
    CCaptureEngine dlg;  // the same items, for the Serial Log they make
    QByteArray recorded;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject& object = lines[i].object;
        EXPECT_EQ(object["seq"].toInteger(), i + 1);  // counting on across the parts
        EXPECT_EQ(object["run"].toString(), run);
        EXPECT_EQ(object["port"].toString(), QStringLiteral("COM1"));
        EXPECT_TRUE(object["device"].isNull());  // a pseudo-terminal has no by-id link
        EXPECT_EQ(object["length"].toInt(), lines[i].bytes.size());
        recorded += lines[i].bytes;
        CDataItem item(reinterpret_cast<const uint8_t*>(lines[i].bytes.constData()), int(lines[i].bytes.size()));
        item.SetKind(0);
        dlg.m_items.Add(item);
    }
    EXPECT_TRUE(recorded.endsWith(sent));

    // The Timed Log: each entry after its time, the Serial Log once they are taken out.
    QByteArray serialLog;
    QBuffer logOut(&serialLog);
    logOut.open(QIODevice::WriteOnly);
    ASSERT_TRUE(dlg.WriteOutputText(logOut));
    static const QRegularExpression stamp(QStringLiteral("\r\n(\\d{4}-\\d\\d-\\d\\dT[0-9:.]{15}[+-]\\d\\d:\\d\\d)\tRec :"));
    QString timed = QString::fromUtf8(program.Out());
    QStringList times;
    for (auto match = stamp.globalMatch(timed); match.hasNext();)
        times << match.next().captured(1);
    ASSERT_EQ(times.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        EXPECT_EQ(times[i], lines[i].object["time"].toString()) << i;
    EXPECT_EQ(timed.replace(stamp, QStringLiteral("\r\nRec :")).toUtf8(), serialLog);
}
