// A capture lost by a crash comes back at the next start, exactly as it was
// recorded; Clear Output and a Save of everything end the offer; closing with
// unsaved items asks first, whichever way the window is closed.
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_app.h"
#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "app/restore_offer.h"
#include "data/capture_journal.h"
#include "app/save_capture.h"
#include "platform/file_io.h"
#include "platform/pseudo_terminal.h"
#include "platform/save_file_dialog.h"
#include "main_window.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using testing_support::WaitUntil;

QString StateFolder()
{
    return testing_support::TestDir() + QStringLiteral("/state/vantrel");
}

QStringList Journals()
{
    return QDir(StateFolder()).entryList({QStringLiteral("*.vjournal")}, QDir::Files);
}

// Answers the next message box with the button named `button`; its text
// goes to `text` when given.
void AnswerNextBox(const QString& button, QString* text = nullptr)
{
    testing_support::OnceModal([button, text](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        if (text)
            *text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == button) {
                b->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << button.toStdString();
    });
}

void AddItem(CMonitorDlg& dlg, const QByteArray& bytes, int kind = 0)
{
    CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    item.SetKind(kind);
    item.SetName(QStringLiteral("08:15:00"));
    std::lock_guard lock(dlg.Engine().m_csCapture);
    dlg.Engine().m_items.Add(item);
}

struct Files {
    QByteArray log, sendData;
};

Files SaveBoth(CMonitorDlg& dlg)
{
    Files files;
    QBuffer log(&files.log), sendData(&files.sendData);
    log.open(QIODevice::WriteOnly);
    sendData.open(QIODevice::WriteOnly);
    dlg.Engine().WriteOutputText(log);
    dlg.Engine().WriteSendData(sendData);
    return files;
}

QByteArray RecordedBytes(CMonitorDlg& dlg)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    QByteArray bytes;
    for (int i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
        bytes.append(reinterpret_cast<const char*>(dlg.Engine().m_items.GetAt(i).GetData()), dlg.Engine().m_items.GetAt(i).GetLength());
    return bytes;
}

int ItemCount(CMonitorDlg& dlg)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    return dlg.Engine().m_items.GetSize();
}

using Window = testing_support::ShownWindow;

