#include "TestEnv.h"
#include "untStore.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <thread>

// Readable failure messages.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

class StoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fFile = fEnv.Root() + QStringLiteral("/DB.mdb");
        CreateSchema(fFile);
        fConn.Open(fFile);
    }

    // Statement 8 as the alert record runs it.
    void InsertAlert(const QVariant& name, const QString& keywords = QStringLiteral("kw"))
    {
        TQuery q(fConn);
        q.SetSQL(Sql::kInsertAlert);
        q.SetParam(QStringLiteral("Name"), name);
        q.SetParam(QStringLiteral("Keywords"), keywords);
        q.SetParam(QStringLiteral("Country"), QStringLiteral("United States"));
        q.ExecSQL();
    }

    QVariantList Item(int parent, const QString& ebayid, const QVariant& buynow,
                      const QString& status = QStringLiteral("new"))
    {
        return {parent,
                QStringLiteral("img/x.jpg"),
                ebayid,
                QStringLiteral("2026-12-11T10:00:00.000Z"),
                QStringLiteral("11/12/2026 11:00:00"),
                QStringLiteral("2026-12-12T10:00:00.000Z"),
                QStringLiteral("12/12/2026 11:00:00"),
                QStringLiteral("A title"),
                QStringLiteral("http://example.invalid/item"),
                QStringLiteral("1.00"),
                buynow,
                QStringLiteral("USD"),
                QStringLiteral("0"),
                QStringLiteral("tok"),
                status};
    }

    int Count(const QString& sql)
    {
        TQuery q(fConn);
        q.SetSQL(sql);
        q.Open();
        return static_cast<int>(q.FieldAsInteger(QStringLiteral("n")));
    }

    TTestEnv fEnv;
    QString fFile;
    TConnection fConn;
};

TEST_F(StoreTest, TextComparisonAndOrderingIgnoreCase)
{
    InsertAlert(QStringLiteral("beta"));
    InsertAlert(QStringLiteral("Alpha"));
    InsertAlert(QStringLiteral("Test"));

    TQuery q(fConn);
    q.SetSQL(Sql::kAlertNameExists);
    q.SetParam(QStringLiteral("Name"), QStringLiteral("TEST"));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);

    OpenQuery(&q, Sql::kAlertsByName, 0, {});
    QStringList names;
    for (q.First(); !q.Eof(); q.Next())
        names << q.FieldAsString(QStringLiteral("name"));
    EXPECT_EQ(names, (QStringList{"Alpha", "beta", "Test"}));
}

TEST_F(StoreTest, LengthLimitsAndNotEmptyColumnsAreEnforced)
{
    struct Case
    {
        const char* table;
        const char* column;
        int maxLength; // 0: no limit
        bool notEmpty;
    };
    const Case cases[] = {
        {"alerts", "name", 100, true},          {"alerts", "keywords", 255, false},
        {"alerts", "category", 50, false},      {"alerts", "minPrice", 10, false},
        {"alerts", "maxPrice", 10, false},      {"alerts", "country", 255, false},
        {"auctions", "pic", 75, false},         {"auctions", "ebayid", 50, false},
        {"auctions", "localST", 50, false},     {"auctions", "price", 50, false},
        {"auctions", "buynow", 50, false},      {"auctions", "bidcount", 12, false},
        {"auctions", "token", 12, false},       {"auctions", "status", 10, true},
        {"auctions", "auctiontitle", 0, false}, {"auctions", "sCurren", 0, false},
        {"categories", "cName", 75, false},     {"categories", "cParentID", 50, true},
        {"categories", "cToken", 12, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + "." + c.column);
        const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES (:V)")
                                   .arg(QLatin1String(c.table), QLatin1String(c.column));
        auto run = [&](const QVariant& v) {
            TQuery q(fConn);
            q.SetSQL(insert);
            q.SetParam(QStringLiteral("V"), v);
            q.ExecSQL();
        };
        const int fits = c.maxLength ? c.maxLength : 5000;
        EXPECT_NO_THROW(run(QString(fits, QChar(0x00e9)))); // characters, not bytes
        if (c.maxLength) {
            EXPECT_THROW(run(QString(c.maxLength + 1, QLatin1Char('x'))), EDatabaseError);
        }
        if (c.notEmpty) {
            EXPECT_THROW(run(QString()), EDatabaseError);
            EXPECT_NO_THROW(run(QVariant())); // NULL is still accepted
        } else {
            EXPECT_NO_THROW(run(QString()));
        }
    }
}

