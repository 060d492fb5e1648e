#pragma once
// At start-up: a capture journal that no running program holds and whose
// items were never saved (the program crashed, was killed, or the machine
// lost power) is offered back, one question per journal: Restore or Discard.
// Restore puts the capture back into the window as it was recorded, and the
// journal goes on protecting it.
#include "data/journal_file.h"

class CMonitorDlg;
class QWidget;

class CRestoreOffer {
public:
    enum Answer { Restore, Discard };

    // Offers the abandoned journals in `folder`, newest first, until one is
    // restored; the others are left for the next start. Returns whether a
    // capture was restored.
    static bool Run(CMonitorDlg& dlg, const QString& folder = JournalFolder());
    // The question, modal: Restore, Discard, or kKeep when the box was
    // closed some other way (the journal is then kept for the next start).
    static int Ask(QWidget* owner, const JournalSummary& summary);
    // Puts the journal's capture into the window: the text before the first
    // entry, every item with its name, kind, bytes and time stamp, the port
    // and its line settings.
    static void RestoreInto(CMonitorDlg& dlg, AbandonedJournal& journal);

    static constexpr int kKeep = -1;  // Ask's answer when the box was closed
};
