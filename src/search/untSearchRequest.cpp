#include "untSearchRequest.h"

#include "cls.Alert.h"
#include "untCode.h"
#include "untEndpoints.h"
#include "untHashesEncodings.h"
#include "untLog.h"
#include "untStrFunctions.h"

QString BuildQueryText(const TAlert& alert)
{
    const QString plain =
        alert.Misspellings() ? MisspellingVariants(alert.Keywords()) : alert.Keywords();
    const QString query = Base64Encode(plain);
    siMain.LogString("Search Keywords:", alert.Keywords());
    siMain.LogString("Keywords:", alert.Keywords());
    siMain.LogString("Base64 Keywords:", query);
    return query;
}

QString DrawRequestKey()
{
    return QString::number(RandomBelow(Search::kKeyBound));
}

QString SignatureHash1(const QString& query, const QString& key, const QString& entries)
{
    return Sha1Hex(query + key + entries);
}

QString SignatureHash2(const QString& key, const QString& hash1)
{
    return Sha1Hex(key + hash1);
}

TSearchRequest ComposeSearchRequest(const TAlert& alert, const QString& baseUrl, const QString& key)
{
    TSearchRequest r;
    r.key = key;
    r.query = BuildQueryText(alert);
    r.siteId = QStringLiteral("0");
    if (!alert.Country().isEmpty())
        EbaySiteId(alert.Country(), r.siteId);
    r.buyItNow = alert.SearchType() == 1;
    if (alert.CategoryID() > 0 && alert.UseCategory() && r.siteId == QLatin1String("0"))
        r.category = QString::number(alert.CategoryID());

    const QString entries = QString::number(Search::kEntryCount);
    r.hash1 = SignatureHash1(r.query, r.key, entries);
    r.hash2 = SignatureHash2(r.key, r.hash1);

    QString u = Endpoints::Address(baseUrl, Endpoints::kSearch) + QStringLiteral("?query=") +
                r.query + QStringLiteral("&descriptionSearch=") +
                (alert.SearchDescription() ? QStringLiteral("True") : QStringLiteral("False")) +
                QStringLiteral("&siteID=") + r.siteId + QStringLiteral("&maxEntries=") + entries;
    if (alert.ListedinPaypal())
        u += QStringLiteral("&paymentMethod=PayPal");
    if (!alert.MinPrice().isEmpty())
        u += QStringLiteral("&priceMin=") + alert.MinPrice();
    if (!alert.MaxPrice().isEmpty())
        u += QStringLiteral("&priceMax=") + alert.MaxPrice();
    if (r.buyItNow)
        u += QStringLiteral("&itemSort=StartDate&itemType=FixedPricedItem");
    else
        u += QStringLiteral("&itemSort=EndDate&itemType=AllItemTypes");
    u += QStringLiteral("&securityHash=") + r.hash2 + QStringLiteral("&securityKey=") + r.key;
    if (!r.category.isEmpty())
        u += QStringLiteral("&categoryID=") + r.category;
    r.url = u;
    return r;
}

QString NothingToAskMessage(const QString& alertName)
{
    return QStringLiteral("<b><FONT color=\"clred\">Error: ") + alertName.toHtmlEscaped() +
           QStringLiteral("</font></b><br>You failed to specify keyword(s) or category for this "
                          "search. Edit your alert and try again.");
}