TEST_F(StoreTest, NewRowsHaveDefaultsAndIdsAreNeverReused)
{
    InsertAlert(QStringLiteral("one"));
    InsertAlert(QStringLiteral("two"));
    TQuery q(fConn);
    OpenQuery(&q, Sql::kAlertById, 1, {1});
    ASSERT_EQ(q.RecordCount(), 1);
    for (const char* flag :
         {"usecategory", "Eautomatic", "searchdesc", "misspellings", "listedpaypal", "audio"}) {
        EXPECT_TRUE(q.HasField(QLatin1String(flag))) << flag;
        EXPECT_FALSE(q.FieldAsBoolean(QLatin1String(flag))) << flag;
    }
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("searchtype")), 0);
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("automatic")), 0);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("category")), QString());

    ExecQuery(&q, Sql::kDeleteAlert, 1, {2});
    InsertAlert(QStringLiteral("three"));
    OpenQuery(&q, Sql::kAlertIdByName, 1, {QStringLiteral("three")});
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("id")), 3);

    q.SetSQL(QStringLiteral("PRAGMA user_version"));
    q.Open();
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("user_version")), kSchemaVersion);

    q.SetSQL(QStringLiteral("SELECT name FROM sqlite_schema WHERE type='index' AND sql IS NOT "
                            "NULL ORDER BY name COLLATE NOCASE"));
    q.Open();
    QStringList indexes;
    for (; !q.Eof(); q.Next())
        indexes << q.FieldAsString(QStringLiteral("name"));
    EXPECT_EQ(indexes,
              (QStringList{"auctions_parent_ebayid", "ID1", "keywords", "ParentID", "pnum"}));
}

TEST_F(StoreTest, ColumnsReadByNameIgnoringCaseAndNullReadsAsEmpty)
{
    TQuery q(fConn);
    QVariantList item = Item(7, QStringLiteral("e1"), QVariant());
    item[12] = QVariant(); // bidcount NULL
    ExecQuery(&q, Sql::kInsertItem, 15, item);
    OpenQuery(&q, Sql::kAlertItems, 1, {7});
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("LocalST")), QStringLiteral("11/12/2026 11:00:00"));
    EXPECT_EQ(q.FieldAsString(QStringLiteral("LOCALET")), QStringLiteral("12/12/2026 11:00:00"));
    EXPECT_EQ(q.FieldAsString(QStringLiteral("buynow")), QString());
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("bidcount")), 0);
    EXPECT_FALSE(q.FieldAsBoolean(QStringLiteral("bidcount")));
    EXPECT_EQ(q.FieldAsString(QStringLiteral("nosuchcolumn")), QString());
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.FieldAsString(QStringLiteral("ebayid")), QString()); // past the last row
}

TEST_F(StoreTest, BuyNowFilterSkipsEmptyAndNullPrices)
{
    TQuery q(fConn);
    ExecQuery(&q, Sql::kInsertItem, 15, Item(1, QStringLiteral("with"), QStringLiteral("5.00")));
    ExecQuery(&q, Sql::kInsertItem, 15, Item(1, QStringLiteral("empty"), QString()));
    ExecQuery(&q, Sql::kInsertItem, 15, Item(1, QStringLiteral("null"), QVariant()));
    ExecQuery(&q, Sql::kInsertItem, 15, Item(2, QStringLiteral("other"), QStringLiteral("1")));

    OpenQuery(&q, Sql::kAlertItems, 1, {1});
    EXPECT_EQ(q.RecordCount(), 3);
    OpenQuery(&q, Sql::kAlertItems + Sql::kBuyNowOnly, 1, {1});
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("ebayid")), QStringLiteral("with"));
}

TEST(SqlLogTextTest, ReplacesFromTheHighestIndexDown)
{
    QVariantList values;
    for (int i = 0; i < 15; ++i)
        values << QStringLiteral("v%1").arg(i);
    const QString text = SqlLogText(Sql::kInsertItem, 15, values);
    EXPECT_TRUE(
        text.endsWith(QStringLiteral("VALUES (v0,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10,v11,v12,v13,v14)")))
        << text.toStdString();

    // Markers match ignoring case; integers in decimal, texts without quotes, flags as words.
    EXPECT_EQ(SqlLogText(QStringLiteral("a=:s0 AND b=:S1 AND c=:S2 AND d=:S1"), 3,
                         {42, QStringLiteral("x y"), true}),
              QStringLiteral("a=42 AND b=x y AND c=True AND d=x y"));
    EXPECT_EQ(SqlLogText(Sql::kAlertsByName, 0, {}), Sql::kAlertsByName);
}

