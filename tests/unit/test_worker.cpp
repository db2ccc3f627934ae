#include "CannedServer.h"
#include "FetchRecorder.h"
#include "SearchAnswers.h"
#include "SearchDb.h"
#include "TestClock.h"
#include "TestEnv.h"
#include "cls.ebayAuctionsFetch.h"
#include "untHttp.h"
#include "untProxySettings.h"
#include "untSearchResponse.h"

#include <gtest/gtest.h>

#include <set>

namespace {
using TAnswers = QList<TCannedServer::TAnswer>;

// An answer whose items end ten minutes from now, so an alert with a one-hour window keeps them.
QString Answer(const QStringList& ids, const QString& total = QString())
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<TCannedItem> items;
    for (const QString& id : ids) {
        TCannedItem item;
        item.id = id;
        item.start = EbayTime(now.addSecs(-600));
        item.end = EbayTime(now.addSecs(600));
        items << item;
    }
    return AnswerXml(EbayTime(now), items, total);
}

QStringList Ids(const QString& prefix, int n)
{
    QStringList ids;
    for (int i = 0; i < n; ++i)
        ids << prefix + QString::number(i);
    ids.sort();
    return ids;
}

const QStringList kStart = {"status:Loading settings", "status:Fetching data"};
const QStringList kMerge = {"status:Processing data...", "status:Optimizing database...",
                            "status:Checking for new auctions..."};

class Worker : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { EnsureApplication(); }

    void SetUp() override
    {
        TebayAuctionsFetch::EndShutdown();
        ProxySettings::SetCurrent({});
    }
    void TearDown() override
    {
        TebayAuctionsFetch::BeginShutdown();
        EXPECT_TRUE(TebayAuctionsFetch::WaitForRunning(10000));
        TebayAuctionsFetch::EndShutdown();
        ProxySettings::SetCurrent({});
        THttpClient::SetDefaultTimeouts(THttpClient::kDefaultConnectTimeoutMs,
                                        THttpClient::kDefaultTotalTimeoutMs);
    }

    int AddAlert(const QString& name, const QString& keywords = QStringLiteral("cat"),
                 bool audio = true)
    {
        return fDb.AddAlert(name, keywords, [audio](TAlert& a) {
            a.SetStartedWithin(3);
            a.SetAudioAlert(audio);
        });
    }

    TebayAuctionsFetch* Start(int alertId, const TCannedServer& server)
    {
        return TebayAuctionsFetch::Create(alertId, fDb.Connection(), &fReports, &fReports,
                                          server.BaseUrl());
    }

    void RunOnce(int alertId, const TCannedServer& server)
    {
        Start(alertId, server);
        ASSERT_TRUE(WaitForAllRuns());
    }

    TTestEnv fEnv;
    TTestClock fClock;
    TClockScope fScope{&fClock};
    TSearchDb fDb;
    TFetchRecord fRecord;
    TFetchRecorder fReports{&fRecord};
};
} // namespace

TEST_F(Worker, FullRunWithOneRetryReportsInOrder)
{
    const int id = AddAlert(QStringLiteral("Cats"));
    TCannedServer server({TCannedServer::Body(QByteArray("down"), 500),
                          TCannedServer::Body(QByteArray("down"), 500),
                          TCannedServer::Body(Answer({"A", "B"}, QStringLiteral("150")))});
    RunOnce(id, server);

    EXPECT_EQ(fRecord.log[id], kStart + QStringList({"status:Error - waiting 10 sec"}) + kMerge +
                                   QStringList({"sound:on", "popup", "popup", "finish"}));
    EXPECT_EQ(fClock.SleptMs(), TebayAuctionsFetch::kRetryPauseMs);
    EXPECT_TRUE(fRecord.popups[id].at(0).contains(QStringLiteral("2 new auction(s) found.")));
    EXPECT_TRUE(fRecord.popups[id].at(1).contains(QStringLiteral("(150 found)")));
    const QStringList targets = server.Targets();
    ASSERT_EQ(targets.size(), 3);
    EXPECT_TRUE(targets.at(0).startsWith(QStringLiteral("/ebayAPI/bidlark/bidlark.php?query=")));
    EXPECT_EQ(targets.at(2), targets.at(0)); // same key and signature on the retry
    EXPECT_EQ(fDb.Ids(id), QStringList({"A", "B"}));
    EXPECT_EQ(fDb.Items(id)["A"].status, QStringLiteral("new"));
}

