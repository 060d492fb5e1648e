#pragma once
// Searches the output area's whole text for a literal pattern on a worker
// thread, so neither the user-interface thread nor the capture ever waits for
// a scan. The worker reads the text piece by piece (taking the capture lock
// only while a piece is rendered), counts the matches, and finds the next or
// previous match from a position, wrapping around at either end. Matches may
// cross item boundaries; overlapping matches all count ("aa" twice in "aaa").
//
// A new pattern or case rule drops the scan under way and starts another;
// text that grows extends the count without starting over; Clear Output
// starts over. Results come back through queued signals, and a result that a
// newer request has overtaken is never delivered.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class COutputTextSource;

class CCaptureSearch : public QObject {
    Q_OBJECT
public:
    // `text` must outlive this object.
    explicit CCaptureSearch(const COutputTextSource& text, QObject* parent = nullptr);
    ~CCaptureSearch() override;

    // Starts counting `pattern`; an empty pattern stops searching.
    void SetPattern(const QString& pattern, Qt::CaseSensitivity cs);
    // The first match that starts after `after` (-1: the first of all),
    // wrapping around to the first one.
    void FindNext(qint64 after);
    // The last match that starts before `before`, wrapping around to the last.
    void FindPrevious(qint64 before);
    // The text grew or was cleared: the count follows it.
    void TextChanged();

signals:
    // `complete` is false while the scan has not reached the end of the text.
    void countChanged(qint64 count, bool complete);
    // `number` counts from 1, in the order of the text.
    void matchFound(qint64 start, qint64 length, qint64 number);
    void matchNotFound();
    // The text was cleared: positions from before mean nothing now.
    void textRestarted();

private:
    enum class Direction { None, Next, Previous };
    struct Request {
        quint64 generation = 0;  // bumped by every SetPattern
        QString pattern;
        Qt::CaseSensitivity cs = Qt::CaseSensitive;
        quint64 findSerial = 0;  // bumped by every FindNext/FindPrevious
        Direction direction = Direction::None;
        qint64 position = -1;
    };
    class Worker;

    void Run();
    void Post(std::function<void()> deliver);
    void Wake(const std::function<void(Request&)>& change);

    const COutputTextSource& m_text;
    std::unique_ptr<Worker> m_worker;  // touched by the worker thread only

    // Shared with the worker, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Request m_request;
    bool m_bDirty = false;
    bool m_bQuit = false;

    // The requests' serials as the user-interface thread sees them.
    quint64 m_nGeneration = 0;
    quint64 m_nFindSerial = 0;

    std::thread m_thread;
};