TEST_F(StoreTest, HelperFailuresAreSwallowedAndLeaveTheQueryClosed)
{
    TQuery q(fConn);
    // One marker more in the count than in the text: fails at binding.
    OpenQuery(&q, Sql::kAlertById, 2, {1, 2});
    EXPECT_FALSE(q.Active());
    // Fewer values than the count.
    OpenQuery(&q, Sql::kItemKnown, 2, {1});
    EXPECT_FALSE(q.Active());
    // A value too long for its column: nothing is stored.
    QVariantList item = Item(1, QStringLiteral("e"), QString());
    item[13] = QStringLiteral("token-too-long");
    ExecQuery(&q, Sql::kInsertItem, 15, item);
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) AS n FROM auctions")), 0);
    // A statement the store does not understand.
    OpenQuery(&q, QStringLiteral("SELECT * FROM nosuchtable"), 0, {});
    EXPECT_FALSE(q.Active());

    fConn.Close();
    EXPECT_NO_THROW(OpenQuery(&q, Sql::kAlertsByName, 0, {}));
    EXPECT_NO_THROW(ExecQuery(&q, Sql::kDeleteAlert, 1, {1}));
    EXPECT_FALSE(q.Active());
    EXPECT_NO_THROW(OpenQuery(nullptr, Sql::kAlertsByName, 0, {}));
}

TEST_F(StoreTest, SetParamIfPresentBindsOnlyNamesTheTextHolds)
{
    InsertAlert(QStringLiteral("Test"));
    TQuery q(fConn);

    // "ID" is no marker of statements 7 to 9: nothing is bound, so nothing throws.
    for (const QString& sql : {Sql::kAlertNameExists, Sql::kInsertAlert, Sql::kAlertReadBack}) {
        q.SetSQL(sql);
        EXPECT_NO_THROW(SetParamIfPresent(&q, QStringLiteral("ID"), 1));
        EXPECT_NO_THROW(SetParamIfPresent(&q, QStringLiteral("Name"), QStringLiteral("x")));
    }

    q.SetSQL(Sql::kAlertByIdNamed);
    SetParamIfPresent(&q, QStringLiteral("ID"), 1);
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);

    // The test is case-sensitive: ":name" is not in "name=:Name", so the statement lacks a value.
    q.SetSQL(Sql::kAlertNameExists);
    SetParamIfPresent(&q, QStringLiteral("name"), QStringLiteral("Test"));
    EXPECT_THROW(q.Open(), EDatabaseError);

    q.SetSQL(Sql::kUpdateAlert);
    EXPECT_THROW(q.SetParam(QStringLiteral("Nothing"), 1), EDatabaseError);
    EXPECT_NO_THROW(SetParamIfPresent(nullptr, QStringLiteral("ID"), 1));
}

TEST_F(StoreTest, QueryOutlivingItsConnectionFailsCleanly)
{
    auto conn = std::make_unique<TConnection>();
    conn->Open(fFile);
    TQuery q(*conn);
    q.SetSQL(Sql::kAlertsByName);
    q.Open();
    conn.reset();
    EXPECT_THROW(q.Open(), EDatabaseError);
    EXPECT_THROW(q.ExecSQL(), EDatabaseError);
}

TEST_F(StoreTest, TransactionCommitsTogetherOrRollsBack)
{
    {
        TConnection::Transaction t(fConn);
        InsertAlert(QStringLiteral("kept"));
        // Another thread's handle does not see it before the commit.
        int seen = -1;
        std::thread([&] {
            seen = Count(QStringLiteral("SELECT count(*) AS n FROM alerts"));
        }).join();
        EXPECT_EQ(seen, 0);
        t.Commit();
    }
    {
        TConnection::Transaction t(fConn);
        InsertAlert(QStringLiteral("dropped"));
    }
    TQuery q(fConn);
    OpenQuery(&q, Sql::kAlertsByName, 0, {});
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("name")), QStringLiteral("kept"));
}

TEST_F(StoreTest, AThreadsHandleClosesWhenTheThreadEnds)
{
    std::thread([&] { InsertAlert(QStringLiteral("from a worker")); }).join();
    // Leaving WAL mode needs the only handle on the file, so this fails while the worker's
    // handle is still open.
    TQuery q(fConn);
    q.SetSQL(QStringLiteral("PRAGMA journal_mode=DELETE"));
    q.Open();
    EXPECT_EQ(q.FieldAsString(QStringLiteral("journal_mode")), QStringLiteral("delete"));
}

TEST(ConnectionTest, OpeningCreatesNothingAndRejectsNonDatabases)
{
    TTestEnv env;
    TConnection conn;
    const QString missing = env.Root() + QStringLiteral("/missing.mdb");
    EXPECT_THROW(conn.Open(missing), EDatabaseError);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(conn.Connected());

    const QString junk = env.Root() + QStringLiteral("/junk.mdb");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'j'));
    f.close();
    EXPECT_THROW(conn.Open(junk), EDatabaseError);
    EXPECT_FALSE(conn.Connected());
}

} // namespace
