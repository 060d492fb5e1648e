#pragma once
// One capture file written while the capture runs: items are added as they
// are recorded and written at every Flush, so a reader following the file
// sees them within moments; they reach stable storage at least once a
// second. A file the disk refuses keeps what it could not write, and writes
// it, once, at a later Flush when the disk takes data again. Optionally rotated (data/file_rotation.h):
// the parts, read one after the other, hold exactly the bytes of one file.
// "-" stands for standard output, which is never rotated or closed.
#include "data/capture_formats.h"
#include "data/file_rotation.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class CStreamedCaptureFile {
public:
    CStreamedCaptureFile(CaptureFormat format, const QString& path, const SplitRule& rule = {});
    ~CStreamedCaptureFile();
    CStreamedCaptureFile(const CStreamedCaptureFile&) = delete;
    CStreamedCaptureFile& operator=(const CStreamedCaptureFile&) = delete;

    // Items go through `formatter` instead of the format's own writer, and
    // `prefix` takes the place of the format's prefix; set before Open.
    using ItemFormatter = std::function<QByteArray(const CDataItem&)>;
    void SetFormatter(ItemFormatter formatter, const QByteArray& prefix);

    // An unrotated file that already holds something is moved aside by
    // Open instead of being replaced (KeptEarlierPath); set before Open.
    void SetKeepEarlier(bool keep) { m_bKeepEarlier = keep; }
    // Creates the first file (replacing an unrotated one, as Save does,
    // unless SetKeepEarlier asked otherwise; a rotated part never replaces
    // an existing file) and writes the format's prefix. `startSeconds`
    // names the first part.
    bool Open(const QString& outputPrefix, int64_t startSeconds);
    // Adds one item; a rotated file moves on to its next part first when
    // the item would take the part past its size or belongs to a new period.
    bool Append(const CDataItem& item);
    // Writes what was added; with `sync`, or when the last sync is a second
    // old, makes sure it is on the disk. False while the disk refuses it.
    bool Flush(bool sync = false);
    // The last write or flush failed; what it held is kept for the next.
    bool Failing() const { return m_bFailing; }
    // The items appended so far that are on the disk; for output that
    // cannot be synced (a pipe, a terminal), those written to it.
    int64_t DurableItems() const { return m_nDurableItems; }
    // Whether the output can be synced to a disk at all.
    bool CanSync() const { return !m_bUnsyncable; }

    // The reason of the last failure, with the file's name, in one line.
    QString ErrorText() const { return m_strError; }
    QString CurrentPath() const { return m_strCurrentPath; }
    // Where Open moved what the path held before this run; empty if it
    // moved nothing.
    QString KeptEarlierPath() const { return m_strKeptPath; }
    int PartCount() const { return m_nParts; }
    bool IsStandardOutput() const { return m_strPath == QLatin1String("-"); }

private:
    bool OpenPart(int64_t startSeconds);
    bool MoveEarlierFileAside();
    bool ClosePart();
    bool Fail(const QString& action, int error);

    CaptureFormat m_format;
    ItemFormatter m_formatter;
    QByteArray m_prefix;
    QString m_strPath;
    SplitRule m_rule;
    int m_fd = -1;
    QString m_strCurrentPath;
    QString m_strKeptPath;
    bool m_bKeepEarlier = false;
    QByteArray m_pending;      // added, not yet written
    int64_t m_nPartBytes = 0;  // the current part's size, pending bytes included
    int64_t m_nPeriod = 0;     // the start of the current part's hour or day
    int m_nParts = 0;
    int64_t m_nNextPartStart = 0;  // names a part that could not be created yet
    bool m_bDirty = false;         // written since the last sync
    int64_t m_nLastSyncMs = 0;     // steady clock
    bool m_bFailing = false;
    QString m_strError;
    int64_t m_nAppendedItems = 0;
    int64_t m_nDurableItems = 0;
    bool m_bUnsyncable = false;
    int64_t m_nLastPartSeconds = -1;  // the start second and serial number of the newest part
    int m_nLastSerial = 0;
    std::vector<QString> m_keptParts;  // the parts of this run, oldest first, under a --keep rule
};
