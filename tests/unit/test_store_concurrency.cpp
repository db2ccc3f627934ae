#include "TestEnv.h"
#include "untStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 25;
constexpr int kItemsPerRun = 40;

// Runs a statement with positional values and throws on any failure, unlike the helpers, so that
// a failed statement cannot go unnoticed.
void RunStatement(TQuery& q, const QString& sql, const QVariantList& values, bool rows)
{
    q.SetSQL(sql);
    for (int i = 0; i < values.size(); ++i)
        q.SetParam(QStringLiteral("S") + QString::number(i), values[i]);
    if (rows)
        q.Open();
    else
        q.ExecSQL();
}

QString EbayId(int alert, int item)
{
    return QStringLiteral("%1-%2").arg(alert).arg(item);
}

// One merge as a search run makes it; each round returns a window of items that moves on, so
// every round inserts, updates and sweeps.
void MergeRounds(TConnection& conn, int alert, bool inTransaction, std::atomic<int>& failures)
{
    TQuery q(conn);
    for (int round = 0; round < kRounds; ++round) {
        const QString token = QStringLiteral("t%1").arg(round);
        try {
            std::unique_ptr<TConnection::Transaction> t;
            if (inTransaction)
                t = std::make_unique<TConnection::Transaction>(conn);
            for (int i = round * 10; i < round * 10 + kItemsPerRun; ++i) {
                const QString ebayid = EbayId(alert, i);
                RunStatement(q, Sql::kItemKnown, {alert, ebayid}, true);
                if (q.RecordCount() == 0) {
                    RunStatement(q, Sql::kInsertItem,
                                 {alert, QStringLiteral("pic"), ebayid, QStringLiteral("st"),
                                  QStringLiteral("lst"), QStringLiteral("et"),
                                  QStringLiteral("let"), QStringLiteral("title"),
                                  QStringLiteral("url"), QStringLiteral("1.00"), QString(),
                                  QStringLiteral("USD"), QStringLiteral("0"), token,
                                  QStringLiteral("new")},
                                 false);
                } else {
                    RunStatement(q, Sql::kUpdateItem,
                                 {QStringLiteral("2.00"), QStringLiteral("1"),
                                  QStringLiteral("seen"), token, alert, ebayid},
                                 false);
                    if (q.RowsAffected() != 1)
                        ++failures;
                }
            }
            RunStatement(q, Sql::kSweepItems, {token, alert}, false);
            RunStatement(q, Sql::kNewItems, {QStringLiteral("new"), alert}, true);
            // The first round finds everything new, later ones the 10 items entering the window.
            if (q.RecordCount() != (round == 0 ? kItemsPerRun : 10))
                ++failures;
            if (t)
                t->Commit();
        } catch (const EDatabaseError& e) {
            ADD_FAILURE() << "alert " << alert << ": " << e.what();
            ++failures;
        }
    }
}

TEST(StoreConcurrencyTest, WorkersMergeWhileTheListIsRead)
{
    TTestEnv env;
    const QString file = env.Root() + QStringLiteral("/DB.mdb");
    CreateSchema(file);
    TConnection conn;
    conn.Open(file);
    {
        TQuery q(conn);
        for (int a = 1; a <= kWorkers; ++a) {
            q.SetSQL(Sql::kInsertAlert);
            q.SetParam(QStringLiteral("Name"), QStringLiteral("alert %1").arg(a));
            q.SetParam(QStringLiteral("Keywords"), QStringLiteral("kw"));
            q.SetParam(QStringLiteral("Country"), QStringLiteral("Spain"));
            q.ExecSQL();
        }
    }

    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::atomic<int> listReads{0};
    std::thread reader([&] {
        TQuery q(conn);
        while (!done) {
            try {
                RunStatement(q, Sql::kAlertsByName, {}, true);
                if (q.RecordCount() != kWorkers)
                    ++failures;
                ++listReads;
            } catch (const EDatabaseError& e) {
                ADD_FAILURE() << "list: " << e.what();
                ++failures;
            }
        }
    });
    std::vector<std::thread> workers;
    for (int a = 1; a <= kWorkers; ++a)
        workers.emplace_back([&, a] { MergeRounds(conn, a, a % 2 == 0, failures); });
    for (auto& w : workers)
        w.join();
    done = true;
    reader.join();

    EXPECT_EQ(failures, 0);
    EXPECT_GT(listReads, 0);
    const int last = kRounds - 1;
    TQuery q(conn);
    for (int a = 1; a <= kWorkers; ++a) {
        SCOPED_TRACE(a);
        OpenQuery(&q, Sql::kAlertItems, 1, {a});
        std::set<QString> ids;
        for (; !q.Eof(); q.Next()) {
            ids.insert(q.FieldAsString(QStringLiteral("ebayid")));
            EXPECT_EQ(q.FieldAsString(QStringLiteral("token")), QStringLiteral("t%1").arg(last));
        }
        std::set<QString> expected;
        for (int i = last * 10; i < last * 10 + kItemsPerRun; ++i)
            expected.insert(EbayId(a, i));
        EXPECT_TRUE(ids == expected);
        EXPECT_EQ(q.RecordCount(), kItemsPerRun);
    }
}

// Quitting does not wait for workers: a worker's statements after Close fail as errors.
TEST(StoreConcurrencyTest, CloseWhileWorkersRunGivesThemErrors)
{
    TTestEnv env;
    const QString file = env.Root() + QStringLiteral("/DB.mdb");
    CreateSchema(file);
    auto conn = std::make_unique<TConnection>();
    conn->Open(file);

    std::atomic<int> started{0};
    std::atomic<int> errors{0};
    std::vector<std::thread> workers;
    for (int a = 1; a <= 3; ++a) {
        workers.emplace_back([&, a, c = conn.get()] {
            TQuery q(*c);
            for (int i = 0;; ++i) {
                try {
                    RunStatement(q, Sql::kInsertItem,
                                 {a, QString(), EbayId(a, i), QString(), QString(), QString(),
                                  QString(), QString(), QString(), QString(), QString(), QString(),
                                  QString(), QStringLiteral("t"), QStringLiteral("new")},
                                 false);
                    RunStatement(q, Sql::kItemKnown, {a, EbayId(a, i)}, true);
                } catch (const EDatabaseError&) {
                    ++errors;
                    return;
                }
                if (i == 5)
                    ++started;
            }
        });
    }
    while (started < 3)
        std::this_thread::yield();
    conn.reset();
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(errors, 3);

    // Whatever was committed is intact.
    TConnection again;
    again.Open(file);
    TQuery q(again);
    q.SetSQL(QStringLiteral("PRAGMA integrity_check"));
    q.Open();
    EXPECT_EQ(q.FieldAsString(QStringLiteral("integrity_check")), QStringLiteral("ok"));
}

} // namespace
