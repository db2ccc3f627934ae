#include "TestEnv.h"
#include "cls.Alert.h"
#include "untStore.h"

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

class AlertTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString file = fEnv.Root() + QStringLiteral("/DB.mdb");
        CreateSchema(file);
        fConn.Open(file);
    }

    TAlert Load(int id)
    {
        TQuery q(fConn);
        q.SetSQL(Sql::kAlertByIdNamed);
        q.SetParam(QStringLiteral("ID"), id);
        q.Open();
        return TAlert::Create(q);
    }

    int AlertCount()
    {
        TQuery q(fConn);
        OpenQuery(&q, Sql::kAlertsByName, 0, {});
        return q.RecordCount();
    }

    TTestEnv fEnv;
    TConnection fConn;
};

TEST_F(AlertTest, CreateNewStoresNameKeywordsCountryAndLeavesDefaults)
{
    TQuery q(fConn);
    TAlert::CreateNew(q, QStringLiteral("First"), QStringLiteral("a"), QStringLiteral("Spain"));
    const TAlert a = TAlert::CreateNew(q, QStringLiteral("Lamps"), QStringLiteral("tiffany lamp"),
                                       QStringLiteral("United Kingdom"));
    EXPECT_FALSE(a.Error());
    EXPECT_EQ(a.ErrorMsg(), QString());
    EXPECT_EQ(a.Id(), 2);
    EXPECT_EQ(a.Name(), QStringLiteral("Lamps"));
    EXPECT_EQ(a.Keywords(), QStringLiteral("tiffany lamp"));
    EXPECT_EQ(a.Country(), QStringLiteral("United Kingdom"));
    EXPECT_EQ(a.SearchType(), 0);
    EXPECT_EQ(a.StartedWithin(), 0);
    EXPECT_EQ(a.AutomaticInterval(), 0);
    EXPECT_FALSE(a.UseCategory() || a.AutomaticMode() || a.SearchDescription() ||
                 a.Misspellings() || a.ListedinPaypal() || a.AudioAlert());
    EXPECT_EQ(a.MinPrice(), QString());
    EXPECT_EQ(a.MaxPrice(), QString());
    EXPECT_EQ(a.CategoryID(), 0);
    EXPECT_EQ(a.CategoryName(), QString());
}

TEST_F(AlertTest, CreateNewRefusesANameTakenInAnyLetterCase)
{
    TQuery q(fConn);
    TAlert::CreateNew(q, QStringLiteral("Test"), QStringLiteral("a"), QStringLiteral("Spain"));
    const TAlert b =
        TAlert::CreateNew(q, QStringLiteral("TEST"), QStringLiteral("b"), QStringLiteral("Italy"));
    EXPECT_TRUE(b.Error());
    EXPECT_EQ(b.ErrorMsg(), QStringLiteral("An alert with this name already exists"));
    EXPECT_EQ(b.Id(), 0);
    EXPECT_EQ(AlertCount(), 1);
}

TEST_F(AlertTest, StoreErrorsReachTheCaller)
{
    TQuery q(fConn);
    EXPECT_THROW(TAlert::CreateNew(q, QString(101, QLatin1Char('n')), QStringLiteral("k"),
                                   QStringLiteral("Spain")),
                 EDatabaseError);
    EXPECT_THROW(TAlert::CreateNew(q, QString(), QStringLiteral("k"), QStringLiteral("Spain")),
                 EDatabaseError);
    EXPECT_EQ(AlertCount(), 0);

    TAlert a = TAlert::CreateNew(q, QString(100, QLatin1Char('n')), QStringLiteral("k"),
                                 QStringLiteral("Spain"));
    ASSERT_FALSE(a.Error());
    a.SetCategoryID(1);
    a.SetCategoryName(QString(46, QLatin1Char('c'))); // 1|"..." is 50 characters: fits
    EXPECT_NO_THROW(a.Save(q));
    a.SetCategoryName(QString(47, QLatin1Char('c')));
    EXPECT_THROW(a.Save(q), EDatabaseError);
}

