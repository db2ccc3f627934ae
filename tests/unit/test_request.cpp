#include "cls.Alert.h"
#include "untCode.h"
#include "untSearchRequest.h"

#include <QCryptographicHash>
#include <QSet>

#include <gtest/gtest.h>

namespace {
const QString kBase = QStringLiteral("http://127.0.0.1:9");

QString Sha1(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

TAlert Alert(const QString& keywords, const QString& country = QStringLiteral("United States"))
{
    TAlert a;
    a.SetName(QStringLiteral("Test"));
    a.SetKeywords(keywords);
    a.SetCountry(country);
    return a;
}

// The query part after the base address and path.
QString Keys(const TSearchRequest& r)
{
    const QString prefix = kBase + QStringLiteral("/ebayAPI/bidlark/bidlark.php?");
    EXPECT_TRUE(r.url.startsWith(prefix)) << r.url.toStdString();
    return r.url.mid(prefix.size());
}
} // namespace

TEST(BuildQueryText, PlainAndMisspelled)
{
    TAlert a = Alert(QStringLiteral("ipod -case, new"));
    EXPECT_EQ(BuildQueryText(a), QString::fromLatin1(QByteArray("ipod -case, new").toBase64()));
    a.SetKeywords(QStringLiteral("Cat,"));
    a.SetMisspellings(true);
    EXPECT_EQ(
        BuildQueryText(a),
        QString::fromLatin1(
            QByteArray("(at,ct,ca,act,cta,ccat,caat,catt,cct,caa,cat,ct,cst,car,cay)").toBase64()));
    a.SetKeywords(QStringLiteral(" -excluded "));
    EXPECT_EQ(BuildQueryText(a), QStringLiteral("KCk="));
}

TEST(ComposeSearchRequest, PiecesInOrder)
{
    TAlert a = Alert(QStringLiteral("cat"), QStringLiteral("Canada"));
    a.SetSearchType(1);
    a.SetListedinPaypal(true);
    a.SetMinPrice(QStringLiteral("10"));
    a.SetMaxPrice(QStringLiteral("99.50"));
    a.SetCategoryID(293);
    a.SetUseCategory(true); // not the US site: no category piece
    const TSearchRequest r = ComposeSearchRequest(a, kBase, QStringLiteral("815"));
    EXPECT_TRUE(r.buyItNow);
    EXPECT_EQ(Keys(r),
              QStringLiteral("query=Y2F0&descriptionSearch=False&siteID=2&maxEntries=100"
                             "&paymentMethod=PayPal&priceMin=10&priceMax=99.50"
                             "&itemSort=StartDate&itemType=FixedPricedItem&securityHash=") +
                  r.hash2 + QStringLiteral("&securityKey=815"));
    EXPECT_EQ(r.hash1, Sha1("Y2F0815100"));
    EXPECT_EQ(r.hash2, Sha1("815" + r.hash1.toLatin1()));
}

TEST(ComposeSearchRequest, OptionalPiecesAndSiteIds)
{
    TAlert a = Alert(QStringLiteral("cat"));
    a.SetMaxPrice(QStringLiteral("50"));
    a.SetSearchDescription(true);
    QString keys = Keys(ComposeSearchRequest(a, kBase, QStringLiteral("1")));
    EXPECT_TRUE(keys.contains(QStringLiteral("&descriptionSearch=True&siteID=0&")));
    EXPECT_TRUE(keys.contains(QStringLiteral("&maxEntries=100&priceMax=50&itemSort=EndDate"
                                             "&itemType=AllItemTypes&securityHash=")));
    EXPECT_FALSE(keys.contains(QStringLiteral("priceMin")));
    EXPECT_FALSE(keys.contains(QStringLiteral("paymentMethod")));

    const struct
    {
        const char* country;
        const char* site;
    } sites[] = {{"Australia", "15"}, {"eBay Motors", "100"},
                 {"France", "71"},    {"united kingdom", "0"},
                 {"", "0"},           {"Atlantis", "0"}};
    for (const auto& s : sites) {
        a.SetCountry(QString::fromLatin1(s.country));
        EXPECT_EQ(ComposeSearchRequest(a, kBase, QStringLiteral("1")).siteId,
                  QString::fromLatin1(s.site))
            << s.country;
    }
}

TEST(ComposeSearchRequest, CategoryRule)
{
    const struct
    {
        int id;
        bool use;
        const char* country;
        bool sent;
    } cases[] = {
        {293, true, "United States", true},   {293, true, "", true},
        {293, true, "Nowhere", true},         {293, true, "United Kingdom", false},
        {293, false, "United States", false}, {0, true, "United States", false},
    };
    for (const auto& c : cases) {
        TAlert a = Alert(QStringLiteral("cat"), QString::fromLatin1(c.country));
        a.SetCategoryID(c.id);
        a.SetUseCategory(c.use);
        const TSearchRequest r = ComposeSearchRequest(a, kBase, QStringLiteral("7"));
        EXPECT_EQ(r.url.endsWith(QStringLiteral("&securityKey=7&categoryID=293")), c.sent)
            << c.id << c.use << c.country;
        EXPECT_EQ(r.url.contains(QStringLiteral("categoryID")), c.sent);
    }
}

TEST(ComposeSearchRequest, NothingToAsk)
{
    TAlert a = Alert(QString());
    TSearchRequest r = ComposeSearchRequest(a, kBase, QStringLiteral("42"));
    EXPECT_TRUE(r.NothingToAsk());

    a.SetCategoryID(293);
    a.SetUseCategory(true);
    r = ComposeSearchRequest(a, kBase, QStringLiteral("42"));
    EXPECT_FALSE(r.NothingToAsk());
    EXPECT_TRUE(Keys(r).startsWith(QStringLiteral("query=&descriptionSearch=")));
    EXPECT_EQ(r.hash1, Sha1("42100"));

    a.SetName(QStringLiteral("<My & alert>"));
    EXPECT_EQ(NothingToAskMessage(a.Name()),
              QStringLiteral("<b><FONT color=\"clred\">Error: &lt;My &amp; alert&gt;</font></b><br>"
                             "You failed to specify keyword(s) or category for this search. Edit "
                             "your alert and try again."));
}

TEST(DrawRequestKey, RangeAndFreshness)
{
    QSet<QString> keys;
    for (int i = 0; i < 200; ++i) {
        const QString k = DrawRequestKey();
        bool ok = false;
        const int v = k.toInt(&ok);
        ASSERT_TRUE(ok);
        EXPECT_GE(v, 0);
        EXPECT_LT(v, 2999000);
        EXPECT_EQ(k, QString::number(v)); // no leading zeros
        keys.insert(k);
    }
    EXPECT_GT(keys.size(), 190);
}
