#include "CannedServer.h"
#include "SearchAnswers.h"
#include "SearchDb.h"
#include "TestClock.h"
#include "untHashesEncodings.h"
#include "untHttp.h"
#include "untSearchResponse.h"

#include <gtest/gtest.h>

namespace {
const QDateTime kTs(QDate(2026, 1, 1), QTime(12, 0, 0), Qt::UTC);
const QString kTsText = QStringLiteral("2026-01-01T12:00:00.000Z");

TCannedItem Item(const QString& id, int endFromTs = 600, int startFromTs = -600)
{
    TCannedItem item;
    item.id = id;
    item.start = EbayTime(kTs.addSecs(startFromTs));
    item.end = EbayTime(kTs.addSecs(endFromTs));
    return item;
}

// What the run asked the user-interface thread for, in order.
class TRecordedSteps : public TSearchSteps
{
public:
    void SetStatus(const QString& text) override { fLog << QStringLiteral("status:") + text; }
    void AskPopup(const QString& message) override
    {
        fLog << QStringLiteral("popup");
        fPopups << message;
    }
    void AskSound() override { fLog << QStringLiteral("sound"); }

    QStringList fLog;
    QStringList fPopups;
};

class Merge : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fClock.SetNow(QDateTime(QDate(2026, 3, 1), QTime(8, 0, 0)));
        fAlert = fDb.AddAlert(QStringLiteral("Cats"), QStringLiteral("cat"));
        fOther = fDb.AddAlert(QStringLiteral("Dogs"), QStringLiteral("dog"));
    }

    TAnswerOutcome Run(const QString& answer, const QString& token, bool buyItNow = false,
                       int limit = 3600)
    {
        fSteps = TRecordedSteps();
        TQuery query(fDb.Connection());
        TAnswerContext c;
        c.connection = &fDb.Connection();
        c.query = &query;
        c.alertId = fAlert;
        c.alertName = QStringLiteral("Cats");
        c.token = token;
        c.buyItNow = buyItNow;
        c.limitSeconds = limit;
        c.http = fServer ? &fHttp : nullptr;
        c.serviceBaseUrl = fServer ? fServer->BaseUrl() : QString();
        c.installationId = QStringLiteral("install-1");
        c.steps = &fSteps;
        return ProcessSearchAnswer(answer, c);
    }

    TTestClock fClock;
    TClockScope fScope{&fClock};
    TSearchDb fDb;
    int fAlert = 0;
    int fOther = 0;
    TRecordedSteps fSteps;
    std::unique_ptr<TCannedServer> fServer;
    THttpClient fHttp;
};

const QStringList kMergeStatuses = {"status:Processing data...", "status:Optimizing database...",
                                    "status:Checking for new auctions..."};
} // namespace