TEST(Restore, GivesBackTheCaptureWithTheSameFilesAsASaveBeforeTheCrash)
{
    platform::PseudoTerminal pty;
    ASSERT_TRUE(pty.Open());
    testing_support::SetPortOverride(5, pty.SlavePath());

    Files before;
    std::vector<int64_t> times;
    QString journal;
    {
        Window w;
        w.dlg.Engine().m_strPortName = QStringLiteral("COM5");
        w.dlg.Engine().m_portSettings.BaudRate = 57600;
        // A text capture and a hex capture, with a zero byte and a line end.
        const QByteArray chunks[] = {"$GPGGA,1*00\r\n", QByteArray("A\0B", 3), "\x01\x02\xff"};
        for (int format : {0, 1}) {
            w.dlg.Engine().m_nShowFormat = format;
            w.dlg.OnBegin();
            ASSERT_NE(w.dlg.Engine().Port(), nullptr);
            ASSERT_TRUE(testing_support::WaitUntil([&] { return w.dlg.Engine().IsListening(); }));
            for (const QByteArray& chunk : chunks) {
                const QByteArray expected = RecordedBytes(w.dlg) + chunk;
                ASSERT_TRUE(pty.WriteAll(chunk));
                ASSERT_TRUE(WaitUntil([&] { return RecordedBytes(w.dlg) == expected; }));
            }
            w.dlg.OnStop();
        }
        before = SaveBoth(w.dlg);
        {
            std::lock_guard lock(w.dlg.Engine().m_csCapture);
            for (int i = 0; i < w.dlg.Engine().m_items.GetSize(); ++i)
                times.push_back(w.dlg.Engine().m_items.GetAt(i).GetTimeMicros());
        }
        journal = w.dlg.Engine().Journal().Path();
        // The program ends here without anyone closing the window.
    }
    ASSERT_EQ(Journals().size(), 1);

    Window w;
    QString question;
    AnswerNextBox(QStringLiteral("Restore"), &question);
    ASSERT_TRUE(CRestoreOffer::Run(w.dlg));
    EXPECT_TRUE(question.contains(QStringLiteral("COM5"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("57600 8-N-1"))) << question.toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("Recorded: %1 items").arg(times.size()))) << question.toStdString();

    const Files after = SaveBoth(w.dlg);
    EXPECT_EQ(after.log, before.log);
    EXPECT_EQ(after.sendData, before.sendData);
    ASSERT_EQ(size_t(ItemCount(w.dlg)), times.size());
    {
        std::lock_guard lock(w.dlg.Engine().m_csCapture);
        for (int i = 0; i < int(times.size()); ++i)
            EXPECT_EQ(w.dlg.Engine().m_items.GetAt(i).GetTimeMicros(), times[size_t(i)]) << i;
    }
    EXPECT_EQ(w.dlg.Engine().m_strPortName, QStringLiteral("COM5"));
    EXPECT_EQ(w.dlg.Engine().m_portSettings.BaudRate, 57600u);
    EXPECT_TRUE(w.dlg.m_editOutput->ShownText().endsWith(QStringLiteral("Rec :01 02 ff ")));
    EXPECT_EQ(w.dlg.UnsavedItems(), int(times.size()));

    // Begin goes on recording into the same capture and the same journal.
    w.dlg.OnBegin();
    ASSERT_NE(w.dlg.Engine().Port(), nullptr);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return w.dlg.Engine().IsListening(); }));
    ASSERT_TRUE(pty.WriteAll("more"));
    ASSERT_TRUE(WaitUntil([&] { return RecordedBytes(w.dlg).endsWith("more"); }));
    w.dlg.OnStop();
    w.dlg.Engine().Journal().Flush();
    EXPECT_EQ(w.dlg.Engine().Journal().Path(), journal);
    QFile file(journal);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const JournalSummary summary =
        ReadJournal(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    EXPECT_EQ(summary.items, ItemCount(w.dlg));
    EXPECT_EQ(summary.state, JournalState::Whole);
}

TEST(Restore, AJournalCutOffMidRecordGivesBackEveryWholeItem)
{
    {
        Window w;
        for (int i = 0; i < 5; ++i)
            AddItem(w.dlg, QByteArray(10 + i, char('a' + i)));
        w.dlg.Engine().Journal().Flush();
    }
    ASSERT_EQ(Journals().size(), 1);
    const QString path = StateFolder() + QLatin1Char('/') + Journals()[0];
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() - 3));  // the writer died inside the last record
    file.close();

    Window w;
    AnswerNextBox(QStringLiteral("Restore"));
    ASSERT_TRUE(CRestoreOffer::Run(w.dlg));
    ASSERT_EQ(ItemCount(w.dlg), 4);
    EXPECT_EQ(RecordedBytes(w.dlg).right(13), QByteArray(13, 'd'));
    // The cut-off record is gone from the journal, which goes on from there.
    AddItem(w.dlg, "next");
    w.dlg.Engine().Journal().Flush();
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    const QByteArray bytes = again.readAll();
    const JournalSummary summary =
        ReadJournal(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    EXPECT_EQ(summary.state, JournalState::Whole);
    EXPECT_EQ(summary.items, 5);
}