TEST_F(AlertTest, SaveWritesEveryValueToItsOwnColumn)
{
    TQuery q(fConn);
    TAlert a = TAlert::CreateNew(q, QStringLiteral("Coins"), QStringLiteral("silver"),
                                 QStringLiteral("Canada"));
    a.SetName(QStringLiteral("Old coins"));
    a.SetKeywords(QStringLiteral("silver dollar"));
    a.SetCountry(QStringLiteral("Hong Kong"));
    a.SetSearchType(1);
    a.SetStartedWithin(4);
    a.SetCategoryID(11116);
    a.SetCategoryName(QStringLiteral("Coins & Paper Money"));
    a.SetUseCategory(true);
    a.SetAutomaticMode(true);
    a.SetAutomaticInterval(3);
    a.SetSearchDescription(true);
    a.SetMisspellings(false);
    a.SetListedinPaypal(true);
    a.SetMinPrice(QStringLiteral("1.50"));
    a.SetMaxPrice(QStringLiteral("99"));
    a.SetAudioAlert(true);
    a.Save(q);

    const TAlert b = Load(a.Id());
    EXPECT_EQ(b.Id(), a.Id());
    EXPECT_EQ(b.Name(), QStringLiteral("Old coins"));
    EXPECT_EQ(b.Keywords(), QStringLiteral("silver dollar"));
    EXPECT_EQ(b.Country(), QStringLiteral("Hong Kong"));
    EXPECT_EQ(b.SearchType(), 1);
    EXPECT_EQ(b.StartedWithin(), 4);
    EXPECT_EQ(b.CategoryID(), 11116);
    EXPECT_EQ(b.CategoryName(), QStringLiteral("Coins & Paper Money"));
    EXPECT_TRUE(b.UseCategory());
    EXPECT_TRUE(b.AutomaticMode());
    EXPECT_EQ(b.AutomaticInterval(), 3);
    EXPECT_TRUE(b.SearchDescription());
    EXPECT_FALSE(b.Misspellings());
    EXPECT_TRUE(b.ListedinPaypal());
    EXPECT_EQ(b.MinPrice(), QStringLiteral("1.50"));
    EXPECT_EQ(b.MaxPrice(), QStringLiteral("99"));
    EXPECT_TRUE(b.AudioAlert());

    OpenQuery(&q, Sql::kAlertById, 1, {a.Id()});
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("listedpaypal")), 1);
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("misspellings")), 0);
    EXPECT_EQ(q.FieldAsString(QStringLiteral("category")),
              QStringLiteral("11116|\"Coins & Paper Money\""));

    // Save checks no name: another alert may be given this one's name.
    TAlert c = TAlert::CreateNew(q, QStringLiteral("Stamps"), QStringLiteral("s"),
                                 QStringLiteral("India"));
    c.SetName(QStringLiteral("old COINS"));
    EXPECT_NO_THROW(c.Save(q));
    EXPECT_EQ(Load(c.Id()).Name(), QStringLiteral("old COINS"));
}

TEST_F(AlertTest, StoredCategoryTextIsParsedStrictly)
{
    struct Case
    {
        const char* stored;
        int id;
        const char* name;
    };
    const Case cases[] = {
        {"123|\"Coins Paper\"", 123, "Coins Paper"},
        {"0|\"\"", 0, ""},
        {"77", 0, ""},               // a bare id
        {"", 0, ""},                 // empty
        {"5|Foo Bar", 0, ""},        // unquoted name with a blank: three items
        {"12|Single", 12, "Single"}, // unquoted name without a blank
        {"-4|\"Negative\"", -4, ""}, // no name for an id that is not positive
        {"abc|\"Letters\"", 0, ""},  // not a number
        {"0|\"Name for none\"", 0, ""},
    };
    TQuery q(fConn);
    const TAlert a =
        TAlert::CreateNew(q, QStringLiteral("Cat"), QStringLiteral("k"), QStringLiteral("France"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        q.SetSQL(QStringLiteral("UPDATE alerts SET category=:C WHERE id=:ID"));
        q.SetParam(QStringLiteral("C"), QString::fromUtf8(c.stored));
        q.SetParam(QStringLiteral("ID"), a.Id());
        q.ExecSQL();
        const TAlert b = Load(a.Id());
        EXPECT_EQ(b.CategoryID(), c.id);
        EXPECT_EQ(b.CategoryName(), QString::fromUtf8(c.name));
    }
}

TEST(AlertValuesTest, CategoryTextAndNameRule)
{
    TAlert a;
    a.SetCategoryName(QStringLiteral("Early")); // id still 0
    EXPECT_EQ(a.CategoryName(), QString());
    a.SetCategoryID(123);
    a.SetCategoryName(QStringLiteral("Coins Paper"));
    EXPECT_EQ(a.CategoryName(), QStringLiteral("Coins Paper"));
    EXPECT_EQ(a.CategoryText(), QStringLiteral("123|\"Coins Paper\""));

    a.SetCategoryID(0);
    EXPECT_EQ(a.CategoryText(), QStringLiteral("0|\"\""));
    EXPECT_EQ(a.CategoryName(), QString());
}

TEST(AlertValuesTest, TimeWindowAndIntervalTables)
{
    const std::pair<int, int> windows[] = {{0, 300},      {1, 600},      {2, 1800},
                                           {3, 3600},     {4, 43200},    {5, 86400},
                                           {6, 25056000}, {7, 25056000}, {-1, 25056000}};
    for (auto [index, seconds] : windows) {
        TAlert a;
        a.SetStartedWithin(index);
        EXPECT_EQ(a.StartedWithinSeconds(), seconds) << index;
    }
    const std::pair<int, int> intervals[] = {{0, 300000},  {1, 900000}, {2, 1800000}, {3, 2700000},
                                             {4, 3600000}, {5, 0},      {-1, 0}};
    for (auto [index, ms] : intervals) {
        TAlert a;
        a.SetAutomaticInterval(index);
        EXPECT_EQ(a.IntervalMs(), 0) << "automatic off, " << index;
        a.SetAutomaticMode(true);
        EXPECT_EQ(a.IntervalMs(), ms) << index;
    }
}

TEST_F(AlertTest, CreateOnAnEmptyResultGivesAnEmptyRecord)
{
    const TAlert a = Load(42);
    EXPECT_EQ(a.Id(), 0);
    EXPECT_EQ(a.Name(), QString());
    EXPECT_EQ(a.CategoryID(), 0);
    EXPECT_FALSE(a.Error());
    EXPECT_FALSE(a.AudioAlert());
}

} // namespace
