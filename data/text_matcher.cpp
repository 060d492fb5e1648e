#include "data/text_matcher.h"

#include <QChar>
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

} // namespace

CTextMatcher::CTextMatcher(const QString& pattern, Qt::CaseSensitivity cs) : m_pattern(pattern), m_cs(cs)
{
    Prepare(m_pattern);
    m_matcher.setPattern(m_pattern);
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
    return m_matcher.indexIn(prepared, from);
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
