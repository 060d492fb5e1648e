#include "data/capture_search.h"

#include "data/output_text_source.h"
#include "data/text_matcher.h"

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

namespace {

// About how much text one read renders: long enough that the matcher runs at
// full speed, short enough that the capture lock is held only briefly and a
// new request is noticed within a fraction of a millisecond.
constexpr qint64 kPieceChars = 64 * 1024;
constexpr int kMaxItemsPerPiece = 1 << 16;
// How often a count still under way is shown.
constexpr qint64 kProgressIntervalMs = 100;

} // namespace

// The scan itself, on the worker thread. It walks the text once from the
// start, piece by piece, and remembers the stretches ("windows") of text that
// hold matches and how many; finding a match reads one window again.
class CCaptureSearch::Worker {
public:
    Worker(CCaptureSearch& owner, const COutputTextSource& text) : m_owner(owner), m_text(text) {}

    // One step of work for `request`; false when nothing is left to do.
    bool Step(const Request& request);

private:
    // Text [start, end) and the matches that lie wholly inside it and not in
    // the window before. Windows overlap by less than a pattern's length.
    struct Window {
        qint64 start = 0;
        qint64 end = 0;
        qint64 matches = 0;
    };
    enum class Answer { NotYet, Found, None, Retry };

    void StartOver(uint64_t captureId);
    bool ScanPiece(const COutputTextSource::Extent& extent);
    bool MatchesIn(const Window& window, std::vector<qint64>& starts) const;
    Answer FindNext(qint64 after, bool complete);
    Answer FindPrevious(qint64 before, bool complete);
    void PostFound(qint64 start, qint64 number);
    void PostNotFound();
    void PostCount(bool complete);

    CCaptureSearch& m_owner;
    const COutputTextSource& m_text;

    quint64 m_generation = 0;
    bool m_bStarted = false;  // a request has been seen
    CTextMatcher m_matcher;
    quint64 m_findSerial = 0;  // the request being answered
    quint64 m_answeredFind = 0;

    bool m_bHaveCapture = false;
    bool m_bStale = false;  // the scan so far no longer fits the text or the pattern
    uint64_t m_captureId = 0;
    std::vector<Window> m_windows;
    qint64 m_nMatches = 0;
    qint64 m_scannedEnd = 0;  // where the next piece starts
    qint64 m_nextItem = -1;   // the next item to read; -1 is the text before the first
    int m_itemsPerPiece = 64;
    QString m_carry;  // the last PatternLength()-1 characters scanned, prepared

    qint64 m_postedCount = -1;
    bool m_bPostedComplete = false;
    QElapsedTimer m_sincePost;
};

bool CCaptureSearch::Worker::Step(const Request& request)
{
    if (!m_bStarted || request.generation != m_generation) {
        m_bStarted = true;
        m_generation = request.generation;
        m_matcher = CTextMatcher(request.pattern, request.cs);
        m_bStale = true;
    }
    if (m_matcher.IsEmpty())
        return false;

    const COutputTextSource::Extent extent = m_text.CurrentExtent();
    if (!m_bHaveCapture || m_bStale || extent.captureId != m_captureId) {
        const bool cleared = m_bHaveCapture && extent.captureId != m_captureId;
        StartOver(extent.captureId);
        if (cleared) {
            CCaptureSearch* owner = &m_owner;
            const quint64 generation = m_generation;
            m_owner.Post([owner, generation] {
                if (generation == owner->m_nGeneration)
                    emit owner->textRestarted();
            });
        }
    }
    const bool complete = m_nextItem >= extent.items;

    if (request.direction != Direction::None && request.findSerial != m_answeredFind) {
        m_findSerial = request.findSerial;
        const Answer answer = request.direction == Direction::Next ? FindNext(request.position, complete)
                                                                   : FindPrevious(request.position, complete);
        if (answer == Answer::Retry)
            return false;  // the text is being cleared: wait for the catch-up that follows
        if (answer != Answer::NotYet) {
            m_answeredFind = request.findSerial;
            return true;
        }
    }
    if (!complete) {
        if (!ScanPiece(extent))
            return false;  // as above
        if (m_sincePost.elapsed() >= kProgressIntervalMs)
            PostCount(false);
        return true;
    }
    PostCount(true);
    return false;
}

void CCaptureSearch::Worker::StartOver(uint64_t captureId)
{
    m_bHaveCapture = true;
    m_bStale = false;
    m_captureId = captureId;
    m_windows.clear();
    m_nMatches = 0;
    m_scannedEnd = 0;
    m_nextItem = -1;
    m_carry.clear();
    m_postedCount = -1;
    m_bPostedComplete = false;
    m_sincePost.start();
}