TEST_F(Worker, SecondRunSeesAndSoundIsOnlyAskedWhenSomethingIsNew)
{
    const int id = AddAlert(QStringLiteral("Quiet"), QStringLiteral("cat"), false);
    TCannedServer server({TCannedServer::Body(Answer({"A"})),
                          TCannedServer::Body(Answer({"A", "B"})),
                          TCannedServer::Body(Answer({"B"}))});
    RunOnce(id, server);
    EXPECT_EQ(fRecord.log[id], kStart + kMerge + QStringList({"sound:off", "popup", "finish"}));
    RunOnce(id, server);
    RunOnce(id, server);
    EXPECT_EQ(fRecord.log[id].mid(16), kStart + kMerge + QStringList({"finish"}));
    EXPECT_EQ(fDb.Ids(id), QStringList({"B"}));
    EXPECT_EQ(fDb.Items(id)["B"].status, QStringLiteral("seen"));
    EXPECT_EQ(fClock.SleptMs(), 0);
}

TEST_F(Worker, MissingAlertEndsWithoutAnyReport)
{
    TCannedServer server;
    RunOnce(4242, server);
    EXPECT_TRUE(fRecord.log.isEmpty());
    EXPECT_EQ(server.RequestCount(), 0);
}

TEST_F(Worker, NothingToAsk)
{
    const int id = AddAlert(QStringLiteral("Empty"), QString());
    TCannedServer server;
    RunOnce(id, server);
    EXPECT_EQ(fRecord.log[id], QStringList({"status:Loading settings", "popup", "finish"}));
    EXPECT_TRUE(fRecord.popups[id].at(0).contains(
        QStringLiteral("You failed to specify keyword(s) or category")));
    EXPECT_EQ(server.RequestCount(), 0);
}

TEST_F(Worker, QuietEndsKeepTheStoredItems)
{
    const int id = AddAlert(QStringLiteral("Kept"));
    {
        TCannedServer first({TCannedServer::Body(Answer({"A"}))});
        RunOnce(id, first);
    }
    THttpClient::SetDefaultTimeouts(300, 300);
    const QStringList retry = kStart + QStringList({"status:Error - waiting 10 sec", "finish"});
    const struct
    {
        const char* name;
        TAnswers answers;
        QString proxyPort; // non-empty: the proxy is on with this port
        QStringList log;
    } cases[] = {
        {"refused",
         {TCannedServer::Body(QByteArray("Error: #3 bad signature"))},
         {},
         kStart + QStringList({"finish"})},
        {"short", {TCannedServer::Body(QByteArray("short"))}, {}, kStart + QStringList({"finish"})},
        {"empty twice",
         {TCannedServer::Body(QByteArray()), TCannedServer::Body(QByteArray(" "))},
         {},
         retry},
        {"never answers",
         {TCannedServer::Hang(), TCannedServer::Hang(), TCannedServer::Hang(),
          TCannedServer::Hang()},
         {},
         retry},
        {"proxy port abc", {}, QStringLiteral("abc"), retry},
    };
    for (const auto& c : cases) {
        fRecord.log.clear();
        if (!c.proxyPort.isEmpty())
            ProxySettings::SetCurrent({true, QStringLiteral("127.0.0.1"), c.proxyPort});
        TCannedServer server(c.answers);
        RunOnce(id, server);
        ProxySettings::SetCurrent({});
        EXPECT_EQ(fRecord.log[id], c.log) << c.name;
        EXPECT_EQ(fDb.Ids(id), QStringList({"A"})) << c.name;
    }
}

TEST_F(Worker, ErrorsAnswerIsReportedToTheService)
{
    const int id = AddAlert(QStringLiteral("Err"));
    TCannedServer server(
        {TCannedServer::Body(ErrorsXml(QStringLiteral("18"), QStringLiteral("Error"),
                                       QStringLiteral("Bad & worse"))),
         TCannedServer::Body(QByteArray("thanks"))});
    RunOnce(id, server);
    EXPECT_EQ(fRecord.log[id],
              kStart + QStringList({"status:Processing data...", "popup", "finish"}));
    EXPECT_TRUE(fRecord.popups[id].at(0).contains(QStringLiteral("Details: Bad &amp; worse")));
    ASSERT_EQ(server.RequestCount(), 2);
    EXPECT_TRUE(server.Targets().at(1).startsWith(QStringLiteral("/register/error.php?t=")));
    EXPECT_TRUE(server.Targets().at(1).endsWith(QStringLiteral("&c=18")));
}