TEST_F(Merge, NewThenSeenThenSwept)
{
    TCannedItem a = Item(QStringLiteral("A"));
    a.currency = QStringLiteral("GBP");
    TCannedItem b = Item(QStringLiteral("B"));
    b.currency.clear(); // takes GBP from A
    EXPECT_EQ(Run(AnswerXml(kTsText, {a, b, Item(QStringLiteral("C"))}), "TOKEN1"),
              TAnswerOutcome::Merged);
    EXPECT_EQ(fSteps.fLog, kMergeStatuses + QStringList({"sound", "popup"}));
    EXPECT_TRUE(fSteps.fPopups.at(0).contains(QStringLiteral("<br>3 new auction(s) found.")));
    auto items = fDb.Items(fAlert);
    ASSERT_EQ(items.keys(), QStringList({"A", "B", "C"}));
    EXPECT_EQ(items["A"].status, QStringLiteral("new"));
    EXPECT_EQ(items["A"].token, QStringLiteral("TOKEN1"));
    EXPECT_EQ(items["B"].currency, QStringLiteral("GBP"));
    EXPECT_EQ(items["A"].picture, QStringLiteral("pics.example/a.jpg"));
    EXPECT_EQ(items["A"].localEnd, QStringLiteral("01/03/2026 08:10:00"));

    // A again with a new price, B gone, D new; C has moved out of the time window.
    a.price = QStringLiteral("2.50");
    a.bidCount = QStringLiteral("4");
    EXPECT_EQ(Run(AnswerXml(kTsText, {a, Item(QStringLiteral("C"), 7200), Item("D")}), "TOKEN2"),
              TAnswerOutcome::Merged);
    EXPECT_TRUE(fSteps.fPopups.at(0).contains(QStringLiteral("<br>1 new auction(s) found.")));
    items = fDb.Items(fAlert);
    ASSERT_EQ(items.keys(), QStringList({"A", "D"}));
    EXPECT_EQ(items["A"].status, QStringLiteral("seen"));
    EXPECT_EQ(items["A"].price, QStringLiteral("2.50"));
    EXPECT_EQ(items["A"].bidCount, QStringLiteral("4"));
    EXPECT_EQ(items["D"].status, QStringLiteral("new"));

    // Nothing new: no sound, no pop-up. An empty result sweeps everything.
    EXPECT_EQ(Run(AnswerXml(kTsText, {a}), "TOKEN3"), TAnswerOutcome::Merged);
    EXPECT_EQ(fSteps.fLog, kMergeStatuses);
    EXPECT_EQ(Run(AnswerXml(kTsText, {}), "TOKEN4"), TAnswerOutcome::Merged);
    EXPECT_EQ(fSteps.fLog, kMergeStatuses);
    EXPECT_TRUE(fDb.Ids(fAlert).isEmpty());
}

TEST_F(Merge, OnlyTheAlertsOwnRowsChange)
{
    TQuery q(fDb.Connection());
    ExecQuery(
        &q, Sql::kInsertItem, 15,
        {fOther, "p", "X", "s", "ls", "e", "le", "t", "u", "1", "", "USD", "0", "OTHER", "new"});
    Run(AnswerXml(kTsText, {Item(QStringLiteral("A"))}), "TOKEN1");
    Run(AnswerXml(kTsText, {}), "TOKEN2");
    EXPECT_EQ(fDb.Ids(fOther), QStringList({"X"}));
}

TEST_F(Merge, BuyItNowNeedsAPriceAndAYoungListing)
{
    TCannedItem withPrice = Item(QStringLiteral("P"), 90000, -100);
    withPrice.buyNow = QStringLiteral("5.00");
    Run(AnswerXml(kTsText, {withPrice, Item(QStringLiteral("N"), 90000, -100)}), "T1", true, 300);
    EXPECT_EQ(fDb.Ids(fAlert), QStringList({"P"}));
    withPrice.buyNow.clear(); // stored before, now without a buy-now price: swept
    Run(AnswerXml(kTsText, {withPrice}), "T2", true, 300);
    EXPECT_TRUE(fDb.Ids(fAlert).isEmpty());
}

TEST_F(Merge, ResultCountWarningAfterTheNewItems)
{
    Run(AnswerXml(kTsText, {Item(QStringLiteral("A"))}, QStringLiteral("120")), "T1");
    EXPECT_EQ(fSteps.fLog, kMergeStatuses + QStringList({"sound", "popup", "popup"}));
    EXPECT_TRUE(fSteps.fPopups.at(1).contains(QStringLiteral("results (120 found)")));
    Run(AnswerXml(kTsText, {Item(QStringLiteral("A"))}, QStringLiteral("100")), "T2");
    EXPECT_EQ(fSteps.fLog, kMergeStatuses);
}

