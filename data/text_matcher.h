#pragma once
// Finds a literal pattern in text, with or without regard to case. Text is
// prepared once (case folded in place when case does not matter) and then
// scanned by comparing the pattern's first, middle and last units at eight
// places at once; folding keeps every character's length, so a position in
// the prepared text is a position in the original.
#include <QString>
#include <QStringView>

class CTextMatcher {
public:
    CTextMatcher() = default;
    CTextMatcher(const QString& pattern, Qt::CaseSensitivity cs);

    bool IsEmpty() const { return m_pattern.isEmpty(); }
    qsizetype PatternLength() const { return m_pattern.size(); }
    Qt::CaseSensitivity CaseSensitivity() const { return m_cs; }

    // Makes `text` ready for IndexIn (folds its case when case does not matter).
    void Prepare(QString& text) const;
    // The first match at or after `from` in prepared text, -1 when none.
    qsizetype IndexIn(QStringView prepared, qsizetype from) const;

    // Simple Unicode case folding in place, as QString::toCaseFolded does it,
    // with a fast path for ASCII (the common case in a serial capture).
    static void FoldCase(QString& text);

private:
    QString m_pattern;  // prepared like the text
    Qt::CaseSensitivity m_cs = Qt::CaseSensitive;
};
