// The streamed files as followers of the item list: new items are copied
// in bounded batches under the capture lock and formatted and written
// outside it, on the thread that drives the engine.
#include "capture/capture_engine.h"

#include "data/streamed_capture_file.h"

#include <QDir>
#include <new>
#include <utility>

namespace {

// The receive thread waits for the capture lock at most while this many
// items are copied.
constexpr int kMostItemsPerCopy = 1024;

} // namespace

void CCaptureEngine::AddStreamedFile(std::unique_ptr<CStreamedCaptureFile> file)
{
    m_files.push_back(std::move(file));
}

bool CCaptureEngine::WriteToStreamedFiles()
{
    // The items there are now, not those that come while they are written,
    // so a flood faster than the disk cannot keep this thread here.
    int64_t upTo = -1;
    for (;;) {
        size_t count = 0;
        CItemFollower::Batch batch;
        {
            std::lock_guard lock(m_csCapture);
            if (upTo < 0 || upTo > m_items.GetSize())
                upTo = m_items.GetSize();
            const CItemFollower before = m_fileFollower;
            batch = m_fileFollower.Take(m_nCaptureId, upTo, kMostItemsPerCopy);
            try {
                m_fileBatch.reserve(size_t(batch.end - batch.first));
                CDataItem scratch;
                for (int64_t i = batch.first; i < batch.end; ++i, ++count) {
                    const CDataItem& item = m_items.At(i, scratch);
                    if (count < m_fileBatch.size())
                        m_fileBatch[count] = item;
                    else
                        m_fileBatch.push_back(item);
                    m_fileBatch[count].SetTimeMicros(item.GetTimeMicros());
                }
            } catch (const std::bad_alloc&) {
                // Taken again at the next call, when there may be memory.
                m_fileFollower = before;
                throw;
            }
        }
        if (count == 0)
            break;
        // A file the disk refuses keeps the items for its next flush.
        int64_t appended = 0;
        try {
            for (size_t n = 0; n < count; ++n) {
                const CDataItem& item = m_fileBatch[n];
                for (const auto& file : m_files)
                    file->Append(item);
                ++m_nFileItems;
                m_nFileBytes += item.GetLength();
                ++appended;
            }
        } catch (const std::bad_alloc&) {
            std::lock_guard lock(m_csCapture);
            m_fileFollower.Seek(m_fileFollower.CaptureId(), batch.first + appended);
            throw;
        }
    }
    return FlushStreamedFiles(false);
}

bool CCaptureEngine::FlushStreamedFiles(bool sync)
{
    bool written = true;
    m_fileFailing.resize(m_files.size(), false);
    for (size_t i = 0; i < m_files.size(); ++i) {
        const bool ok = m_files[i]->Flush(sync);
        // Told once when a file starts failing (it is retried at every
        // visit) and once when it is written again.
        if (!ok && !m_fileFailing[i])
            m_fileNews.append(m_files[i]->ErrorText() + QStringLiteral("; retrying"));
        else if (ok && m_fileFailing[i])
            m_fileNews.append(QStringLiteral("%1 is written again; nothing was lost")
                                  .arg(QDir::toNativeSeparators(m_files[i]->CurrentPath())));
        if (!ok)
            m_strFileError = m_files[i]->ErrorText();
        m_fileFailing[i] = !ok;
        written = written && ok;
    }
    return written;
}

QStringList CCaptureEngine::TakeStreamedFileNews()
{
    return std::exchange(m_fileNews, {});
}