TEST(Restore, ACutOffTailThatCannotBeCutAwayIsNeverWrittenAfter)
{
    {
        Window w;
        for (int i = 0; i < 3; ++i)
            AddItem(w.dlg, QByteArray(10 + i, char('a' + i)));
        w.dlg.Engine().Journal().Flush();
    }
    const QString path = StateFolder() + QLatin1Char('/') + Journals().value(0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() - 3));
    file.close();

    // The disk refuses to cut the file: new items must not follow the
    // broken record, where no reader would ever find them.
    platform::file_io::SetInterceptor([](const platform::file_io::Request& request) {
        platform::file_io::Outcome outcome;
        if (request.call == platform::file_io::Call::Ftruncate)
            outcome.error = EIO;
        return outcome;
    });
    Window w;
    AnswerNextBox(QStringLiteral("Restore"));
    ASSERT_TRUE(CRestoreOffer::Run(w.dlg));
    AddItem(w.dlg, "next");
    w.dlg.Engine().Journal().Flush();
    platform::file_io::SetInterceptor({});

    // Whatever journal holds the capture now gives back every item.
    const QString current = w.dlg.Engine().Journal().Path();
    ASSERT_FALSE(current.isEmpty());
    QFile again(current);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    const QByteArray bytes = again.readAll();
    std::vector<QByteArray> data;
    const JournalSummary summary = ReadJournal(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                               size_t(bytes.size()), [&](const JournalItem& item) {
                                                   data.emplace_back(reinterpret_cast<const char*>(item.data),
                                                                     item.length);
                                               });
    EXPECT_EQ(summary.state, JournalState::Whole);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[0], QByteArray(10, 'a'));
    EXPECT_EQ(data[1], QByteArray(11, 'b'));
    EXPECT_EQ(data[2], QByteArray("next"));
}

TEST(Restore, ADamagedJournalGivesBackItsGoodItemsAndIsKeptAside)
{
    {
        Window w;
        for (int i = 0; i < 4; ++i)
            AddItem(w.dlg, QByteArray(20, char('k' + i)));
        w.dlg.Engine().Journal().Flush();
    }
    ASSERT_EQ(Journals().size(), 1);
    const QString path = StateFolder() + QLatin1Char('/') + Journals()[0];
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray damaged = file.readAll();
    damaged[damaged.size() - 6] = char(damaged[damaged.size() - 6] ^ 0x01);  // inside the last item's bytes
    file.seek(0);
    file.write(damaged);
    file.close();

    Window w;
    QString offer;
    AnswerNextBox(QStringLiteral("Restore"), &offer);
    ASSERT_TRUE(CRestoreOffer::Run(w.dlg));
    EXPECT_TRUE(offer.contains(QStringLiteral("damaged"))) << offer.toStdString();
    ASSERT_EQ(ItemCount(w.dlg), 3);
    EXPECT_EQ(RecordedBytes(w.dlg).right(20), QByteArray(20, 'm'));
    // The damaged file is kept as it was; the good items have a new journal.
    QFile aside(path + QStringLiteral(".damaged"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), damaged);
    // At once, not at the next Begin.
    ASSERT_TRUE(WaitUntil([] { return Journals().size() == 1; }));
    w.dlg.Engine().Journal().Flush();
    QFile fresh(w.dlg.Engine().Journal().Path());
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    const QByteArray bytes = fresh.readAll();
    EXPECT_EQ(ReadJournal(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())).items, 3);
}

TEST(Restore, DiscardRemovesTheJournalAndNothingIsOfferedAgain)
{
    {
        Window w;
        AddItem(w.dlg, "lost");
    }
    ASSERT_EQ(Journals().size(), 1);
    Window w;
    AnswerNextBox(QStringLiteral("Discard"));
    EXPECT_FALSE(CRestoreOffer::Run(w.dlg));
    EXPECT_EQ(ItemCount(w.dlg), 0);
    EXPECT_TRUE(QDir(StateFolder()).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(CRestoreOffer::Run(w.dlg));  // no question: nothing to offer
}

TEST(Restore, ClearOutputAndASaveOfEverythingEndTheOfferAPartialSaveDoesNot)
{
    const QString target = testing_support::TestDir() + QStringLiteral("/capture.sds");
    SetSaveFileHandler([&](const SaveFileRequest&) { return SaveFileAnswer{true, target, kSendDataFilterIndex}; });
    {
        Window w;
        AddItem(w.dlg, "discarded");
        w.dlg.Engine().Journal().Flush();
        ASSERT_EQ(Journals().size(), 1);
        w.dlg.OnClearOutput();
        w.dlg.Engine().Journal().Flush();
        EXPECT_TRUE(Journals().isEmpty());
    }
    EXPECT_TRUE(ClaimAbandonedJournals(StateFolder()).empty());
    {
        Window w;
        AddItem(w.dlg, "saved");
        w.dlg.OnSave();
        EXPECT_EQ(w.dlg.UnsavedItems(), 0);
    }
    EXPECT_TRUE(ClaimAbandonedJournals(StateFolder()).empty());
    EXPECT_TRUE(Journals().isEmpty());
    {
        Window w;
        AddItem(w.dlg, "saved");
        w.dlg.OnSave();
        AddItem(w.dlg, "not saved");
        EXPECT_EQ(w.dlg.UnsavedItems(), 1);
    }
    std::vector<AbandonedJournal> found = ClaimAbandonedJournals(StateFolder());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].summary.items, 2);
    EXPECT_EQ(found[0].summary.saved, 1);
    SetSaveFileHandler({});
}

