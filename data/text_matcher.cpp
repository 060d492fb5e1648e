#include "data/text_matcher.h"

#include <QChar>
#include <algorithm>
#include <cstring>

namespace {

// Eight UTF-16 code units at a time, through the compiler's portable vectors.
using Units = quint16 __attribute__((vector_size(16)));
constexpr qsizetype kUnitsPerVector = 8;

void FoldOne(char16_t* p, qsizetype i, qsizetype n)
{
    const char16_t c = p[i];
    if (c < 0x80) {
        if (c >= u'A' && c <= u'Z')
            p[i] = char16_t(c + 32);
    } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
        const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, p[i + 1]));
        if (QChar::requiresSurrogates(folded)) {  // never changes a character's length
            p[i] = QChar::highSurrogate(folded);
            p[i + 1] = QChar::lowSurrogate(folded);
        }
    } else if (!QChar::isSurrogate(c)) {
        p[i] = char16_t(QChar::toCaseFolded(char32_t(c)));
    }
}

// The first match of `pattern` (m >= 2 units) in `text` at or after `from`:
// its first, middle and last units are compared at eight places at once,
// and only where all three agree is the rest compared. Text of a serial
// line seldom has all three at the right distances, so this runs near the
// speed of memory, where a skip table goes a unit or two at a time through
// text full of the pattern's letters.
qsizetype FindByEnds(const char16_t* text, qsizetype n, const char16_t* pattern, qsizetype m, qsizetype from)
{
    const qsizetype lastStart = n - m;
    const qsizetype middle = m / 2;
    const size_t restBytes = size_t(m - 1) * sizeof(char16_t);
    const Units first = Units{} + pattern[0];
    const Units mid = Units{} + pattern[middle];
    const Units last = Units{} + pattern[m - 1];
    qsizetype i = from;
    for (; i + kUnitsPerVector - 1 <= lastStart; i += kUnitsPerVector) {
        Units a, b, c;
        std::memcpy(&a, text + i, sizeof a);
        std::memcpy(&b, text + i + middle, sizeof b);
        std::memcpy(&c, text + i + m - 1, sizeof c);
        const auto all = (a == first) & (b == mid) & (c == last);
        quint64 lanes[2];
        std::memcpy(lanes, &all, sizeof lanes);
        if (!(lanes[0] | lanes[1]))
            continue;
        for (qsizetype k = 0; k < kUnitsPerVector; ++k)
            if (all[k] && std::memcmp(text + i + k + 1, pattern + 1, restBytes) == 0)
                return i + k;
    }
    for (; i <= lastStart; ++i)
        if (text[i] == pattern[0] && std::memcmp(text + i + 1, pattern + 1, restBytes) == 0)
            return i;
    return -1;
}

} // namespace

CTextMatcher::CTextMatcher(const QString& pattern, Qt::CaseSensitivity cs) : m_pattern(pattern), m_cs(cs)
{
    Prepare(m_pattern);
}

void CTextMatcher::Prepare(QString& text) const
{
    if (m_cs == Qt::CaseInsensitive)
        FoldCase(text);
}

qsizetype CTextMatcher::IndexIn(QStringView prepared, qsizetype from) const
{
    if (m_pattern.isEmpty() || from >= prepared.size())
        return -1;
    // One character: a vectorised scan beats any skip table.
    if (m_pattern.size() == 1)
        return prepared.indexOf(m_pattern.front(), from);
    const QStringView pattern(m_pattern);
    return FindByEnds(prepared.utf16(), prepared.size(), pattern.utf16(), pattern.size(), std::max<qsizetype>(from, 0));
}

void CTextMatcher::FoldCase(QString& text)
{
    char16_t* p = reinterpret_cast<char16_t*>(text.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (; i + kUnitsPerVector <= n; i += kUnitsPerVector) {
        Units v;
        std::memcpy(&v, p + i, sizeof v);
        const Units high = v & quint16(0xff80);
        quint64 halves[2];
        std::memcpy(halves, &high, sizeof halves);
        if (halves[0] | halves[1]) {
            for (qsizetype k = 0; k < kUnitsPerVector; ++k)
                FoldOne(p, i + k, n);  // a low surrogate alone is left as it is
            continue;
        }
        const Units upper = (v - quint16(u'A')) < quint16(26);
        v += upper & quint16(32);
        std::memcpy(p + i, &v, sizeof v);
    }
    for (; i < n; ++i)
        FoldOne(p, i, n);
}