bool CCaptureSearch::Worker::ScanPiece(const COutputTextSource::Extent& extent)
{
    // Never past the extent seen, so the piece holds exactly `count` items.
    const int count = int(std::min<qint64>(m_itemsPerPiece, extent.items - m_nextItem));
    OutputTextPiece piece;
    if (!m_text.ReadPiece(m_captureId, m_nextItem, count, piece) || piece.start != m_scannedEnd) {
        m_bStale = true;  // the text changed under the scan: start over
        return false;
    }
    const qint64 end = piece.start + piece.text.size();
    const qsizetype pieceChars = piece.text.size();
    m_matcher.Prepare(piece.text);
    const QString& text = piece.text;
    // The carried tail and the piece's first units find the matches that
    // cross into this piece, without copying the piece behind the tail.
    const qint64 start = piece.start - m_carry.size();
    const qsizetype tail = m_matcher.PatternLength() - 1;
    qint64 matches = 0;
    if (!m_carry.isEmpty()) {
        QString joint = m_carry;
        joint += QStringView(text).left(std::min(tail, text.size()));
        for (qsizetype at = m_matcher.IndexIn(joint, 0); at >= 0 && at < m_carry.size(); at = m_matcher.IndexIn(joint, at + 1))
            ++matches;
    }
    for (qsizetype at = m_matcher.IndexIn(text, 0); at >= 0; at = m_matcher.IndexIn(text, at + 1))
        ++matches;
    if (matches > 0) {
        m_windows.push_back({start, end, matches});
        m_nMatches += matches;
    }
    m_carry = text.size() >= tail ? text.right(tail) : (m_carry + text).right(tail);
    m_nextItem += count;
    m_scannedEnd = end;
    const qint64 charsPerItem = std::max<qint64>(1, pieceChars / std::max(count, 1));
    m_itemsPerPiece = int(std::clamp<qint64>(kPieceChars / charsPerItem, 1, kMaxItemsPerPiece));
    return true;
}

bool CCaptureSearch::Worker::MatchesIn(const Window& window, std::vector<qint64>& starts) const
{
    const qint64 first = m_text.ItemAtOffset(m_captureId, window.start);
    const qint64 last = m_text.ItemAtOffset(m_captureId, window.end - 1);
    OutputTextPiece piece;
    if (first < -1 || last < first || !m_text.ReadPiece(m_captureId, first, last - first + 1, piece) ||
        piece.start > window.start || piece.start + piece.text.size() < window.end)
        return false;
    QString text = piece.text.mid(window.start - piece.start, window.end - window.start);
    m_matcher.Prepare(text);
    starts.clear();
    for (qsizetype at = m_matcher.IndexIn(text, 0); at >= 0; at = m_matcher.IndexIn(text, at + 1))
        starts.push_back(window.start + at);
    return !starts.empty();
}

CCaptureSearch::Worker::Answer CCaptureSearch::Worker::FindNext(qint64 after, bool complete)
{
    // A window can hold a match starting after `after` only if it ends past
    // after + length. Every match before the end of the scan is known, and
    // an unknown one lies beyond every known one.
    const qint64 length = m_matcher.PatternLength();
    auto window = std::partition_point(m_windows.begin(), m_windows.end(),
                                       [&](const Window& w) { return w.end - length <= after; });
    qint64 before = 0;
    for (auto w = m_windows.begin(); w != window; ++w)
        before += w->matches;
    std::vector<qint64> starts;
    for (; window != m_windows.end(); ++window) {
        if (!MatchesIn(*window, starts)) {
            m_bStale = true;
            return Answer::Retry;
        }
        const auto match = std::upper_bound(starts.begin(), starts.end(), after);
        if (match != starts.end()) {
            PostFound(*match, before + (match - starts.begin()) + 1);
            return Answer::Found;
        }
        before += window->matches;
    }
    if (!complete)
        return Answer::NotYet;
    if (m_windows.empty()) {
        PostNotFound();
        return Answer::None;
    }
    if (!MatchesIn(m_windows.front(), starts)) {
        m_bStale = true;
        return Answer::Retry;
    }
    PostFound(starts.front(), 1);
    return Answer::Found;
}