TEST_F(Merge, ErrorsAnswerIsShownAndReportedAndStoresNothing)
{
    Run(AnswerXml(kTsText, {Item(QStringLiteral("A"))}), "T1");
    fServer = std::make_unique<TCannedServer>(
        QList<TCannedServer::TAnswer>{TCannedServer::Body(QByteArray("ignored"))});
    EXPECT_EQ(Run(ErrorsXml(QStringLiteral("18"), QStringLiteral("Error"), QStringLiteral("Bad"),
                            QStringLiteral("150")),
                  "T2"),
              TAnswerOutcome::ApiErrors);
    EXPECT_EQ(fSteps.fLog, QStringList({"status:Processing data...", "popup", "popup"}));
    EXPECT_TRUE(fSteps.fPopups.at(0).startsWith(
        QStringLiteral("<b><FONT color=\"clred\">Error: Cats (18)</font></b><br>Severity: Error")));
    EXPECT_TRUE(fSteps.fPopups.at(1).contains(QStringLiteral("(150 found)")));
    EXPECT_EQ(fServer->Targets(),
              QStringList({QStringLiteral("/register/error.php?t=") +
                           Base64Encode(QStringLiteral("install-1")) + QStringLiteral("&c=18")}));
    const auto items = fDb.Items(fAlert);
    ASSERT_EQ(items.keys(), QStringList({"A"}));
    EXPECT_EQ(items["A"].token, QStringLiteral("T1"));
}

TEST_F(Merge, EarlyEndsAndUnreadableAnswersKeepTheStoredItems)
{
    Run(AnswerXml(kTsText, {Item(QStringLiteral("A"))}), "T1");
    const QString good = AnswerXml(kTsText, {Item(QStringLiteral("B"))});
    TCannedItem badTime = Item(QStringLiteral("B"));
    badTime.end = QStringLiteral("2026-02-30T00:00:00.000Z");
    const struct
    {
        const char* name;
        QString answer;
        TAnswerOutcome outcome;
    } cases[] = {
        {"refused", QStringLiteral("Error: #12 bad signature, and some more text"),
         TAnswerOutcome::Refused},
        {"29 characters", QString(29, QLatin1Char('x')), TAnswerOutcome::TooShort},
        {"ERROR", QStringLiteral("ERROR"), TAnswerOutcome::TooShort},
        {"30 characters", QString(30, QLatin1Char('x')), TAnswerOutcome::Unreadable},
        {"cut off", good.left(good.size() - 40), TAnswerOutcome::Unreadable},
        {"four children",
         QStringLiteral("<R><Timestamp>") + kTsText + "</Timestamp><A/><B/><C/></R>",
         TAnswerOutcome::Unreadable},
        {"no Timestamp", QString(good).replace("Timestamp>", "Stamp>"), TAnswerOutcome::Unreadable},
        {"bad item time", AnswerXml(kTsText, {Item(QStringLiteral("C")), badTime}),
         TAnswerOutcome::Unreadable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.answer, "T2"), c.outcome) << c.name;
        if (c.outcome == TAnswerOutcome::Unreadable) {
            EXPECT_EQ(fSteps.fLog, QStringList({"status:Processing data...", "popup"})) << c.name;
            EXPECT_EQ(fSteps.fPopups.at(0), UnreadableMessage(QStringLiteral("Cats"), fAlert));
        } else {
            EXPECT_TRUE(fSteps.fLog.isEmpty()) << c.name;
        }
        const auto items = fDb.Items(fAlert);
        EXPECT_EQ(items.keys(), QStringList({"A"})) << c.name;
        EXPECT_EQ(items.value("A").token, QStringLiteral("T1")) << c.name;
    }
}

TEST_F(Merge, RefusedStatementStillCountsAsFound)
{
    TCannedItem longPic = Item(QStringLiteral("L"));
    longPic.gallery = QStringLiteral("http://") + QString(80, QLatin1Char('p'));
    Run(AnswerXml(kTsText, {longPic, Item(QStringLiteral("A"))}), "T1");
    EXPECT_EQ(fDb.Ids(fAlert), QStringList({"A"}));
    EXPECT_TRUE(fSteps.fPopups.at(0).contains(QStringLiteral("<br>1 new auction(s) found.")));
}
