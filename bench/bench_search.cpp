// Search engine figures: processing of one answer against a populated database, the query text,
// and (with the service) ten alerts run at once.

#include "FetchRecorder.h"
#include "SearchAnswers.h"
#include "SearchDb.h"
#include "ServiceProcess.h"
#include "TestEnv.h"
#include "cls.Alert.h"
#include "cls.ebayAuctionsFetch.h"
#include "untCode.h"
#include "untSearchRequest.h"
#include "untSearchResponse.h"
#include "untStrFunctions.h"

#include <benchmark/benchmark.h>

namespace {
class TNoSteps : public TSearchSteps
{
public:
    void SetStatus(const QString&) override {}
    void AskPopup(const QString&) override {}
    void AskSound() override {}
};

QString Answer(const QString& prefix, int n)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<TCannedItem> items;
    for (int i = 0; i < n; ++i) {
        TCannedItem item;
        item.id = prefix + QString::number(100000000 + i);
        item.title =
            QStringLiteral("Vintage brass ship clock, working, item ") + QString::number(i);
        item.price = QStringLiteral("%1.99").arg(i);
        item.bidCount = QString::number(i % 7);
        item.gallery =
            QStringLiteral("http://127.0.0.1:8470/pics/") + item.id + QStringLiteral(".jpg");
        item.url = QStringLiteral("http://127.0.0.1:8470/itm/") + item.id;
        item.start = EbayTime(now.addSecs(-3600 - i));
        item.end = EbayTime(now.addSecs(600 + i));
        items << item;
    }
    return AnswerXml(EbayTime(now), items, QString::number(n));
}

// 50 alerts of 100 stored items each; the benchmarked alert is the first.
struct TFixture
{
    TSearchDb db;
    QList<int> alerts;
    TNoSteps steps;

    TFixture()
    {
        for (int a = 0; a < 50; ++a)
            alerts << db.AddAlert(QStringLiteral("Alert %1").arg(a), QStringLiteral("clock"));
        for (int a = 0; a < 50; ++a)
            Process(Answer(QStringLiteral("s%1-").arg(a), 100), alerts.at(a), RandomToken());
    }

    void Process(const QString& answer, int alertId, const QString& token)
    {
        TQuery query(db.Connection());
        TAnswerContext c;
        c.connection = &db.Connection();
        c.query = &query;
        c.alertId = alertId;
        c.alertName = QStringLiteral("Alert");
        c.token = token;
        c.limitSeconds = 43200;
        c.steps = &steps;
        ProcessSearchAnswer(answer, c);
    }
};

void BM_ProcessAnswer_AllNew(benchmark::State& state)
{
    TFixture f;
    // Two answers without common items: each run finds 100 new ones and sweeps 100.
    const QString answers[2] = {Answer(QStringLiteral("x"), 100), Answer(QStringLiteral("y"), 100)};
    int i = 0;
    for (auto _ : state)
        f.Process(answers[i++ % 2], f.alerts.at(0), RandomToken());
}

void BM_ProcessAnswer_AllSeen(benchmark::State& state)
{
    TFixture f;
    const QString answer = Answer(QStringLiteral("s0-"), 100);
    for (auto _ : state)
        f.Process(answer, f.alerts.at(0), RandomToken());
}

void BM_MisspellingVariants_20Letters(benchmark::State& state)
{
    const QString word = QStringLiteral("abcdefghijklmnopqrst");
    for (auto _ : state)
        benchmark::DoNotOptimize(MisspellingVariants(word));
}

void BM_BuildQuery_5Words(benchmark::State& state)
{
    TAlert alert;
    alert.SetKeywords(QStringLiteral("vintage brass ship clock working"));
    alert.SetMisspellings(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildQueryText(alert));
}
} // namespace

BENCHMARK(BM_ProcessAnswer_AllNew)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_ProcessAnswer_AllSeen)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_MisspellingVariants_20Letters)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_BuildQuery_5Words)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->DisplayAggregatesOnly(true);

// Ten alerts run at once against the demo service on loopback: wall time until all ten finished.
// The service's listen queue holds 5 connections; when ten connect at once and the queue
// overflows, the kernel drops a SYN and that client connects one second later.
namespace {
void BM_TenAlertsAtOnce_DemoService(benchmark::State& state)
{
    EnsureApplication();
    TTestEnv env;
    TServiceProcess service;
    TSearchDb db;
    TFetchRecord record;
    TFetchRecorder reports(&record);
    QList<int> alerts;
    for (int a = 0; a < 10; ++a)
        alerts << db.AddAlert(QStringLiteral("Alert %1").arg(a),
                              QStringLiteral("brass clock %1").arg(a),
                              [](TAlert& alert) { alert.SetStartedWithin(6); });
    for (auto _ : state) {
        for (int id : alerts)
            TebayAuctionsFetch::Create(id, db.Connection(), &reports, &reports, service.BaseUrl());
        if (!WaitForAllRuns())
            state.SkipWithError("runs did not finish");
    }
}
} // namespace
BENCHMARK(BM_TenAlertsAtOnce_DemoService)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(15); // every round shown: a round is either quick or waits for a SYN retry

BENCHMARK_MAIN();
namespace {
void BM_ParseOnly(benchmark::State& state)
{
    const QString answer = Answer(QStringLiteral("x"), 100);
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseSearchAnswer(answer));
}
void BM_KeepOnly(benchmark::State& state)
{
    const QString answer = Answer(QStringLiteral("x"), 100);
    const TSearchAnswer a = ParseSearchAnswer(answer);
    for (auto _ : state)
        benchmark::DoNotOptimize(KeepItems(a.items, a.timestamp, false, 43200));
}
} // namespace
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeepOnly)->Unit(benchmark::kMillisecond);
