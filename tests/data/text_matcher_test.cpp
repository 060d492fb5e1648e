#include "data/text_matcher.h"

#include <QList>
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

TEST(TextMatcher, FindsWithAndWithoutRegardToCase)
{
    QString text = QStringLiteral("ok\r\nRec :ERROR 12, error 13, Error ärger ÄRGER");
    const CTextMatcher exact(QStringLiteral("Error"), Qt::CaseSensitive);
    exact.Prepare(text);
    EXPECT_EQ(exact.IndexIn(text, 0), text.indexOf(QStringLiteral("Error ")));
    EXPECT_EQ(exact.IndexIn(text, exact.IndexIn(text, 0) + 1), -1);

    QString anyCase = QStringLiteral("ok\r\nRec :ERROR 12, error 13, Error ärger ÄRGER");
    const CTextMatcher loose(QStringLiteral("eRRor"), Qt::CaseInsensitive);
    loose.Prepare(anyCase);
    QList<qsizetype> found;
    for (qsizetype at = loose.IndexIn(anyCase, 0); at >= 0; at = loose.IndexIn(anyCase, at + 1))
        found << at;
    EXPECT_EQ(found, QList<qsizetype>({9, 19, 29}));

    const CTextMatcher umlaut(QStringLiteral("ärger"), Qt::CaseInsensitive);
    QString again = QStringLiteral("ärger ÄRGER");
    umlaut.Prepare(again);
    EXPECT_EQ(umlaut.IndexIn(again, 1), 6);

    // One character takes its own path.
    const CTextMatcher colon(QStringLiteral(":"), Qt::CaseSensitive);
    EXPECT_EQ(colon.IndexIn(u"ab:c:", 3), 4);
    EXPECT_EQ(colon.IndexIn(u"ab:c:", 5), -1);
    EXPECT_TRUE(CTextMatcher().IsEmpty());
    EXPECT_EQ(CTextMatcher().IndexIn(u"abc", 0), -1);
}

} // namespace
