// The Save command against real files: both formats byte for byte, the
// filter deciding the content, the remembered filter, and failures that
// must be reported without harming the file that was there.
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "app/save_capture.h"
#include "platform/save_file_dialog.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QAction>
#include <gtest/gtest.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <sys/resource.h>
#include <unistd.h>

using testing_support::CapturedMessages;
using testing_support::TestDir;

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

void AddItem(CMonitorDlg& dlg, const QString& name, int kind, const QByteArray& bytes)
{
    CDataItem item;
    item.SetData(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    item.SetName(name);
    item.SetKind(kind);
    std::lock_guard lock(dlg.Engine().m_csCapture);
    dlg.Engine().m_items.Add(item);
}

// Answers the save dialog from a script and keeps every request it saw.
class ScriptedSaveDialog {
public:
    ScriptedSaveDialog()
    {
        SetSaveFileHandler([this](const SaveFileRequest& request) {
            m_requests.push_back(request);
            if (m_answers.empty()) {
                ADD_FAILURE() << "save dialog opened with no answer ready";
                return SaveFileAnswer{};
            }
            SaveFileAnswer answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }
    ~ScriptedSaveDialog() { SetSaveFileHandler({}); }
    void Choose(const QString& path, int filterIndex) { m_answers.push_back({true, path, filterIndex}); }
    void Cancel() { m_answers.push_back({}); }
    const std::vector<SaveFileRequest>& Requests() const { return m_requests; }

private:
    std::deque<SaveFileAnswer> m_answers;
    std::vector<SaveFileRequest> m_requests;
};

class SaveCapture : public ::testing::Test {
protected:
    void SetUp() override { s_nSaveFilterIndex = 1; }
    void TearDown() override { s_nSaveFilterIndex = 1; }

    QString Path(const QString& name) const { return TestDir() + QLatin1Char('/') + name; }
    void SaveAs(const QString& path, int filterIndex)
    {
        m_dialog.Choose(path, filterIndex);
        m_dlg.OnSave();
    }

    CMonitorDlg m_dlg;
    ScriptedSaveDialog m_dialog;
};

const QByteArray kWelcome = "Welcome to Vantrel \r\n Ver 0.4";

} // namespace

TEST_F(SaveCapture, SendDataWritesOneExactLinePerItem)
{
    AddItem(m_dlg, QStringLiteral("09:05:03"), 0, QByteArray("\x41\x42\x0d\x0a"));
    AddItem(m_dlg, QStringLiteral("09:05:04"), 1, QByteArray());
    AddItem(m_dlg, QStringLiteral("09:05:05"), 2, QByteArray("\x00\xff", 2));
    AddItem(m_dlg, QStringLiteral("NoName"), 9, QByteArray("\x7f"));
    SaveAs(Path("items.sds"), kSendDataFilterIndex);

    const QByteArray bytes = ReadAll(Path("items.sds"));
    const QList<QByteArray> lines = bytes.split('\n');
    ASSERT_EQ(lines.size(), 5) << bytes.constData();
    EXPECT_EQ(lines[0], QByteArray("\"09:05:03\",String,\"41 42 0d 0a \""));
    EXPECT_EQ(lines[0].size(), 32);
    EXPECT_EQ(lines[1], QByteArray("\"09:05:04\",Hex,\"\""));
    EXPECT_EQ(lines[2], QByteArray("\"09:05:05\",Str&Symbol,\"00 ff \""));
    EXPECT_EQ(lines[3], QByteArray("\"NoName\",Unknown,\"7f \""));
    EXPECT_TRUE(lines[4].isEmpty()) << "the last line ends in one \\n and nothing follows";
    EXPECT_FALSE(bytes.contains('\r'));
}

TEST_F(SaveCapture, SerialLogIsTheOutputTextVerbatim)
{
    AddItem(m_dlg, QStringLiteral("10:00:00"), 0, QByteArray("caf\xc3\xa9 100% %s %d\r\n"));
    AddItem(m_dlg, QStringLiteral("10:00:01"), 0, QByteArray("ab\0cd", 5));
    AddItem(m_dlg, QStringLiteral("10:00:02"), 1, QByteArray("ab\0", 3));
    SaveAs(Path("capture.log"), 1);

    EXPECT_EQ(ReadAll(Path("capture.log")), kWelcome + "\r\nRec :caf\xc3\xa9 100% %s %d\r\n" + "\r\nRec :ab" +
                                                "\r\nRec :61 62 00 ");
}

TEST_F(SaveCapture, AfterClearOutputBothFormatsAreEmptyAndReplaceTheOldFile)
{
    AddItem(m_dlg, QStringLiteral("10:00:00"), 0, QByteArray("data"));
    WriteFile(Path("old.log"), "an older capture");
    WriteFile(Path("old.sds"), "\"00:00:00\",Hex,\"01 \"\n");
    m_dlg.OnClearOutput();

    SaveAs(Path("old.log"), 1);
    SaveAs(Path("old.sds"), kSendDataFilterIndex);
    EXPECT_TRUE(QFileInfo::exists(Path("old.log")));
    EXPECT_EQ(QFileInfo(Path("old.log")).size(), 0);
    EXPECT_EQ(QFileInfo(Path("old.sds")).size(), 0);
}

TEST_F(SaveCapture, TheFilterNotTheNameDecidesTheContent)
{
    AddItem(m_dlg, QStringLiteral("11:12:13"), 1, QByteArray("\x01\x02"));
    SaveAs(Path("looks_like_send_data.sds"), 1);
    SaveAs(Path("looks_like_a_log.log"), kSendDataFilterIndex);
    SaveAs(Path("plain.txt"), kSendDataFilterIndex);

    EXPECT_EQ(ReadAll(Path("looks_like_send_data.sds")), kWelcome + "\r\nRec :01 02 ");
    EXPECT_EQ(ReadAll(Path("looks_like_a_log.log")), QByteArray("\"11:12:13\",Hex,\"01 02 \"\n"));
    EXPECT_EQ(ReadAll(Path("plain.txt")), ReadAll(Path("looks_like_a_log.log")));
}

TEST_F(SaveCapture, TheDialogRemembersTheFilterOfTheLastSaveThatOpened)
{
    CapturedMessages messages;
    m_dialog.Choose(Path("a.sds"), kSendDataFilterIndex);
    m_dialog.Cancel();
    m_dialog.Choose(Path("no_such_folder/b.log"), 1);  // fails to open
    m_dialog.Choose(Path("c.log"), 1);
    m_dialog.Choose(Path("d.log"), 1);
    for (int i = 0; i < 5; ++i)
        m_dlg.OnSave();

    const auto& requests = m_dialog.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].filterIndex, 1);
    EXPECT_EQ(requests[1].filterIndex, kSendDataFilterIndex);
    EXPECT_EQ(requests[2].filterIndex, kSendDataFilterIndex) << "a cancel keeps the selection";
    EXPECT_EQ(requests[3].filterIndex, kSendDataFilterIndex) << "a failed open keeps the selection";
    EXPECT_EQ(requests[4].filterIndex, 1);
    EXPECT_EQ(messages.Count(), 1);

    // The fixed parameters of every request.
    for (const SaveFileRequest& request : requests) {
        EXPECT_EQ(request.filter, QStringLiteral("Serial Log(*.log)|*.log|Veltrin Send Data(*.sds)|*.sds||"));
        EXPECT_EQ(request.defaultSuffix, QStringLiteral("txt"));
        EXPECT_EQ(request.initialPath, QDir::homePath() + QStringLiteral("/newCommFile.txt"));
    }
}

