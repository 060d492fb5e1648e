#include "app/restore_offer.h"

#include "app/monitor_dlg.h"
#include "app/status_line.h"
#include "data/capture_journal.h"

namespace {

constexpr int kProgressSteps = 1000;

} // namespace

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <algorithm>

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
                journal.MoveAside();
            else
                journal.Remove();
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
    CCaptureEngine& engine = dlg.Engine();
    // Reading a long journal takes seconds: the window shows how far it is.
    QProgressDialog progress(QStringLiteral("Restoring the capture..."), QString(), 0, kProgressSteps, &dlg);
    progress.setObjectName(QStringLiteral("restoreProgress"));
    progress.setWindowTitle(QStringLiteral("Vantrel"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(true);
    engine.RestoreJournal(journal, [&progress](int64_t done, int64_t total) {
        progress.setValue(total > 0 ? int(std::min(done, total) * kProgressSteps / total) : kProgressSteps);
    });
    progress.setValue(kProgressSteps);
    dlg.UpdateData(false);
    if (dlg.IsInitialized())
        dlg.UpdateCommandState();
}