TEST_F(Worker, TenAlertsAtOnceEachEndWithTheirOwnRows)
{
    TAnswers answers;
    std::set<QString> expected;
    for (int k = 0; k < 10; ++k) {
        answers << TCannedServer::Body(Answer(Ids(QStringLiteral("%1-").arg(k), 30)));
        expected.insert(QString::number(k));
    }
    TCannedServer server(answers);
    QList<int> ids;
    for (int k = 0; k < 10; ++k)
        ids << AddAlert(QStringLiteral("Alert %1").arg(k));
    for (int id : ids)
        Start(id, server);
    ASSERT_TRUE(WaitForAllRuns());

    // Which answer an alert got depends on arrival; each answer went to exactly one alert whole.
    std::set<QString> seen;
    for (int id : ids) {
        const QStringList rows = fDb.Ids(id);
        ASSERT_EQ(rows.size(), 30) << id;
        const QString answer = rows.at(0).section(QLatin1Char('-'), 0, 0);
        EXPECT_EQ(rows, Ids(answer + QLatin1Char('-'), 30)) << id;
        seen.insert(answer);
        EXPECT_EQ(fRecord.log[id].last(), QStringLiteral("finish"));
        EXPECT_EQ(fRecord.log[id].count(QStringLiteral("finish")), 1);
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(Worker, TwoRunsOfOneAlertMergeOneAfterTheOther)
{
    const int id = AddAlert(QStringLiteral("Twice"));
    TCannedServer server({TCannedServer::Body(Answer(Ids(QStringLiteral("a"), 50))),
                          TCannedServer::Body(Answer(Ids(QStringLiteral("b"), 50)))});
    Start(id, server);
    Start(id, server);
    ASSERT_TRUE(WaitForAllRuns());
    const QStringList rows = fDb.Ids(id);
    EXPECT_TRUE(rows == Ids(QStringLiteral("a"), 50) || rows == Ids(QStringLiteral("b"), 50))
        << rows.join(',').toStdString();
    EXPECT_EQ(fRecord.finished, 2);
}

TEST_F(Worker, QuitDuringAFetchThatNeverEnds)
{
    const int id = AddAlert(QStringLiteral("Hang"));
    {
        TCannedServer first({TCannedServer::Body(Answer({"A"}))});
        RunOnce(id, first);
    }
    fRecord.log.clear();
    TCannedServer server({TCannedServer::Hang(), TCannedServer::Hang()});
    Start(id, server); // the default 30 s time-outs hold it
    ASSERT_TRUE(PumpUntil([&] { return server.RequestCount() == 1; }));
    TebayAuctionsFetch::BeginShutdown();
    EXPECT_TRUE(TebayAuctionsFetch::WaitForRunning(5000));
    EXPECT_EQ(fRecord.log[id], kStart); // no completion report once quitting
    EXPECT_EQ(fDb.Ids(id), QStringList({"A"}));
    EXPECT_EQ(
        TebayAuctionsFetch::Create(id, fDb.Connection(), &fReports, &fReports, server.BaseUrl()),
        nullptr);
}

TEST_F(Worker, QuitDuringTheRetryPause)
{
    TClockScope realClock(nullptr); // a pause that really lasts 10 s
    const int id = AddAlert(QStringLiteral("Pause"));
    TCannedServer server({TCannedServer::Body(QByteArray(), 200)});
    Start(id, server);
    ASSERT_TRUE(PumpUntil(
        [&] { return fRecord.log[id].contains(QStringLiteral("status:Error - waiting 10 sec")); }));
    TebayAuctionsFetch::BeginShutdown();
    EXPECT_TRUE(TebayAuctionsFetch::WaitForRunning(3000));
    EXPECT_EQ(server.RequestCount(), 1);
    TClock::SetCurrent(&fClock);
}

TEST_F(Worker, QuitWhileRunsWaitForTheUserInterfaceThread)
{
    // Nothing runs the hand-overs until the quit begins: the waiting runs must still end, and
    // each alert holds all of its answer or nothing.
    TAnswers answers;
    for (int k = 0; k < 5; ++k)
        answers << TCannedServer::Body(Answer(Ids(QStringLiteral("%1-").arg(k), 20)));
    TCannedServer server(answers);
    QList<int> ids;
    for (int k = 0; k < 5; ++k)
        ids << AddAlert(QStringLiteral("Q%1").arg(k));
    for (int id : ids)
        Start(id, server);
    TebayAuctionsFetch::BeginShutdown();
    EXPECT_TRUE(TebayAuctionsFetch::WaitForRunning(5000));
    for (int id : ids) {
        const qsizetype n = fDb.Ids(id).size();
        EXPECT_TRUE(n == 0 || n == 20) << n;
    }
}

TEST_F(Worker, ReceiverDestroyedMidRun)
{
    TFetchRecord record;
    auto* receiver = new TFetchRecorder(&record);
    receiver->fOnStatus = [receiver](const QString&) { receiver->deleteLater(); };
    const int id = AddAlert(QStringLiteral("Gone"));
    TCannedServer server({TCannedServer::Body(Answer({"A"}))});
    TebayAuctionsFetch::Create(id, fDb.Connection(), receiver, receiver, server.BaseUrl());
    ASSERT_TRUE(PumpUntil([] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return TebayAuctionsFetch::RunningCount() == 0;
    }));
    EXPECT_EQ(record.log[id], QStringList({"status:Loading settings"}));
    EXPECT_EQ(fDb.Ids(id), QStringList({"A"})); // the run itself went on
}