TEST_F(SaveCapture, SavingTwiceWritesTheSameBytesAndChangesNothing)
{
    AddItem(m_dlg, QStringLiteral("12:00:00"), 0, QByteArray("line one\r\n"));
    AddItem(m_dlg, QStringLiteral("12:00:01"), 1, QByteArray("\x10\x20\x30"));
    for (int filter : {1, kSendDataFilterIndex}) {
        SaveAs(Path("first"), filter);
        SaveAs(Path("second"), filter);
        EXPECT_FALSE(ReadAll(Path("first")).isEmpty());
        EXPECT_EQ(ReadAll(Path("first")), ReadAll(Path("second")));
    }
    EXPECT_EQ(m_dlg.Engine().m_items.GetSize(), 2);
    EXPECT_EQ(m_dlg.Engine().m_strOutput.toUtf8(), kWelcome);
}

TEST_F(SaveCapture, TheSaveCommandsRunTheDialogFromTheWindow)
{
    m_dlg.OnInitDialog();
    m_dialog.Choose(Path("from_menu.log"), 1);
    m_dialog.Choose(Path("from_toolbar.log"), 1);
    m_dlg.OnCommand(ID_MENU_SAVE);
    m_dlg.OnCommand(ID_TOOL_SAVE);
    EXPECT_EQ(ReadAll(Path("from_menu.log")), kWelcome);
    EXPECT_EQ(ReadAll(Path("from_toolbar.log")), kWelcome);
}

