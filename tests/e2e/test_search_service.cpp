#include "FetchRecorder.h"
#include "SearchDb.h"
#include "ServiceProcess.h"
#include "TestEnv.h"
#include "cls.ebayAuctionsFetch.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

namespace {
const QStringList kStart = {"status:Loading settings", "status:Fetching data"};
const QStringList kMerge = {"status:Processing data...", "status:Optimizing database...",
                            "status:Checking for new auctions..."};

int NewCount(const QString& popup)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("<br>(\\d+) new auction\\(s\\) found\\.")).match(popup);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class SearchService : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void TearDown() override
    {
        TebayAuctionsFetch::BeginShutdown();
        EXPECT_TRUE(TebayAuctionsFetch::WaitForRunning(10000));
        TebayAuctionsFetch::EndShutdown();
    }

    int AddAlert(const QString& name, const QString& keywords,
                 const std::function<void(TAlert&)>& more = {})
    {
        return fDb.AddAlert(name, keywords, [&](TAlert& a) {
            a.SetStartedWithin(6); // anytime
            a.SetAudioAlert(true);
            if (more)
                more(a);
        });
    }

    void Run(const QList<int>& alerts)
    {
        for (int id : alerts)
            TebayAuctionsFetch::Create(id, fDb.Connection(), &fReports, &fReports,
                                       fService.BaseUrl());
        ASSERT_TRUE(WaitForAllRuns());
    }

    TTestEnv fEnv;
    TServiceProcess fService;
    TSearchDb fDb;
    TFetchRecord fRecord;
    TFetchRecorder fReports{&fRecord};
};
} // namespace

TEST_F(SearchService, NewThenSeenThenEndedListingsSwept)
{
    const int id = AddAlert(QStringLiteral("Clocks"), QStringLiteral("brass clock"));
    Run({id});
    const QStringList first = fRecord.log[id];
    ASSERT_GE(first.size(), 8) << first.join(',').toStdString();
    EXPECT_EQ(first.mid(0, 5), kStart + kMerge);
    EXPECT_EQ(first.mid(5, 2), QStringList({"sound:on", "popup"}));
    EXPECT_EQ(first.last(), QStringLiteral("finish"));
    const auto items = fDb.Items(id);
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(NewCount(fRecord.popups[id].at(0)), items.size());
    for (const TStoredItem& item : items)
        EXPECT_EQ(item.status, QStringLiteral("new"));

    // The same market moment again: everything is seen, nothing announced.
    fRecord.log.clear();
    Run({id});
    EXPECT_FALSE(fRecord.log[id].contains(QStringLiteral("sound:on")));
    const auto again = fDb.Items(id);
    EXPECT_EQ(again.keys(), items.keys());
    for (const TStoredItem& item : again)
        EXPECT_EQ(item.status, QStringLiteral("seen"));

    // Three market days on, the listings that ended are gone.
    fService.Advance(3 * 86400);
    fRecord.log.clear();
    Run({id});
    const auto later = fDb.Items(id);
    int swept = 0;
    for (const QString& ebayId : items.keys())
        swept += later.contains(ebayId) ? 0 : 1;
    EXPECT_GT(swept, 0);
    for (auto it = later.begin(); it != later.end(); ++it)
        EXPECT_EQ(it->status,
                  items.contains(it.key()) ? QStringLiteral("seen") : QStringLiteral("new"));
}

TEST_F(SearchService, ErrorAnswerIsShownReportedAndStoresNothing)
{
    const int id = AddAlert(QStringLiteral("Bad category"), QStringLiteral("clock"), [](TAlert& a) {
        a.SetCategoryID(999999);
        a.SetCategoryName(QStringLiteral("Nowhere"));
        a.SetUseCategory(true);
    });
    Run({id});
    EXPECT_EQ(fRecord.log[id].mid(0, 4),
              kStart + QStringList({"status:Processing data...", "popup"}));
    EXPECT_EQ(fRecord.log[id].last(), QStringLiteral("finish"));
    EXPECT_TRUE(fRecord.popups[id].at(0).contains(QStringLiteral("Error: Bad category (37)")));
    EXPECT_TRUE(fDb.Ids(id).isEmpty());
    QFile reports(fService.DataDir() + QStringLiteral("/error-reports.txt"));
    ASSERT_TRUE(reports.open(QIODevice::ReadOnly));
    EXPECT_TRUE(reports.readAll().contains("\t37\t"));
}

TEST_F(SearchService, TenAlertsAtOnceEachEndWithTheirOwnRows)
{
    const QStringList keywords = {"brass clock", "ipod nano",  "lego castle", "oak table",
                                  "film camera", "vinyl jazz", "road bike",   "silver ring",
                                  "wool coat",   "chess set"};
    QList<int> ids;
    for (const QString& k : keywords)
        ids << AddAlert(k, k);
    Run(ids);
    std::set<QString> tokens;
    for (int id : ids) {
        const auto items = fDb.Items(id);
        ASSERT_FALSE(items.isEmpty()) << id;
        EXPECT_EQ(NewCount(fRecord.popups[id].value(0)), items.size()) << id;
        std::set<QString> own;
        for (const TStoredItem& item : items) {
            EXPECT_EQ(item.status, QStringLiteral("new"));
            own.insert(item.token);
        }
        EXPECT_EQ(own.size(), 1u) << id; // all rows from this alert's one run
        tokens.insert(*own.begin());
        EXPECT_EQ(fRecord.log[id].count(QStringLiteral("finish")), 1);
    }
    EXPECT_EQ(tokens.size(), 10u);
}

TEST_F(SearchService, EveryRequestShapeIsSignedAndAccepted)
{
    const struct
    {
        const char* name;
        const char* keywords;
        std::function<void(TAlert&)> edit;
    } shapes[] = {
        {"misspellings", "Cat,", [](TAlert& a) { a.SetMisspellings(true); }},
        {"buy it now", "oak table",
         [](TAlert& a) {
             a.SetSearchType(1);
             a.SetListedinPaypal(true);
             a.SetMinPrice(QStringLiteral("10"));
             a.SetMaxPrice(QStringLiteral("999.50"));
             a.SetSearchDescription(true);
             a.SetCountry(QStringLiteral("Canada"));
         }},
        {"category", "ipod",
         [](TAlert& a) {
             a.SetCategoryID(293);
             a.SetCategoryName(QStringLiteral("Consumer Electronics"));
             a.SetUseCategory(true);
         }},
        {"category only", "",
         [](TAlert& a) {
             a.SetCategoryID(293);
             a.SetCategoryName(QStringLiteral("Consumer Electronics"));
             a.SetUseCategory(true);
         }},
    };
    for (const auto& s : shapes) {
        const int id =
            AddAlert(QString::fromLatin1(s.name), QString::fromLatin1(s.keywords), s.edit);
        Run({id});
        EXPECT_TRUE(fRecord.log[id].contains(QStringLiteral("status:Optimizing database...")))
            << s.name << ": " << fRecord.log[id].join(',').toStdString();
        EXPECT_EQ(fRecord.log[id].last(), QStringLiteral("finish")) << s.name;
    }
}
