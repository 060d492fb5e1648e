#pragma once
// "Save with times..." in the output area's context menu: the capture
// written as a Timed Log (data/timed_log_format.h), through the same
// save-file dialog as Save but with a filter of its own. Offered when Save
// is: while no capture runs.
#include <QString>

class CMonitorDlg;

inline const QString kTimedLogFilter = QStringLiteral("Timed Log(*.log)|*.log||");
inline const QString kTimedLogInitialName = QStringLiteral("newCommFile-times.log");  // in the user's home folder

// Asks for a file and writes it; a failure is reported, and a file that was
// there before is kept as it was.
void SaveWithTimes(CMonitorDlg& dlg);
