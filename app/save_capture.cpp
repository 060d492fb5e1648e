// The Save command: the capture written as a Serial Log (the output area's
// text) or as Send Data (one line per item), whichever filter the user chose.
// The engine writes it on a worker thread while the window goes on
// answering; a Save that takes more than a moment shows its progress and
// can be cancelled.
#include "app/save_capture.h"

#include "app/monitor_dlg.h"
#include "platform/message_box.h"
#include "platform/save_file_dialog.h"

#include <QDir>
#include <QEventLoop>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>

int s_nSaveFilterIndex = 1;
int s_nSaveProgressDelayMs = 1000;
std::function<void(int64_t written)> s_pfnSaveBatchWritten;

namespace {

// Passes every byte on to the file. A file write that stops short (the disk
// filled, a size limit was reached) is tried again for the rest, so the
// system's reason comes to light instead of a silently shorter file.
class CompleteWriter : public QIODevice {
public:
    explicit CompleteWriter(QFileDevice& file) : m_file(file) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        for (qint64 done = 0; done < length;) {
            const qint64 written = m_file.write(data + done, length - done);
            if (written <= 0)
                return -1;
            done += written;
        }
        return length;
    }

private:
    QFileDevice& m_file;
};

void ReportSaveFailure(QWidget* owner, const QString& path, const QString& reason)
{
    ShowMessageBox(owner,
                   QStringLiteral("The capture could not be saved to\n%1\n\n%2").arg(QDir::toNativeSeparators(path), reason),
                   QStringLiteral("Vantrel"), MB_ICONEXCLAMATION);
}

} // namespace

void CMonitorDlg::OnSave()
{
    if (m_bSaving)
        return;
    SaveTo(AskSaveFileName());
}

SaveFileAnswer CMonitorDlg::AskSaveFileName()
{
    SaveFileRequest request;
    request.initialPath = QDir::home().filePath(kSaveInitialName);
    request.filter = kSaveFilter;
    request.filterIndex = s_nSaveFilterIndex;
    request.defaultSuffix = kSaveDefaultSuffix;
    return GetSaveFileName(this, request);
}

void CMonitorDlg::SaveTo(const SaveFileAnswer& answer)
{
    if (!answer.accepted)
        return;
    const CaptureFormat format =
        answer.filterIndex == kSendDataFilterIndex ? CaptureFormat::SendData : CaptureFormat::SerialLog;
    SaveAs(answer.path, format, [&] { s_nSaveFilterIndex = answer.filterIndex; });
}

void CMonitorDlg::SaveAs(const QString& path, CaptureFormat format, const std::function<void()>& opened)
{
    if (m_bSaving)
        return;

    // Written beside the target and moved over it only when every byte got
    // there, so a failed or cancelled save never leaves a cut-off file where
    // a good one was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        ReportSaveFailure(this, path, file.errorString());
        return;
    }
    if (opened)
        opened();
    uint64_t captureId = 0;
    int64_t items = 0;
    {
        std::lock_guard lock(m_engine.m_csCapture);
        captureId = m_engine.m_nCaptureId;
        items = m_engine.m_items.GetSize();
    }
    // The commands that would change the items wait until the Save is over.
    m_bSaving = true;
    UpdateCommandState();

    CompleteWriter out(file);
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> written{0};
    // A progress bar counts in int: past that many items it counts in steps.
    const int64_t perStep = items / INT_MAX + 1;
    CCaptureEngine::WriteResult result = CCaptureEngine::WriteResult::Failed;
    QEventLoop loop;
    std::unique_ptr<QProgressDialog> progress;
    QTimer update;
    update.setInterval(100);
    connect(&update, &QTimer::timeout, this, [&] {
        if (progress)
            progress->setValue(int(written / perStep));
    });
    auto showProgress = [&] {
        if (progress)
            return;
        progress = std::make_unique<QProgressDialog>(QStringLiteral("Saving the capture to %1")
                                                         .arg(QDir::toNativeSeparators(path)),
                                                     QStringLiteral("Cancel"), 0, int(items / perStep), this);
        progress->setObjectName(QStringLiteral("saveProgress"));
        progress->setWindowTitle(QStringLiteral("Vantrel"));
        progress->setWindowModality(Qt::WindowModal);
        progress->setAutoReset(false);
        progress->setAutoClose(false);
        progress->setMinimumDuration(0);
        connect(progress.get(), &QProgressDialog::canceled, this, [&] { cancel = true; });
        progress->setValue(int(written / perStep));
        progress->show();
        update.start();
    };
    // A timer of this call's own, so nothing is left to fire once it returns.
    QTimer delay;
    delay.setSingleShot(true);
    connect(&delay, &QTimer::timeout, this, showProgress);
    if (s_nSaveProgressDelayMs > 0)
        delay.start(s_nSaveProgressDelayMs);
    else
        showProgress();

    std::thread worker([&] {
        result = m_engine.WriteCapture(format, out, &cancel, [&](int64_t done, int64_t) {
            written = done;
            if (s_pfnSaveBatchWritten)
                s_pfnSaveBatchWritten(done);
        });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The window answers while the worker writes.
    loop.exec();
    worker.join();
    delay.stop();
    update.stop();
    progress.reset();
    m_bSaving = false;
    UpdateCommandState();

    if (result == CCaptureEngine::WriteResult::Cancelled || cancel) {
        file.cancelWriting();
        return;
    }
    // Flushed and checked before the commit: a commit alone takes a failed
    // last write (a full disk) for success and puts a cut-off file in place.
    const bool complete =
        result == CCaptureEngine::WriteResult::Written && file.error() == QFileDevice::NoError && file.flush();
    if (!complete || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        ReportSaveFailure(this, path, reason);
        return;
    }
    m_engine.OnCaptureSaved(captureId, items);
}