TEST_F(SaveCapture, AFileThatCannotBeOpenedIsReportedWithItsPathAndReason)
{
    WriteFile(Path("plain_file"), "not a folder");
    QDir(TestDir()).mkdir(QStringLiteral("a_folder"));
    WriteFile(Path("a_folder/inside"), "kept");
    const QByteArray procBefore = ReadAll(QStringLiteral("/proc/version"));
    const QString targets[] = {
        Path("missing_folder/capture.log"),  // no such folder
        Path("plain_file/capture.log"),      // the folder is a regular file
        Path("a_folder"),                    // the name is a folder
        QStringLiteral("/proc/version"),     // a read-only file system, even for root
    };
    for (const QString& target : targets) {
        CapturedMessages messages;
        SaveAs(target, 1);
        ASSERT_EQ(messages.Count(), 1) << target.toStdString();
        EXPECT_TRUE(messages.Last().text.contains(target)) << messages.Last().text.toStdString();
        // A reason follows the path.
        const QString reason = messages.Last().text.section(target, 1).trimmed();
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_FALSE(reason.contains(QStringLiteral("Unknown error"))) << reason.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Path("missing_folder")));
    EXPECT_EQ(ReadAll(Path("plain_file")), QByteArray("not a folder"));
    EXPECT_EQ(ReadAll(Path("a_folder/inside")), QByteArray("kept"));
    EXPECT_EQ(ReadAll(QStringLiteral("/proc/version")), procBefore);
    EXPECT_EQ(s_nSaveFilterIndex, 1);
}

TEST_F(SaveCapture, AReadOnlyFolderKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    QDir(TestDir()).mkdir(QStringLiteral("locked"));
    WriteFile(Path("locked/capture.log"), "the good copy");
    QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::ExeOwner);
    CapturedMessages messages;
    SaveAs(Path("locked/capture.log"), 1);
    QFile::setPermissions(Path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(messages.Count(), 1);
    EXPECT_EQ(ReadAll(Path("locked/capture.log")), QByteArray("the good copy"));
}

TEST_F(SaveCapture, AWriteThatFailsHalfwayLeavesTheOldFileWhole)
{
    // A file size limit makes writes fail part way, as a full disk does, and
    // holds for root too.
    for (int i = 0; i < 400; ++i)
        AddItem(m_dlg, QStringLiteral("13:00:00"), 1, QByteArray(1024, char(i)));
    WriteFile(Path("capture.log"), "the good copy");

    CapturedMessages messages;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    SaveAs(Path("capture.log"), 1);
    SaveAs(Path("capture.sds"), kSendDataFilterIndex);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(messages.Count(), 2);
    EXPECT_TRUE(messages.All()[0].text.contains(Path("capture.log"))) << messages.All()[0].text.toStdString();
    EXPECT_TRUE(messages.All()[1].text.contains(Path("capture.sds")));
    // The system's own reason is given.
    for (const ShownMessage& message : messages.All())
        EXPECT_TRUE(message.text.contains(QString::fromLocal8Bit(strerror(EFBIG)))) << message.text.toStdString();
    EXPECT_EQ(ReadAll(Path("capture.log")), QByteArray("the good copy"));
    EXPECT_FALSE(QFileInfo::exists(Path("capture.sds")));
    // No temporary file is left behind.
    EXPECT_EQ(QDir(TestDir()).entryList(QDir::Files).filter(QStringLiteral("capture")),
              QStringList{QStringLiteral("capture.log")});
}

