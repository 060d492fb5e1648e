#include "data/output_text_index.h"

#include "data/item_rendering.h"

#include <QStringDecoder>
#include <limits>

namespace {

constexpr qint64 kNarrowMax = std::numeric_limits<uint32_t>::max();

char16_t Unit(QChar c) { return c.unicode(); }
char16_t Unit(uint8_t byte) { return byte; }

} // namespace

COutputTextIndex::COutputTextIndex()
{
    Reset(0, QString());
}

void COutputTextIndex::Reset(uint64_t captureId, const QString& prefixText)
{
    m_captureId = captureId;
    m_pages.clear();
    m_widePages = 0;
    m_size = 0;
    m_totalChars = 0;
    m_lineStarts = 0;
    m_endsInLineEnd = true;  // the first line starts at the start
    m_endsInCR = false;
    m_buffer = QString();
    Push(0, 0);
    ScanRange(prefixText.constData(), prefixText.size());
    m_totalChars = prefixText.size();
    Push(m_totalChars, m_lineStarts);  // where the first entry will start
}

void COutputTextIndex::Push(qint64 chars, qint64 lines)
{
    const int k = InPage(m_size);
    if (k == 0)
        m_pages.push_back(std::make_unique_for_overwrite<Page>());  // each value is written before it is read
    Page& page = *m_pages.back();
    const int group = k >> kGroupBits;
    const int inGroup = k & (kGroupSize - 1);
    if (inGroup == 0) {
        page.groupChars[group] = chars;
        page.groupLines[group] = lines;
        page.narrowEnd[group] = kGroupSize;
    }
    const qint64 charsFromGroup = chars - page.groupChars[group];
    const qint64 linesFromGroup = lines - page.groupLines[group];
    if (inGroup < page.narrowEnd[group] && charsFromGroup <= kNarrowMax && linesFromGroup <= kNarrowMax) {
        page.chars[k] = uint32_t(charsFromGroup);
        page.lines[k] = uint32_t(linesFromGroup);
    } else {
        // Values never decrease, so once one is too far from the group's
        // first value all those after it in the group are too.
        if (!page.wide) {
            page.wide = std::make_unique_for_overwrite<WideValues>();
            ++m_widePages;
        }
        page.narrowEnd[group] = uint8_t(std::min(int(page.narrowEnd[group]), inGroup));
        page.wide->chars[k] = chars;
        page.wide->lines[k] = lines;
    }
    ++m_size;
}

template <typename Char> void COutputTextIndex::ScanRange(const Char* text, qsizetype length)
{
    if (length <= 0)
        return;
    // The first character starts a line after a line end, unless it is the
    // "\n" that completes a "\r\n".
    if (m_endsInLineEnd && !(m_endsInCR && Unit(text[0]) == u'\n'))
        ++m_lineStarts;
    // Every line end that is not the last character starts a line after it:
    // each "\n", and each "\r" not followed by "\n".
    qint64 starts = 0;
    for (qsizetype j = 0; j + 1 < length; ++j) {
        const char16_t c = Unit(text[j]);
        const char16_t next = Unit(text[j + 1]);
        starts += (c == u'\n') | ((c == u'\r') & (next != u'\n'));
    }
    m_lineStarts += starts;
    const char16_t last = Unit(text[length - 1]);
    m_endsInCR = last == u'\r';
    m_endsInLineEnd = m_endsInCR || last == u'\n';
}

void COutputTextIndex::Append(const CDataItem& item)
{
    qint64 chars = kEntryPrefix.size();
    ScanRange(kEntryPrefix.constData(), kEntryPrefix.size());
    if (item.GetKind() == 1) {
        chars += qint64(item.GetLength()) * 3;  // hexadecimal text holds no line ends
    } else {
        const uint8_t* data = item.GetData();
        const int length = ChunkTextLength(data, item.GetLength());
        uint8_t high = 0;
        for (int i = 0; i < length; ++i)
            high |= data[i];
        if (high < 0x80) {
            chars += length;
        } else {
            // The decoded length, decoded exactly as the rendering does.
            QStringDecoder decoder(QStringConverter::System,
                                   QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
            const qsizetype space = decoder.requiredSpace(length);
            if (m_buffer.size() < space)
                m_buffer.resize(space);
            QChar* begin = m_buffer.data();
            chars += decoder.appendToBuffer(begin, QByteArrayView(data, length)) - begin;
        }
        // A line end is the same byte as the character it decodes to, and
        // no other byte becomes one, so the bytes tell where lines start.
        ScanRange(data, length);
    }
    m_totalChars += chars;
    Push(m_totalChars, m_lineStarts);  // where the next entry will start
}

template <bool ByLines> qint64 COutputTextIndex::FirstAbove(qint64 value) const
{
    // The first group whose first value is above `value`; the answer is in
    // the group before it, or is that group's first value.
    qint64 lo = 0, hi = (m_size + kGroupSize - 1) >> kGroupBits;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        const Page& page = PageOf(mid << kGroupBits);
        const int group = int(mid & (kGroupsPerPage - 1));
        if ((ByLines ? page.groupLines[group] : page.groupChars[group]) > value)
            hi = mid;
        else
            lo = mid + 1;
    }
    if (lo == 0)
        return 0;
    lo = (lo - 1) << kGroupBits;
    hi = std::min(m_size, lo + kGroupSize);
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if ((ByLines ? LinesAt(mid) : CharsAt(mid)) > value)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

qint64 COutputTextIndex::SegmentAtOffset(qint64 offset) const
{
    if (offset >= m_totalChars)
        return ItemCount();
    // The last segment starting at or before the offset: an empty segment
    // starts where the next one does and is passed over.
    return FirstAbove<false>(qMax<qint64>(offset, 0)) - 2;
}

qint64 COutputTextIndex::SegmentAtLine(qint64 line) const
{
    if (line >= m_lineStarts)
        return ItemCount();
    return FirstAbove<true>(qMax<qint64>(line, 0)) - 2;
}

qint64 COutputTextIndex::MemoryBytes() const
{
    return qint64(sizeof(*this)) + qint64(m_pages.capacity() * sizeof(m_pages[0])) +
           qint64(m_pages.size()) * qint64(sizeof(Page)) + m_widePages * qint64(sizeof(WideValues)) +
           m_buffer.capacity() * 2;
}

std::vector<int> COutputTextIndex::LineStartsIn(const QString& text, qint64 linesIn)
{
    std::vector<int> starts;
    if (linesIn <= 0)
        return starts;
    starts.reserve(size_t(linesIn));
    starts.push_back(0);  // replaced below when the first line starts later
    for (qsizetype j = 0; j + 1 < text.size(); ++j) {
        const QChar c = text[j];
        if (c == u'\n' || (c == u'\r' && text[j + 1] != u'\n'))
            starts.push_back(int(j + 1));
    }
    if (qint64(starts.size()) > linesIn)
        starts.erase(starts.begin());  // the text before did not end in a line end
    return starts;
}