TEST(Restore, AJournalThatCannotBeWrittenIsShownOnTheStatusLineOnce)
{
    // Where the state folder should be, a plain file.
    QFile blocker(testing_support::TestDir() + QStringLiteral("/state"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Window w;
    auto status = [&] { return w.dlg.findChild<QLabel*>(QStringLiteral("statusLine"))->text(); };
    AddItem(w.dlg, "kept in memory");
    w.dlg.Engine().Journal().Flush();
    ASSERT_TRUE(WaitUntil([&] { return status().contains(QStringLiteral("Not protected")); }));
    EXPECT_TRUE(status().contains(QStringLiteral("cannot be created"))) << status().toStdString();
    EXPECT_EQ(ItemCount(w.dlg), 1);
}

// Clicks `button` in the first message box that shows, whenever that is.
void AnswerBoxWhenShown(QObject* context, const QString& button, QString* text)
{
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, [poll, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->stop();
        *text = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button)
                b->click();
    });
    poll->start(10);
}

TEST(Restore, TheProgramOffersTheLostCaptureOnceItsWindowIsUp)
{
    {
        Window w;
        AddItem(w.dlg, "from the last run");
    }
    QString offer, question;
    int restored = -1;
    theApp.m_pfnPrepareWindow = [&](CMonitorDlg& dlg) {
        AnswerBoxWhenShown(&dlg, QStringLiteral("Restore"), &offer);
        // Once restored, close: the restored items are unsaved, so closing asks.
        auto* closer = new QTimer(&dlg);
        QObject::connect(closer, &QTimer::timeout, [&dlg, closer, &restored, &question] {
            if (!dlg.isVisible() || QApplication::activeModalWidget() != &dlg || ItemCount(dlg) == 0)
                return;
            closer->stop();
            restored = ItemCount(dlg);
            AnswerNextBox(QStringLiteral("Discard"), &question);
            dlg.OnExit();
        });
        closer->start(10);
    };
    theApp.InitInstance();
    theApp.m_pfnPrepareWindow = nullptr;
    EXPECT_TRUE(offer.contains(QStringLiteral("Recorded: 1 items, 17 bytes"))) << offer.toStdString();
    EXPECT_EQ(restored, 1);
    EXPECT_TRUE(question.contains(QStringLiteral("not been saved"))) << question.toStdString();
    EXPECT_TRUE(Journals().isEmpty());
}

