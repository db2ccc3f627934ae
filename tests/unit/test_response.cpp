#include "SearchAnswers.h"
#include "TestClock.h"
#include "untDateFunctions.h"
#include "untSearchResponse.h"

#include <gtest/gtest.h>

namespace {
const QDateTime kTs(QDate(2026, 1, 1), QTime(12, 0, 0), Qt::UTC);
const QString kTsText = QStringLiteral("2026-01-01T12:00:00.000Z");

QString At(int secondsFromTs)
{
    return EbayTime(kTs.addSecs(secondsFromTs));
}

TCannedItem Item(const QString& id, int endFromTs = 600, int startFromTs = -600)
{
    TCannedItem item;
    item.id = id;
    item.start = At(startFromTs);
    item.end = At(endFromTs);
    return item;
}
} // namespace

TEST(ParseSearchAnswer, ReadsItemsByName)
{
    TCannedItem a = Item(QStringLiteral("1"));
    a.title = QStringLiteral("Fish & <Chips>");
    a.gallery = QStringLiteral("HTTP://img/x.jpg");
    a.currency = QStringLiteral("GBP");
    a.buyNow = QStringLiteral("9.99");
    TCannedItem b = Item(QStringLiteral("2"));
    b.currency.clear(); // carries GBP from the item before
    b.gallery = QStringLiteral("http://a/http://b.jpg");
    QString xml = AnswerXml(kTsText, {a, b}, QStringLiteral("2"));
    // A second group, other children beside the items, a repeated field: the later one wins.
    xml.replace(QStringLiteral("</ItemArray>"),
                QStringLiteral("</ItemArray><Junk/><ItemArray><Other/><Item><ItemID>3</ItemID>"
                               "<ItemID>4</ItemID><ConvertedCurrentPrice currencyID=\"EUR\">5"
                               "</ConvertedCurrentPrice></Item></ItemArray>"));

    const TSearchAnswer answer = ParseSearchAnswer(xml);
    ASSERT_TRUE(answer.problem.isEmpty()) << answer.problem.toStdString();
    EXPECT_EQ(answer.timestamp, kTsText);
    ASSERT_EQ(answer.items.size(), 3u);
    EXPECT_EQ(answer.items[0].title, QStringLiteral("Fish & <Chips>"));
    EXPECT_EQ(answer.items[0].picture, QStringLiteral("img/x.jpg"));
    EXPECT_EQ(answer.items[0].currency, QStringLiteral("GBP"));
    EXPECT_EQ(answer.items[0].buyNowPrice, QStringLiteral("9.99"));
    EXPECT_EQ(answer.items[0].startTime, At(-600));
    EXPECT_EQ(answer.items[0].endTime, At(600));
    EXPECT_EQ(answer.items[0].itemUrl, QStringLiteral("http://item.example/1"));
    EXPECT_EQ(answer.items[1].currency, QStringLiteral("GBP"));
    EXPECT_EQ(answer.items[1].picture, QStringLiteral("a/b.jpg"));
    EXPECT_TRUE(answer.items[1].buyNowPrice.isEmpty());
    EXPECT_EQ(answer.items[2].ebayId, QStringLiteral("4"));
    EXPECT_EQ(answer.items[2].currency, QStringLiteral("EUR"));
    EXPECT_EQ(answer.totalItems.value_or(QString()), QStringLiteral("2"));
}

TEST(ParseSearchAnswer, UnreadableAnswers)
{
    const QString good = AnswerXml(kTsText, {Item(QStringLiteral("1"))});
    QString moved = good;
    moved.replace(QStringLiteral("<Ack>Success</Ack>"), QString());
    moved.replace(QStringLiteral("<Build>1</Build>"),
                  QStringLiteral("<Build>1</Build><Ack>Success</Ack>"));
    QString noTs = good;
    noTs.replace(QStringLiteral("<Timestamp>") + kTsText + QStringLiteral("</Timestamp>"),
                 QStringLiteral("<Stamp>x</Stamp>"));
    const struct
    {
        const char* name;
        QString text;
        bool wellFormed;
    } cases[] = {
        {"not XML", QStringLiteral("this is not xml at all, just a long text"), false},
        {"cut off", good.left(good.size() / 2), false},
        {"four children",
         QStringLiteral("<R><Timestamp>") + kTsText + "</Timestamp><A/><B/><C/></R>", true},
        {"no Timestamp first", noTs, true},
        {"Timestamp not first",
         QStringLiteral("<R><A/><Timestamp>") + kTsText + "</Timestamp><B/><C/><D/></R>", true},
        {"bad time text",
         QString(good).replace(kTsText, QStringLiteral("2026-13-45T99:00:00.000Z")), true},
    };
    for (const auto& c : cases) {
        const TSearchAnswer answer = ParseSearchAnswer(c.text);
        EXPECT_FALSE(answer.problem.isEmpty()) << c.name;
        EXPECT_EQ(answer.wellFormed, c.wellFormed) << c.name;
        EXPECT_TRUE(answer.items.empty()) << c.name;
    }
    EXPECT_TRUE(ParseSearchAnswer(moved).problem.isEmpty()); // positions 1 to 3 are not read
}

