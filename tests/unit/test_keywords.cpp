#include "untStrFunctions.h"

#include <gtest/gtest.h>

namespace {
int VariantCount(const QString& result)
{
    // "()" holds no variant; otherwise the commas separate count-1 places.
    if (result == QLatin1String("()"))
        return 0;
    return static_cast<int>(result.count(QLatin1Char(','))) + 1;
}
} // namespace

TEST(KeyboardNeighbour, RowsEndsAndOtherCharacters)
{
    struct Case
    {
        const char* c;
        const char* dir;
        const char* want;
    } cases[] = {
        {"s", "l", "a"}, {"s", "r", "d"}, {"q", "l", ""}, {"p", "r", ""},  {"a", "l", ""},
        {"l", "r", ""},  {"z", "l", ""},  {"m", "r", ""}, {"m", "l", "n"}, {"t", "x", "y"},
        {"S", "l", ""},  {"3", "r", ""},  {"é", "l", ""}, {"", "l", ""},   {"ab", "l", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeyboardNeighbour(QString::fromUtf8(c.c), QLatin1String(c.dir)),
                  QString::fromUtf8(c.want))
            << c.c << " " << c.dir;
}

TEST(MisspellingVariants, WorkedExampleAndPunctuation)
{
    const QString cat =
        QStringLiteral("(at,ct,ca,act,cta,ccat,caat,catt,cct,caa,cat,ct,cst,car,cay)");
    EXPECT_EQ(MisspellingVariants(QStringLiteral("Cat,")), cat);
    EXPECT_EQ(MisspellingVariants(QStringLiteral("cat.")), cat);
    EXPECT_EQ(MisspellingVariants(QStringLiteral("cat")), cat);
    EXPECT_EQ(MisspellingVariants(QStringLiteral("a")), QStringLiteral("(,aa,a)"));
}

TEST(MisspellingVariants, EmptyBlankAndExcludedOnly)
{
    for (const char* k : {"", "   ", "-case", "-a -b", "\"\""})
        EXPECT_EQ(MisspellingVariants(QString::fromUtf8(k)), QStringLiteral("()")) << k;
}

TEST(MisspellingVariants, WordsAreVariedOnTheirOwn)
{
    EXPECT_EQ(MisspellingVariants(QStringLiteral("ipod -case")),
              MisspellingVariants(QStringLiteral("ipod")));
    EXPECT_EQ(VariantCount(MisspellingVariants(QStringLiteral("ipod"))), 21);

    const QString ab = MisspellingVariants(QStringLiteral("ab"));
    const QString cd = MisspellingVariants(QStringLiteral("cd"));
    EXPECT_EQ(VariantCount(ab), 9);
    EXPECT_EQ(MisspellingVariants(QStringLiteral("ab cd")),
              ab.chopped(1) + QLatin1Char(',') + cd.mid(1));
}

TEST(MisspellingVariants, DigitsBlanksAndAccents)
{
    // Position 2 of "mp3" has no neighbour: both variants there drop the digit.
    const QStringList mp3 = MisspellingVariants(QStringLiteral("mp3")).mid(1).chopped(1).split(',');
    ASSERT_EQ(mp3.size(), 15);
    EXPECT_EQ(mp3.mid(11), QStringList({"mo3", "m3", "mp", "mp"}));

    // A quoted phrase is one word; the blank is doubled and neighboured as itself.
    const QStringList phrase =
        MisspellingVariants(QStringLiteral("\"ab c\"")).mid(1).chopped(1).split(',');
    ASSERT_EQ(phrase.size(), 21);
    EXPECT_EQ(phrase.at(7 + 2), QStringLiteral("ab c"));  // doubling at the blank
    EXPECT_EQ(phrase.at(15 + 2), QStringLiteral("ab c")); // neighbours at position 2
    EXPECT_EQ(phrase.at(15 + 3), QStringLiteral("ab c"));

    // The accented capital is not lower-cased and has no neighbour.
    const QStringList eclair =
        MisspellingVariants(QStringLiteral("Éclair")).mid(1).chopped(1).split(',');
    ASSERT_EQ(eclair.size(), 33);
    EXPECT_EQ(eclair.at(0), QStringLiteral("clair"));
    EXPECT_EQ(eclair.at(11), QStringLiteral("ÉÉclair"));
    EXPECT_EQ(eclair.at(17), QStringLiteral("ÉÉlair")); // forward copy at 0
}

TEST(MisspellingVariants, LongWordHasNoLimit)
{
    EXPECT_EQ(VariantCount(MisspellingVariants(QStringLiteral("abcdefghijklmnopqrst"))), 117);
}