CCaptureSearch::Worker::Answer CCaptureSearch::Worker::FindPrevious(qint64 before, bool complete)
{
    // Every match starting before `before` is known once the scan has passed
    // before + length - 1 (`before` may be the largest position there is).
    const qint64 length = m_matcher.PatternLength();
    if (!complete && m_scannedEnd - (length - 1) < before)
        return Answer::NotYet;
    auto window = std::partition_point(m_windows.begin(), m_windows.end(),
                                       [&](const Window& w) { return w.start < before; });
    qint64 preceding = 0;
    for (auto w = m_windows.begin(); w != window; ++w)
        preceding += w->matches;
    std::vector<qint64> starts;
    while (window != m_windows.begin()) {
        --window;
        preceding -= window->matches;
        if (!MatchesIn(*window, starts)) {
            m_bStale = true;
            return Answer::Retry;
        }
        const auto match = std::lower_bound(starts.begin(), starts.end(), before);
        if (match != starts.begin()) {
            PostFound(*(match - 1), preceding + (match - starts.begin()));
            return Answer::Found;
        }
    }
    if (!complete)
        return Answer::NotYet;
    if (m_windows.empty()) {
        PostNotFound();
        return Answer::None;
    }
    if (!MatchesIn(m_windows.back(), starts)) {
        m_bStale = true;
        return Answer::Retry;
    }
    PostFound(starts.back(), m_nMatches);
    return Answer::Found;
}

void CCaptureSearch::Worker::PostFound(qint64 start, qint64 number)
{
    CCaptureSearch* owner = &m_owner;
    const quint64 generation = m_generation;
    const quint64 serial = m_findSerial;
    const qint64 length = m_matcher.PatternLength();
    m_owner.Post([=] {
        if (generation == owner->m_nGeneration && serial == owner->m_nFindSerial)
            emit owner->matchFound(start, length, number);
    });
}

void CCaptureSearch::Worker::PostNotFound()
{
    CCaptureSearch* owner = &m_owner;
    const quint64 generation = m_generation;
    const quint64 serial = m_findSerial;
    m_owner.Post([=] {
        if (generation == owner->m_nGeneration && serial == owner->m_nFindSerial)
            emit owner->matchNotFound();
    });
}

void CCaptureSearch::Worker::PostCount(bool complete)
{
    if (m_postedCount == m_nMatches && m_bPostedComplete == complete)
        return;
    m_postedCount = m_nMatches;
    m_bPostedComplete = complete;
    m_sincePost.start();
    CCaptureSearch* owner = &m_owner;
    const quint64 generation = m_generation;
    const qint64 count = m_nMatches;
    m_owner.Post([=] {
        if (generation == owner->m_nGeneration)
            emit owner->countChanged(count, complete);
    });
}

CCaptureSearch::CCaptureSearch(const COutputTextSource& text, QObject* parent)
    : QObject(parent), m_text(text), m_worker(std::make_unique<Worker>(*this, text))
{
    m_thread = std::thread(&CCaptureSearch::Run, this);
}

CCaptureSearch::~CCaptureSearch()
{
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CCaptureSearch::SetPattern(const QString& pattern, Qt::CaseSensitivity cs)
{
    const quint64 generation = ++m_nGeneration;
    Wake([&](Request& request) {
        request.generation = generation;
        request.pattern = pattern;
        request.cs = cs;
        request.direction = Direction::None;
    });
}

void CCaptureSearch::FindNext(qint64 after)
{
    const quint64 serial = ++m_nFindSerial;
    Wake([&](Request& request) {
        request.findSerial = serial;
        request.direction = Direction::Next;
        request.position = after;
    });
}

void CCaptureSearch::FindPrevious(qint64 before)
{
    const quint64 serial = ++m_nFindSerial;
    Wake([&](Request& request) {
        request.findSerial = serial;
        request.direction = Direction::Previous;
        request.position = before;
    });
}

void CCaptureSearch::TextChanged()
{
    Wake([](Request&) {});
}

void CCaptureSearch::Wake(const std::function<void(Request&)>& change)
{
    {
        std::lock_guard lock(m_mutex);
        change(m_request);
        m_bDirty = true;
    }
    m_wake.notify_one();
}

void CCaptureSearch::Post(std::function<void()> deliver)
{
    // Runs on this object's thread; dropped if the object is gone by then.
    QMetaObject::invokeMethod(this, std::move(deliver), Qt::QueuedConnection);
}

void CCaptureSearch::Run()
{
    std::unique_lock lock(m_mutex);
    bool more = false;
    for (;;) {
        if (!more)
            m_wake.wait(lock, [this] { return m_bQuit || m_bDirty; });
        if (m_bQuit)
            return;
        m_bDirty = false;
        const Request request = m_request;
        lock.unlock();
        more = m_worker->Step(request);
        lock.lock();
    }
}
