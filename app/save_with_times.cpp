#include "app/save_with_times.h"

#include "app/monitor_dlg.h"
#include "platform/save_file_dialog.h"

#include <QDir>

void SaveWithTimes(CMonitorDlg& dlg)
{
    SaveFileRequest request;
    request.initialPath = QDir::home().filePath(kTimedLogInitialName);
    request.filter = kTimedLogFilter;
    request.filterIndex = 1;
    request.defaultSuffix = QStringLiteral("log");
    const SaveFileAnswer answer = GetSaveFileName(&dlg, request);
    if (!answer.accepted)
        return;
    // The same writer as Save, so the window answers while it writes and
    // the file holds every item or is not there at all.
    dlg.SaveAs(answer.path, CaptureFormat::TimedLog);
}