TEST(ParseSearchAnswer, Errors)
{
    QString xml = ErrorsXml(QStringLiteral("18"), QStringLiteral("Error"),
                            QStringLiteral("Bad <thing> & more"), QStringLiteral("150"));
    // A later Errors element overwrites what the earlier one set.
    xml.replace(QStringLiteral("<Version>"),
                QStringLiteral("<Errors><SeverityCode>Warning</SeverityCode></Errors><Version>"));
    const TSearchAnswer answer = ParseSearchAnswer(xml);
    EXPECT_TRUE(answer.hasErrors);
    EXPECT_TRUE(answer.problem.isEmpty());
    EXPECT_EQ(answer.error.ShortMessage, QStringLiteral("Short"));
    EXPECT_EQ(answer.error.LongMessage, QStringLiteral("Bad <thing> & more"));
    EXPECT_EQ(answer.error.ErrorCode, QStringLiteral("18"));
    EXPECT_EQ(answer.error.SeverityCode, QStringLiteral("Warning"));
    EXPECT_EQ(answer.totalItems.value_or(QString()), QStringLiteral("150"));
}

TEST(KeepItems, TimeWindowAndBuyItNow)
{
    TTestClock clock;
    clock.SetNow(QDateTime(QDate(2026, 3, 1), QTime(8, 0, 0)));
    TClockScope scope(&clock);

    // Auction mode: the limit is the time left until the end, either side of now.
    std::vector<TSearchItem> items;
    for (int end : {30, 299, 300, 301, -299, -300})
        items.push_back(
            ParseSearchAnswer(AnswerXml(kTsText, {Item(QString::number(end), end)})).items.at(0));
    std::vector<TSearchItem> kept = KeepItems(items, kTsText, false, 300);
    QStringList ids;
    for (const TSearchItem& i : kept)
        ids << i.ebayId;
    EXPECT_EQ(ids, QStringList({"30", "299", "-299"}));
    EXPECT_EQ(kept.at(0).localEnd, LocalTimeToText(clock.Now().addSecs(30)));
    EXPECT_EQ(kept.at(0).localStart, LocalTimeToText(clock.Now().addSecs(-600)));

    // Buy It Now: the limit is the listing's age, and a buy-now price is needed.
    TCannedItem young = Item(QStringLiteral("young"), 5000, -100);
    young.buyNow = QStringLiteral("3.00");
    TCannedItem old = Item(QStringLiteral("old"), 5000, -4000);
    old.buyNow = QStringLiteral("3.00");
    TCannedItem noPrice = Item(QStringLiteral("noprice"), 5000, -100);
    kept = KeepItems(ParseSearchAnswer(AnswerXml(kTsText, {young, old, noPrice})).items, kTsText,
                     true, 3600);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.at(0).ebayId, QStringLiteral("young"));
}

TEST(KeepItems, BadItemTimeThrows)
{
    TCannedItem bad = Item(QStringLiteral("1"));
    bad.end = QStringLiteral("tomorrow");
    const TSearchAnswer answer = ParseSearchAnswer(AnswerXml(kTsText, {bad}));
    EXPECT_THROW(KeepItems(answer.items, kTsText, false, 300), EConvertError);
}

TEST(Messages, ExactTextsWithEscaping)
{
    EXPECT_EQ(
        NewItemsMessage(QStringLiteral("Cats & Dogs"), 3, 7),
        QStringLiteral("<B><FONT color=\"clBlack\" size=\"3\" face=\"ARIAL\"><I>Bid</I></FONT>"
                       "<FONT color=\"clRed\" size=\"3\" face=\"ARIAL\">lark</FONT></B><br>"
                       "<b><FONT color=\"clBlack\">New Items: Cats &amp; Dogs</font></b><br>"
                       "3 new auction(s) found.<br><ahref=\"7\">Click here to view the "
                       "results</a>"));
    EXPECT_EQ(ErrorMessage(QStringLiteral("A"),
                           {QStringLiteral("s"), QStringLiteral("<script>x</script>"),
                            QStringLiteral("18"), QStringLiteral("Error")},
                           7),
              QStringLiteral("<b><FONT color=\"clred\">Error: A (18)</font></b><br>Severity: Error"
                             "<br>Details: &lt;script&gt;x&lt;/script&gt;<br>Click <ahref=\"7\">"
                             "here</a> to change your settings"));
    EXPECT_EQ(WarningMessage(QStringLiteral("A"), QStringLiteral("120<b>"), 7),
              QStringLiteral("<b><FONT color=\"clMaroon\">Warning: A</font></b><br>Details: This "
                             "alert contains more then 100 results (120&lt;b&gt; found) please "
                             "refine your search.<br>Click <ahref=\"7\">here</a> to change your "
                             "settings"));
    EXPECT_TRUE(
        UnreadableMessage(QStringLiteral("<A>"), 7)
            .startsWith(QStringLiteral("<b><FONT color=\"clred\">Error: &lt;A&gt;</font>")));
    EXPECT_TRUE(UnreadableMessage(QStringLiteral("A"), 7)
                    .endsWith(QStringLiteral("<ahref=\"7\">here</a> to change your settings")));
}

TEST(TotalItemsCount, DecimalOrZero)
{
    EXPECT_EQ(TotalItemsCount(QStringLiteral("150")), 150);
    EXPECT_EQ(TotalItemsCount(QStringLiteral("100")), 100);
    EXPECT_EQ(TotalItemsCount(QStringLiteral("many")), 0);
    EXPECT_EQ(TotalItemsCount(QString()), 0);
}

TEST(ErrorReportUrl, InstallationAndCode)
{
    EXPECT_EQ(
        ErrorReportUrl(QStringLiteral("http://h:1/"), QStringLiteral("()"), QStringLiteral("18")),
        QStringLiteral("http://h:1/register/error.php?t=KCk=&c=18"));
    EXPECT_TRUE(
        ErrorReportUrl(QStringLiteral("http://h"), QStringLiteral("x"), QStringLiteral("1&x=#"))
            .endsWith(QStringLiteral("&c=1%26x%3D%23")));
}