TEST_F(SaveCapture, ACaptureOfSeveralMegabytesIsSavedWhole)
{
    // 6 MiB of bytes: text items of printable characters and hex items.
    QByteArray expectedLog = kWelcome;
    QByteArray expectedSendData;
    constexpr int kItems = 6 * 1024;
    for (int i = 0; i < kItems; ++i) {
        QByteArray bytes(1024, '\0');
        for (int j = 0; j < bytes.size(); ++j)
            bytes[j] = char(i % 2 ? (i + j) % 256 : 32 + (i + j) % 95);
        const int kind = i % 2;
        const QString name = QStringLiteral("%1:%2:%3").arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                                 .arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'));
        AddItem(m_dlg, name, kind, bytes);
        const QByteArray hex = bytes.toHex(' ') + ' ';
        expectedLog += "\r\nRec :" + (kind ? hex : bytes);
        expectedSendData += '"' + name.toLatin1() + "\"," + (kind ? "Hex" : "String") + ",\"" + hex + "\"\n";
    }
    SaveAs(Path("big.log"), 1);
    SaveAs(Path("big.sds"), kSendDataFilterIndex);

    const QByteArray log = ReadAll(Path("big.log"));
    EXPECT_EQ(log.size(), expectedLog.size());
    EXPECT_TRUE(log == expectedLog);
    const QByteArray sendData = ReadAll(Path("big.sds"));
    EXPECT_EQ(sendData.size(), expectedSendData.size());
    EXPECT_TRUE(sendData == expectedSendData);
    EXPECT_EQ(sendData.count('\n'), kItems);
}

// Cancel, pressed while the worker writes, leaves no file where there was
// none and an old file as it was; nothing counts as saved, and while the
// Save ran the commands that would change the items were disabled.
TEST_F(SaveCapture, ACancelledSaveLeavesNoFileAndAnOldFileUntouched)
{
    m_dlg.OnInitDialog();
    const QByteArray chunk(200, 'x');
    for (int i = 0; i < 5000; ++i)  // several batches
        AddItem(m_dlg, QStringLiteral("10:00:00"), i % 2, chunk);
    WriteFile(Path("kept.log"), "an older capture");
    const struct {
        const char* name;
        int filterIndex;
        bool existed;
    } cases[] = {{"kept.log", 1, true}, {"new.sds", kSendDataFilterIndex, false}, {"new.log", 1, false}};

    s_nSaveProgressDelayMs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> pressed{false};
        bool commandsDisabled = false;
        s_pfnSaveBatchWritten = [&](int64_t) {
            if (pressed)
                return;
            // The worker waits here until the window has handled Cancel.
            QMetaObject::invokeMethod(&m_dlg, [&] {
                auto* progress = m_dlg.findChild<QProgressDialog*>(QStringLiteral("saveProgress"));
                commandsDisabled = !m_dlg.m_wndCommandBar->ToolAction(ID_TOOL_BEGIN)->isEnabled() &&
                                   !m_dlg.m_wndCommandBar->ToolAction(ID_TOOL_CLEAR)->isEnabled();
                if (progress)
                    progress->findChild<QPushButton*>()->click();
                pressed = true;
            });
            for (int i = 0; i < 10000 && !pressed; ++i)
                QThread::msleep(1);
        };
        CapturedMessages messages;
        SaveAs(Path(c.name), c.filterIndex);
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(commandsDisabled);
        EXPECT_EQ(QFileInfo::exists(Path(c.name)), c.existed);
        if (c.existed) {
            EXPECT_EQ(ReadAll(Path(c.name)), QByteArray("an older capture"));
        }
        EXPECT_EQ(messages.Count(), 0);
        EXPECT_EQ(m_dlg.UnsavedItems(), 5000);
        EXPECT_TRUE(m_dlg.m_wndCommandBar->ToolAction(ID_TOOL_BEGIN)->isEnabled());
    }
    s_pfnSaveBatchWritten = {};
    s_nSaveProgressDelayMs = 1000;
    // Nothing was left beside the files either.
    EXPECT_EQ(QDir(TestDir()).entryList({QStringLiteral("kept.log*"), QStringLiteral("new.*")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("kept.log")});
}
