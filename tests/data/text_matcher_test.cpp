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
