#pragma once
// A capture model (the capture lock, an item list, a capture id and the text
// before the first entry) for the journal's writer to follow, a collector of
// its problem reports, and ways to look at the journals it writes.
#include "data/capture_journal.h"
#include "data/journal_reader.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <memory>

struct JournalModel {
    std::mutex lock;
    CDataItemArray items;
    uint64_t captureId = 0;
    QString prefix = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");

    CCaptureJournal::Source Source() { return {lock, items, captureId, prefix}; }

    void Add(const QByteArray& bytes, int kind = 0, const QString& name = QStringLiteral("12:34:56"),
             int64_t micros = 0)
    {
        CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        item.SetKind(kind);
        item.SetName(name);
        std::lock_guard guard(lock);
        const int index = items.Add(item);
        if (micros)
            items.ElementAt(index).SetTimeMicros(micros);
    }
    void Clear()
    {
        std::lock_guard guard(lock);
        items.RemoveAll();
        prefix.clear();
        ++captureId;
    }
};

inline QString StateFolder()
{
    return testing_support::TestDir() + QStringLiteral("/state/vantrel");
}

inline QStringList JournalNames(const QString& folder = StateFolder())
{
    return QDir(folder).entryList({QStringLiteral("*.vjournal")}, QDir::Files);
}

using testing_support::FileBytes;

// Collects the writer's problem reports (they come on its thread).
struct Reports {
    QMutex mutex;
    QStringList texts;
    CCaptureJournal::ProblemHandler Handler()
    {
        return [this](const QString& text) {
            QMutexLocker lock(&mutex);
            texts.append(text);
        };
    }
    QStringList All()
    {
        QMutexLocker lock(&mutex);
        return texts;
    }
};

inline JournalSummary ReadBytes(const QByteArray& bytes, std::vector<JournalItem>* items = nullptr,
                                std::vector<QByteArray>* data = nullptr)
{
    return ReadJournal(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                       [&](const JournalItem& item) {
                           if (items)
                               items->push_back(item);
                           if (data)
                               data->emplace_back(reinterpret_cast<const char*>(item.data), item.length);
                       });
}
