#include "data/output_text_index.h"

#include "data/item_rendering.h"

#include <QStringDecoder>

namespace {

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
    m_chars.clear();
    m_lines.clear();
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
    if ((m_size & (kBlockSize - 1)) == 0) {
        m_chars.emplace_back(new qint64[kBlockSize]);
        m_lines.emplace_back(new qint64[kBlockSize]);
    }
    m_chars.back()[m_size & (kBlockSize - 1)] = chars;
    m_lines.back()[m_size & (kBlockSize - 1)] = lines;
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

qint64 COutputTextIndex::FirstAtOrAbove(const Blocks& blocks, qint64 value, bool strictlyAbove) const
{
    qint64 lo = 0, hi = m_size;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        const qint64 v = At(blocks, mid);
        if (v > value || (!strictlyAbove && v == value))
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
    return FirstAtOrAbove(m_chars, qMax<qint64>(offset, 0), true) - 2;
}

qint64 COutputTextIndex::SegmentAtLine(qint64 line) const
{
    if (line >= m_lineStarts)
        return ItemCount();
    return FirstAtOrAbove(m_lines, qMax<qint64>(line, 0), true) - 2;
}

qint64 COutputTextIndex::MemoryBytes() const
{
    return qint64(sizeof(*this)) + qint64(m_chars.capacity() + m_lines.capacity()) * qint64(sizeof(m_chars[0])) +
           qint64(m_chars.size() + m_lines.size()) * kBlockSize * qint64(sizeof(qint64)) + m_buffer.capacity() * 2;
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
