#include "data/text_matcher.h"

#include <gtest/gtest.h>

namespace {

QString folded(QString text)
{
    CTextMatcher::FoldCase(text);
    return text;
}

TEST(TextMatcher, FoldsCaseAsQtDoesInAsciiAndBeyond)
{
    // Upper case, accents, final sigma, dotted capital I, sharp s (kept one
    // character long), a character outside the basic plane whose pair of
    // code units straddles the eight-unit blocks.
    const QString mixed = QStringLiteral("Rec :HELLO World [\\]^_`@AZaz{ ÄÖÜ ΣΑΣ İ ß ") + QChar(0xD801) +
                          QChar(0xDC00) + QStringLiteral("x");
    for (int shift = 0; shift < 9; ++shift) {
        const QString text = QString(shift, QLatin1Char('Q')) + mixed;
        EXPECT_EQ(folded(text), text.toCaseFolded()) << shift;
        EXPECT_EQ(folded(text).size(), text.size()) << shift;
    }
    EXPECT_EQ(folded(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ@[")), QStringLiteral("abcdefghijklmnopqrstuvwxyz@["));
    // Lone halves of a pair stay as they are: positions must not move.
    const QString lone = QChar(0xDC00) + QStringLiteral("ABCDEFGH") + QChar(0xD801);
    EXPECT_EQ(folded(lone), QChar(0xDC00) + QStringLiteral("abcdefgh") + QChar(0xD801));
}

} // namespace

namespace {

std::vector<qsizetype> AllMatches(const CTextMatcher& matcher, QString text)
{
    matcher.Prepare(text);
    std::vector<qsizetype> found;
    for (qsizetype at = matcher.IndexIn(text, 0); at >= 0; at = matcher.IndexIn(text, at + 1))
        found.push_back(at);
    return found;
}

std::vector<qsizetype> AllMatchesByQt(const QString& text, const QString& pattern, Qt::CaseSensitivity cs)
{
    std::vector<qsizetype> found;
    for (qsizetype at = text.indexOf(pattern, 0, cs); at >= 0; at = text.indexOf(pattern, at + 1, cs))
        found.push_back(at);
    return found;
}

} // namespace

TEST(TextMatcher, FindsEveryMatchQtFindsAtEveryPlaceInTheText)
{
    // Text lengths around the eight units compared at once, matches at the
    // very start and end, overlapping ones, and first, middle and last units
    // that often agree without a match.
    const struct {
        QString pattern;
        Qt::CaseSensitivity cs;
        QString unit;  // repeated to make the text
    } cases[] = {
        {QStringLiteral("ab"), Qt::CaseSensitive, QStringLiteral("xab")},
        {QStringLiteral("abcde"), Qt::CaseSensitive, QStringLiteral("aXcde abcde abcdX ")},
        {QStringLiteral("aa"), Qt::CaseSensitive, QStringLiteral("a")},
        {QStringLiteral("checksum"), Qt::CaseSensitive, QStringLiteral("cm checksum checksun ")},
        {QStringLiteral("CHECKSUM"), Qt::CaseInsensitive, QStringLiteral("ChEcKsUm c...m ")},
        {QStringLiteral("0d 0a"), Qt::CaseInsensitive, QStringLiteral("0D 0A 0d 0b ")},
        {QStringLiteral("Straße"), Qt::CaseInsensitive, QStringLiteral("STRASSE straße STRAßE ")},
        {QStringLiteral("no such text"), Qt::CaseSensitive, QStringLiteral("no such tex no such text")},
    };
    for (const auto& c : cases) {
        const CTextMatcher matcher(c.pattern, c.cs);
        for (int length = 0; length < 70; ++length) {
            const QString text = c.unit.repeated(length / c.unit.size() + 1).left(length);
            QString folded = text;
            CTextMatcher::FoldCase(folded);
            QString pattern = c.pattern;
            if (c.cs == Qt::CaseInsensitive)
                CTextMatcher::FoldCase(pattern);
            EXPECT_EQ(AllMatches(matcher, text),
                      AllMatchesByQt(c.cs == Qt::CaseInsensitive ? folded : text, pattern, Qt::CaseSensitive))
                << qPrintable(c.pattern) << " in " << qPrintable(text);
        }
    }
}