// The three ways of closing the window.
const std::function<void(CMonitorDlg&)> kClosers[] = {
    [](CMonitorDlg& dlg) { dlg.m_wndCommandBar->MenuAction(ID_MENU_EXIT)->trigger(); },
    [](CMonitorDlg& dlg) { dlg.close(); },
    [](CMonitorDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
};

TEST(CloseQuestion, EachWayOfClosingAsksAndCancelStaysDiscardCloses)
{
    for (const auto& closeIt : kClosers) {
        CMonitorDlg dlg;
        AddItem(dlg, "unsaved");
        dlg.Engine().Journal().Flush();
        ASSERT_EQ(Journals().size(), 1);
        QString question;
        bool stayed = false;
        QTimer::singleShot(0, &dlg, [&] {
            AnswerNextBox(QStringLiteral("Cancel"), &question);
            closeIt(dlg);
            stayed = dlg.isVisible();
            AnswerNextBox(QStringLiteral("Discard"));
            closeIt(dlg);
        });
        dlg.DoModal();
        EXPECT_TRUE(stayed);
        EXPECT_TRUE(question.contains(QStringLiteral("1 items that have not been saved"))) << question.toStdString();
        EXPECT_FALSE(dlg.isVisible());
        // The user chose to discard: nothing is offered at the next start.
        EXPECT_TRUE(Journals().isEmpty());
    }
}

TEST(CloseQuestion, SaveClosesOnlyWhenTheSaveSucceeded)
{
    const QString target = testing_support::TestDir() + QStringLiteral("/closing.sds");
    const QString unwritable = testing_support::TestDir() + QStringLiteral("/no/such/folder/x.sds");
    QString path = unwritable;
    SetSaveFileHandler([&](const SaveFileRequest&) { return SaveFileAnswer{true, path, kSendDataFilterIndex}; });
    for (const auto& closeIt : kClosers) {
        QFile::remove(target);
        path = unwritable;
        CMonitorDlg dlg;
        AddItem(dlg, "AB", 1);
        bool stayedAfterFailure = false;
        QTimer::singleShot(0, &dlg, [&] {
            {
                testing_support::CapturedMessages messages;  // the failed save's report
                AnswerNextBox(QStringLiteral("Save"));
                closeIt(dlg);
                stayedAfterFailure = dlg.isVisible() && messages.Count() == 1;
            }
            path = target;
            AnswerNextBox(QStringLiteral("Save"));
            closeIt(dlg);
        });
        dlg.DoModal();
        EXPECT_TRUE(stayedAfterFailure);
        EXPECT_FALSE(dlg.isVisible());
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray("\"08:15:00\",Hex,\"41 42 \"\n"));
        EXPECT_TRUE(Journals().isEmpty());
    }
    SetSaveFileHandler({});
}

TEST(CloseQuestion, SaveThenCancelInTheFileDialogLeavesTheCaptureRunning)
{
    platform::PseudoTerminal pty;
    ASSERT_TRUE(pty.Open());
    testing_support::SetPortOverride(5, pty.SlavePath());
    SetSaveFileHandler([](const SaveFileRequest&) { return SaveFileAnswer{}; });
    CMonitorDlg dlg;
    dlg.Engine().m_strPortName = QStringLiteral("COM5");
    bool running = false;
    QTimer::singleShot(0, &dlg, [&] {
        dlg.OnBegin();
        ASSERT_NE(dlg.Engine().Port(), nullptr);
        ASSERT_TRUE(WaitUntil([&] { return dlg.Engine().IsListening(); }));
        ASSERT_TRUE(pty.WriteAll("before"));
        ASSERT_TRUE(WaitUntil([&] { return dlg.UnsavedItems() > 0; }));
        AnswerNextBox(QStringLiteral("Save"));
        dlg.OnExit();
        running = dlg.isVisible() && dlg.Engine().Port() != nullptr;
        // Still recording: what comes now is kept.
        if (running) {
            const int before = dlg.UnsavedItems();
            EXPECT_TRUE(pty.WriteAll("after"));
            EXPECT_TRUE(WaitUntil([&] { return dlg.UnsavedItems() > before; }));
        }
        AnswerNextBox(QStringLiteral("Discard"));
        dlg.OnExit();
    });
    dlg.DoModal();
    EXPECT_TRUE(running);
    EXPECT_FALSE(dlg.isVisible());
    SetSaveFileHandler({});
}

TEST(CloseQuestion, NothingUnsavedClosesWithoutAQuestion)
{
    const QString target = testing_support::TestDir() + QStringLiteral("/all.log");
    SetSaveFileHandler([&](const SaveFileRequest&) { return SaveFileAnswer{true, target, 1}; });
    CMonitorDlg dlg;
    AddItem(dlg, "saved");
    QTimer::singleShot(0, &dlg, [&] {
        dlg.OnSave();
        // A question now would be a failure; it is cancelled and the
        // window ended, so the test still ends.
        QTimer::singleShot(0, &dlg, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (box && box != &dlg) {
                ADD_FAILURE() << "a question was asked";
                box->reject();
                QTimer::singleShot(0, &dlg, [&] { dlg.done(0); });
            }
        });
        dlg.OnExit();
    });
    dlg.DoModal();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(Journals().isEmpty());
    SetSaveFileHandler({});
}

} // namespace
