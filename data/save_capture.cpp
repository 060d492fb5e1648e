// The Save command: the capture written as a Serial Log (the output area's
// text) or as Send Data (one line per item), whichever filter the user chose.
#include "data/save_capture.h"

#include "app/monitor_dlg.h"
#include "data/capture_formats.h"
#include "platform/message_box.h"
#include "platform/save_file_dialog.h"

#include <QDir>
#include <QSaveFile>

int s_nSaveFilterIndex = 1;

namespace {

// Written in pieces of about this size, so the whole file never sits in memory.
constexpr qsizetype kWriteChunk = 1 << 16;

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

    // Written beside the target and moved over it only when every byte got
    // there, so a failed save never leaves a cut-off file where a good one was.
    QSaveFile file(answer.path);
    if (!file.open(QIODevice::WriteOnly)) {
        ReportSaveFailure(this, answer.path, file.errorString());
        return;
    }
    s_nSaveFilterIndex = answer.filterIndex;
    uint64_t captureId = 0;
    int items = 0;
    {
        std::lock_guard lock(m_csCapture);
        captureId = m_nCaptureId;
        items = m_items.GetSize();
    }

    CompleteWriter out(file);
    bool written = true;
    if (answer.filterIndex == kSendDataFilterIndex)
        WriteSendData(out);
    else
        written = WriteOutputText(out);
    // Flushed and checked before the commit: a commit alone takes a failed
    // last write (a full disk) for success and puts a cut-off file in place.
    written = written && file.error() == QFileDevice::NoError && file.flush();
    if (!written || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        ReportSaveFailure(this, answer.path, reason);
        return;
    }
    OnCaptureSaved(captureId, items);
}

void CMonitorDlg::WriteSendData(QIODevice& out)
{
    // "name",Kind,"hex text" and a line end per item, oldest first; nothing
    // at all for an empty list. Names and hex text hold neither quotes nor
    // commas, so nothing needs escaping.
    std::lock_guard lock(m_csCapture);
    QByteArray bytes;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        AppendSendDataLine(bytes, m_items.GetAt(i));
        if (bytes.size() >= kWriteChunk) {
            if (out.write(bytes) != bytes.size())
                return;  // the device keeps the error; the caller reports it
            bytes.clear();
        }
    }
    if (!bytes.isEmpty())
        out.write(bytes);
}
