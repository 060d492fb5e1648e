#include "app/save_with_times.h"

#include "app/monitor_dlg.h"
#include "data/timed_log_format.h"
#include "platform/message_box.h"
#include "platform/save_file_dialog.h"

#include <QDir>
#include <QSaveFile>

namespace {

constexpr qsizetype kWriteChunk = 1 << 16;

bool WriteAll(QIODevice& out, const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = out.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

bool WriteTimedLog(CMonitorDlg& dlg, QIODevice& out)
{
    std::lock_guard lock(dlg.m_csCapture);
    QByteArray bytes = dlg.m_strOutput.toUtf8();
    for (int i = 0; i < dlg.m_items.GetSize(); ++i) {
        AppendTimedLogEntry(bytes, dlg.m_items.GetAt(i));
        if (bytes.size() >= kWriteChunk) {
            if (!WriteAll(out, bytes))
                return false;
            bytes.clear();
        }
    }
    return WriteAll(out, bytes);
}

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

    uint64_t captureId = 0;
    int items = 0;
    {
        std::lock_guard lock(dlg.m_csCapture);
        captureId = dlg.m_nCaptureId;
        items = dlg.m_items.GetSize();
    }
    // Moved over the target only when every byte got there.
    QSaveFile file(answer.path);
    bool written = file.open(QIODevice::WriteOnly) && WriteTimedLog(dlg, file);
    written = written && file.error() == QFileDevice::NoError && file.commit();
    if (!written) {
        const QString reason = file.errorString();
        file.cancelWriting();
        ShowMessageBox(&dlg,
                       QStringLiteral("The capture could not be saved to\n%1\n\n%2")
                           .arg(QDir::toNativeSeparators(answer.path), reason),
                       QStringLiteral("Vantrel"), MB_ICONEXCLAMATION);
        return;
    }
    // The file holds every item: closing the window need not ask again.
    dlg.OnCaptureSaved(captureId, items);
}
