#include "app/restore_offer.h"

#include "app/monitor_dlg.h"
#include "app/status_line.h"
#include "data/capture_journal.h"

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

bool CRestoreOffer::Run(CMonitorDlg& dlg, const QString& folder)
{
    std::vector<AbandonedJournal> journals = ClaimAbandonedJournals(folder);
    for (AbandonedJournal& journal : journals) {
        const int answer = Ask(&dlg, journal.summary);
        if (answer == Restore) {
            RestoreInto(dlg, journal);
            return true;
        }
        if (answer == Discard) {
            // Damage is kept for a person to look at; a good journal goes.
            if (journal.summary.state == JournalState::Damaged)
                journal.file.MoveAside();
            else
                journal.file.Remove();
        }
    }
    return false;
}

int CRestoreOffer::Ask(QWidget* owner, const JournalSummary& summary)
{
    const QLocale locale;
    const JournalHeader& header = summary.header;
    const QString started =
        locale.toString(QDateTime::fromMSecsSinceEpoch(header.startMicros / 1000), QLocale::LongFormat);
    QString text = QStringLiteral("A capture was not saved when Vantrel last ended.\n\n"
                                  "Started: %1\nPort: %2 (%3)\nRecorded: %4 items, %5 bytes")
                       .arg(started, header.portName.isEmpty() ? QStringLiteral("unknown") : header.portName,
                            CStatusLine::DescribeLine(header.line), locale.toString(summary.items),
                            locale.toString(summary.bytes));
    if (summary.saved > 0)
        text += QStringLiteral(" (the first %1 were saved)").arg(locale.toString(summary.saved));
    if (summary.state == JournalState::Damaged)
        text += QStringLiteral("\n\nThe journal is damaged after these items (%1); "
                               "the damaged file will be kept beside it.")
                    .arg(summary.problem);
    text += QStringLiteral("\n\nRestore it?");

    QMessageBox box(QMessageBox::Question, QStringLiteral("Vantrel"), text, QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("restoreOffer"));
    QPushButton* restore = box.addButton(QStringLiteral("Restore"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(restore);
    box.exec();
    if (box.clickedButton() == restore)
        return Restore;
    if (box.clickedButton() == discard)
        return Discard;
    return kKeep;
}

void CRestoreOffer::RestoreInto(CMonitorDlg& dlg, AbandonedJournal& journal)
{
    const JournalHeader& header = journal.summary.header;
    CCaptureEngine& engine = dlg.Engine();
    {
        std::lock_guard lock(engine.m_csCapture);
        engine.m_items.RemoveAll();
        const uint64_t captureId = ++engine.m_nCaptureId;
        engine.m_strOutput = header.prefix;
        const JournalSummary read = journal.file.Read([&](const JournalItem& restored) {
            CDataItem item(restored.data, restored.length);
            item.SetKind(restored.kind);
            item.SetName(restored.name);
            engine.m_items.ElementAt(engine.m_items.Add(item)).SetTimeMicros(restored.timeMicros);
        });
        engine.m_nSavedCaptureId = captureId;
        engine.m_nSavedItems = int(std::min(read.saved, int64_t(engine.m_items.GetSize())));
        engine.Journal().SetLine(header.portName, header.line, header.startMicros);
        // A record cut off by the crash is dropped and new items follow the
        // last whole one. Damage, or a tail the disk will not let go of (new
        // records after it would be unreadable), is kept aside as it is and
        // the journal starts afresh with the good items.
        if (read.state == JournalState::Damaged || !journal.file.TruncateTo(read.goodEnd))
            journal.file.MoveAside();
        else
            engine.Journal().Adopt(std::move(journal.file), captureId, engine.m_items.GetSize());
    }
    // A fresh journal for a damaged one's items starts now, not at the next Begin.
    engine.Journal().Wake();
    if (!header.portName.isEmpty()) {
        engine.m_strPortName = header.portName;
        engine.m_portSettings = header.line;
    }
    dlg.UpdateData(false);
    if (dlg.IsInitialized())
        dlg.UpdateCommandState();
}
