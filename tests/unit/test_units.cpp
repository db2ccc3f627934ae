#include "untCode.h"
#include "untDateFunctions.h"
#include "untHashesEncodings.h"
#include "untStrFunctions.h"

#include "untClock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SecondsToText, BuildsHoursMinutesAndSecondsPieces)
{
    const struct
    {
        qint32 seconds;
        const char* text;
    } cases[] = {
        {0, "0s"},          {59, "59s"},        {60, "1m 0s"},        {3599, "59m 59s"},
        {3600, "1h 0m 0s"}, {3605, "1h 0m 5s"}, {90061, "25h 1m 1s"}, {7260, "2h 1m 0s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SecondsToText(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

TEST(ParseEbayTime, ReadsFixedPositionsWithTwoMillisecondDigits)
{
    const struct
    {
        const char* text;
        QDateTime expected;
    } cases[] = {
        {"2009-06-20T23:59:58.999Z", QDateTime({2009, 6, 20}, {23, 59, 58, 99}, Qt::UTC)},
        {"2009-06-20T23:59:58.789Z", QDateTime({2009, 6, 20}, {23, 59, 58, 78}, Qt::UTC)},
        {"2009-06-20T00:00:00.000Z", QDateTime({2009, 6, 20}, {0, 0, 0, 0}, Qt::UTC)},
        // The separators are not looked at, and nothing after the second digit of the fraction.
        {"2012x02y29 12:34:56,05", QDateTime({2012, 2, 29}, {12, 34, 56, 5}, Qt::UTC)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseEbayTime(QString::fromLatin1(c.text)), c.expected) << c.text;
}

TEST(ParseEbayTime, RejectsShortNonDecimalAndInvalidTexts)
{
    for (const char* text :
         {"", "2009-06-20T23:59:58.9", "2009-06-20", "2009-0A-20T23:59:58.999Z",
          "2009-06-20T23:59:5 .999Z", "2009-02-30T10:00:00.000Z", "2009-13-01T10:00:00.000Z",
          "2009-06-20T24:00:00.000Z", "2009-06-20T23:60:00.000Z", "-009-06-20T23:59:58.999Z"}) {
        EXPECT_THROW(ParseEbayTime(QString::fromLatin1(text)), EConvertError) << text;
    }
}

TEST(SecondsBetween, IsSymmetricAndDropsTheFraction)
{
    const QDateTime a({2009, 6, 20}, {10, 0, 0, 0}, Qt::UTC);
    EXPECT_EQ(SecondsBetween(a, a.addMSecs(1900)), 1);
    EXPECT_EQ(SecondsBetween(a.addMSecs(1900), a), 1);
    EXPECT_EQ(SecondsBetween(a, a.addMSecs(999)), 0);
    EXPECT_EQ(SecondsBetween(a, a.addDays(40)), 40 * 86400);
    EXPECT_EQ(SecondsBetween(a.addDays(40), a), 40 * 86400);
}

class TFixedClock : public TClock
{
public:
    explicit TFixedClock(QDateTime now) : fNow(std::move(now)) {}
    QDateTime Now() const override { return fNow; }

private:
    QDateTime fNow;
};

TEST(EbayTimeToLocal, MovesTheDistanceOntoTheLocalClock)
{
    const TFixedClock clock(QDateTime({2020, 1, 1}, {12, 0, 0}));
    TClock::SetCurrent(&clock);
    const QString b = QStringLiteral("2009-06-20T10:10:00.000Z");
    // Ten minutes before the response time stamp: ten minutes ago.
    EXPECT_EQ(EbayTimeToLocal(QStringLiteral("2009-06-20T10:00:00.000Z"), b, false),
              QStringLiteral("01/01/2020 11:50:00"));
    // After it, asked as later: in the future; across midnight and a day boundary.
    EXPECT_EQ(EbayTimeToLocal(QStringLiteral("2009-06-21T22:10:30.500Z"), b, true),
              QStringLiteral("03/01/2020 00:00:30"));
    EXPECT_EQ(LocalTimeFromText(QStringLiteral("03/01/2020 00:00:30")),
              QDateTime({2020, 1, 3}, {0, 0, 30}));
    EXPECT_THROW(EbayTimeToLocal(QStringLiteral("not a time"), b, true), EConvertError);
    TClock::SetCurrent(nullptr);
}

TEST(SplitText, FollowsTheDelimitedListRules)
{
    const struct
    {
        char delimiter;
        const char* text;
        QStringList items;
    } cases[] = {
        {'|', R"(123|"Cell Phones")", {"123", "Cell Phones"}},
        {'|', "123|Cell Phones", {"123", "Cell", "Phones"}},
        {'|', "123|", {"123", ""}},
        {'|', "", {}},
        {'|', " \t\r\n ", {}},
        {'|', "a||b", {"a", "", "b"}},
        {'|', "  a  |  b  ", {"a", "b"}},
        {'|', "a| ", {"a"}},
        {' ', R"(ipod "nano 4gb")", {"ipod", "nano 4gb"}},
        {' ', R"("say ""hi""" x)", {R"(say "hi")", "x"}},
        {' ', R"(a "unclosed rest)", {"a", "unclosed rest"}},
        {',', "x,\"\",y", {"x", "", "y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QStringList list{QStringLiteral("left over")};
        SplitText(QLatin1Char(c.delimiter), QString::fromUtf8(c.text), &list);
        EXPECT_EQ(list, c.items);
    }
    QStringList list;
    SplitText(QLatin1Char('|'), QStringLiteral("ab") + QChar(0) + QStringLiteral("|cd"), &list);
    EXPECT_EQ(list, QStringList{QStringLiteral("ab")}) << "a character with code 0 ends the text";
}

TEST(WordCount, CountsItemsSplitOnBlanks)
{
    EXPECT_EQ(WordCount(QString()), 0);
    EXPECT_EQ(WordCount(QStringLiteral("    ")), 0);
    EXPECT_EQ(WordCount(QStringLiteral("  ipod   nano ")), 2);
    EXPECT_EQ(WordCount(QStringLiteral("ipod \"nano 4gb\"")), 2);
    EXPECT_EQ(WordCount(QStringLiteral("a\tb\nc")), 3);
}

TEST(HashesEncodings, KnownValues)
{
    EXPECT_EQ(Base64Encode(QStringLiteral("()")), QStringLiteral("KCk="));
    EXPECT_EQ(Base64Encode(QString(QChar(0x00E9))), QStringLiteral("6Q=="));
    EXPECT_EQ(Base64Encode(QString(QChar(0x0141))), QStringLiteral("QQ==")) << "low byte only";
    EXPECT_EQ(Base64Encode(QString()), QString());
    EXPECT_EQ(Base64Encode(QStringLiteral("ipod nano")), QStringLiteral("aXBvZCBuYW5v"));

    EXPECT_EQ(Sha1Hex(QStringLiteral("abc")),
              QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(Sha1Hex(QString()), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    EXPECT_EQ(Sha1Hex(QStringLiteral("The quick brown fox jumps over the lazy dog")),
              QStringLiteral("2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"));
}

TEST(RandomToken, IsTwelveLettersAndDigitsAndVaries)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Z0-9]{12}$"));
    QSet<QString> seen;
    int letters = 0;
    int digits = 0;
    for (int i = 0; i < 500; ++i) {
        const QString token = RandomToken();
        ASSERT_TRUE(shape.match(token).hasMatch()) << token.toStdString();
        seen.insert(token);
        for (const QChar c : token)
            (c.isDigit() ? digits : letters) += 1;
    }
    EXPECT_EQ(seen.size(), 500);
    // A fair coin: about half of the 6000 characters each way.
    EXPECT_GT(letters, 2500);
    EXPECT_GT(digits, 2500);
}

TEST(SaveTextToFile, WritesCrLfLinesOrReportsFailure)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    const struct
    {
        const char* text;
        QByteArray bytes;
    } cases[] = {
        {"", ""},
        {"one", "one\r\n"},
        {"a\nb", "a\r\nb\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\n\nb\rc", "a\r\n\r\nb\r\nc\r\n"},
        {"caf\xc3\xa9", "caf\xc3\xa9\r\n"},
    };
    {
        QFile longer(path);
        ASSERT_TRUE(longer.open(QIODevice::WriteOnly));
        longer.write(QByteArray(1000, 'x'));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(SaveTextToFile(path, QString::fromUtf8(c.text)));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.bytes);
    }

    const QString missing = dir.filePath(QStringLiteral("no/such/folder/out.txt"));
    EXPECT_FALSE(SaveTextToFile(missing, QStringLiteral("text")));
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("no"))).exists());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.txt")});
}

} // namespace
