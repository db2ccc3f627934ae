// Store figures: one merge-shaped cycle on a populated database, and the start-up compaction.
#include "untStartup.h"
#include "untStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

QVariantList ItemValues(int parent, const QString& ebayid, const QString& token)
{
    return {
        parent,
        QStringLiteral("i.ebayimg.com/00/s/MTYwMFgxMjAw/z/abcAAOSwxyz/$_1.JPG"),
        ebayid,
        QStringLiteral("2026-12-10T08:15:30.000Z"),
        QStringLiteral("10/12/2026 09:15:30"),
        QStringLiteral("2026-12-17T08:15:30.000Z"),
        QStringLiteral("17/12/2026 09:15:30"),
        QStringLiteral("Vintage Tiffany style stained glass table lamp, bronze base, 16 in"),
        QString(QStringLiteral("https://www.ebay.com/itm/Vintage-Tiffany-style-lamp/") + ebayid),
        QStringLiteral("149.99"),
        QStringLiteral("199.00"),
        QStringLiteral("USD"),
        QStringLiteral("7"),
        token,
        QStringLiteral("new")};
}

QString EbayId(int alert, int item, int round)
{
    return QStringLiteral("3%1%2%3")
        .arg(alert, 3, 10, QLatin1Char('0'))
        .arg(round, 6, 10, QLatin1Char('0'))
        .arg(item, 3, 10, QLatin1Char('0'));
}

// A data folder whose DB.mdb holds `alerts` alerts with `items` items each.
std::unique_ptr<QTemporaryDir> PopulatedFolder(int alerts, int items)
{
    auto dir = std::make_unique<QTemporaryDir>();
    const QString file = dir->filePath(QStringLiteral("DB.mdb"));
    CreateSchema(file);
    TConnection conn;
    conn.Open(file);
    TConnection::Transaction t(conn);
    TQuery q(conn);
    for (int a = 1; a <= alerts; ++a) {
        q.SetSQL(Sql::kInsertAlert);
        q.SetParam(QStringLiteral("Name"), QStringLiteral("Alert %1").arg(a));
        q.SetParam(QStringLiteral("Keywords"), QStringLiteral("tiffany lamp -repro"));
        q.SetParam(QStringLiteral("Country"), QStringLiteral("United States"));
        q.ExecSQL();
        for (int i = 0; i < items; ++i)
            ExecQuery(&q, Sql::kInsertItem, 15,
                      ItemValues(a, EbayId(a, i, 0), QStringLiteral("seed")));
    }
    t.Commit();
    return dir;
}

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Arg 0: each statement on its own; 1: each phase in one transaction; 2: the whole cycle in one
// transaction, as one search run merges (its commit is counted with the last phase).
void BM_MergeCycle(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    auto dir = PopulatedFolder(50, 100);
    TConnection conn;
    conn.Open(dir->filePath(QStringLiteral("DB.mdb")));
    TQuery q(conn);
    const int alert = 51; // its items arrive new in every cycle and leave with the next
    std::unique_ptr<TConnection::Transaction> run;
    auto phase = [&](auto&& body) {
        const auto start = Clock::now();
        std::unique_ptr<TConnection::Transaction> t;
        if (mode == 1)
            t = std::make_unique<TConnection::Transaction>(conn);
        body();
        if (t)
            t->Commit();
        return Ms(start);
    };

    double insertMs = 0, updateMs = 0, sweepMs = 0, countMs = 0;
    std::vector<double> cycleMs;
    int round = 0;
    for (auto _ : state) {
        ++round;
        const QString token = QStringLiteral("t%1").arg(round);
        const auto cycleStart = Clock::now();
        if (mode == 2)
            run = std::make_unique<TConnection::Transaction>(conn);
        insertMs += phase([&] {
            for (int i = 0; i < 100; ++i) {
                const QString id = EbayId(alert, i, round);
                OpenQuery(&q, Sql::kItemKnown, 2, {alert, id});
                if (q.RecordCount() == 0)
                    ExecQuery(&q, Sql::kInsertItem, 15, ItemValues(alert, id, token));
            }
        });
        updateMs += phase([&] {
            for (int i = 0; i < 100; ++i) {
                const QString id = EbayId(alert, i, round);
                OpenQuery(&q, Sql::kItemKnown, 2, {alert, id});
                if (q.RecordCount() > 0)
                    ExecQuery(&q, Sql::kUpdateItem, 6,
                              {QStringLiteral("151.00"), QStringLiteral("8"),
                               QStringLiteral("seen"), token, alert, id});
            }
        });
        sweepMs += phase([&] { ExecQuery(&q, Sql::kSweepItems, 2, {token, alert}); });
        countMs += phase([&] {
            OpenQuery(&q, Sql::kNewItems, 2, {QStringLiteral("new"), alert});
            benchmark::DoNotOptimize(q.RecordCount());
            if (run) {
                run->Commit();
                run.reset();
            }
        });
        cycleMs.push_back(Ms(cycleStart));
    }
    using benchmark::Counter;
    state.counters["insert_ms"] = Counter(insertMs, Counter::kAvgIterations);
    state.counters["update_ms"] = Counter(updateMs, Counter::kAvgIterations);
    state.counters["sweep_ms"] = Counter(sweepMs, Counter::kAvgIterations);
    state.counters["count_ms"] = Counter(countMs, Counter::kAvgIterations);
    // The median cycle of this repetition, less swayed by a checkpoint than the mean.
    std::sort(cycleMs.begin(), cycleMs.end());
    state.counters["cycle_median_ms"] = cycleMs.empty() ? 0 : cycleMs[cycleMs.size() / 2];
}
BENCHMARK(BM_MergeCycle)
    ->ArgName("transaction")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

void BM_PrepareDatabase(benchmark::State& state)
{
    auto dir = PopulatedFolder(200, 100);
    const QString folder = dir->path() + QLatin1Char('/');
    for (auto _ : state)
        PrepareDatabase(folder);
}
BENCHMARK(BM_PrepareDatabase)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
