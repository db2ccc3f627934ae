#include "cls.Alert.h"

#include "untLog.h"
#include "untStore.h"
#include "untStrFunctions.h"

#include <QStringList>

namespace {
constexpr int kAnytimeSeconds = 25056000; // 290 days
}

TAlert TAlert::Create(const TQuery& query)
{
    TAlert alert;
    alert.LoadFromRow(query);
    return alert;
}

TAlert TAlert::CreateNew(TQuery& query, const QString& name, const QString& keywords,
                         const QString& country)
{
    TAlert alert;
    alert.fIsNew = true;
    alert.fCategoryID = 0;
    alert.fError = false;
    alert.SetName(name);
    alert.SetKeywords(keywords);
    alert.SetCountry(country);
    alert.InsertNew(query);
    alert.fIsNew = false;
    if (!alert.fError) {
        query.SetSQL(Sql::kAlertReadBack);
        alert.BindParams(&query);
        query.Open();
        alert.LoadFromRow(query);
        query.Close();
    }
    siMain.LogInt("Loaded Alert fId", alert.fId);
    return alert;
}

void TAlert::Save(TQuery& query)
{
    query.SetSQL(Sql::kUpdateAlert);
    BindParams(&query);
    siMain.LogInt("saving with fAutomaticInterval", fAutomaticInterval);
    query.ExecSQL();
}

int TAlert::IntervalMs() const
{
    if (!fAutomaticMode)
        return 0;
    switch (fAutomaticInterval) {
    case 0:
        return 300000;
    case 1:
        return 900000;
    case 2:
        return 1800000;
    case 3:
        return 2700000;
    case 4:
        return 3600000;
    default:
        return 0;
    }
}

int TAlert::StartedWithinSeconds() const
{
    switch (fStartedWithin) {
    case 0:
        return 300;
    case 1:
        return 600;
    case 2:
        return 1800;
    case 3:
        return 3600;
    case 4:
        return 43200;
    case 5:
        return 86400;
    default:
        return kAnytimeSeconds;
    }
}

QString TAlert::CategoryText()
{
    if (fCategoryID == 0)
        fCategoryName.clear();
    return QString::number(fCategoryID) + QStringLiteral("|\"") + fCategoryName + QLatin1Char('"');
}

void TAlert::LoadFromRow(const TQuery& query)
{
    fId = static_cast<int>(query.FieldAsInteger(QStringLiteral("id")));
    fName = query.FieldAsString(QStringLiteral("name"));
    fKeywords = query.FieldAsString(QStringLiteral("keywords"));
    fCountry = query.FieldAsString(QStringLiteral("country"));
    fSearchType = static_cast<int>(query.FieldAsInteger(QStringLiteral("searchtype")));
    fStartedWithin = static_cast<int>(query.FieldAsInteger(QStringLiteral("startedwithin")));
    fUseCategory = query.FieldAsBoolean(QStringLiteral("usecategory"));
    fAutomaticMode = query.FieldAsBoolean(QStringLiteral("Eautomatic"));
    fAutomaticInterval = static_cast<int>(query.FieldAsInteger(QStringLiteral("automatic")));
    fSearchDescription = query.FieldAsBoolean(QStringLiteral("searchdesc"));
    fMisspellings = query.FieldAsBoolean(QStringLiteral("misspellings"));
    fListedInPaypal = query.FieldAsBoolean(QStringLiteral("listedpaypal"));
    fMinPrice = query.FieldAsString(QStringLiteral("minPrice"));
    fMaxPrice = query.FieldAsString(QStringLiteral("maxPrice"));
    fAudioAlert = query.FieldAsBoolean(QStringLiteral("audio"));
    ParseCategory(query.FieldAsString(QStringLiteral("category")));
}

void TAlert::ParseCategory(const QString& text)
{
    fCategoryID = 0;
    fCategoryName.clear();
    QStringList items;
    SplitText(QLatin1Char('|'), text, &items);
    if (items.size() != 2)
        return;
    bool ok = false;
    const int id = items[0].toInt(&ok);
    fCategoryID = ok ? id : 0;
    if (fCategoryID > 0)
        fCategoryName = items[1];
}

bool TAlert::NameExists(TQuery& query)
{
    query.SetSQL(Sql::kAlertNameExists);
    BindParams(&query);
    query.Open();
    const int count = query.RecordCount();
    query.Close();
    return count > 0;
}

void TAlert::InsertNew(TQuery& query)
{
    if (NameExists(query)) {
        fError = true;
        fErrorMsg = QStringLiteral("An alert with this name already exists");
    }
    siMain.LogString("fErrorMsg", fErrorMsg);
    if (fError)
        return;
    query.SetSQL(Sql::kInsertAlert);
    BindParams(&query);
    query.ExecSQL();
}

void TAlert::BindParams(TQuery* query)
{
    if (!query)
        return;
    if (!fIsNew)
        SetParamIfPresent(query, QStringLiteral("ID"), fId);
    SetParamIfPresent(query, QStringLiteral("Name"), fName);
    SetParamIfPresent(query, QStringLiteral("Keywords"), fKeywords);
    SetParamIfPresent(query, QStringLiteral("Country"), fCountry);
    SetParamIfPresent(query, QStringLiteral("SearchType"), fSearchType);
    SetParamIfPresent(query, QStringLiteral("StartedWithin"), fStartedWithin);
    SetParamIfPresent(query, QStringLiteral("Category"), CategoryText());
    SetParamIfPresent(query, QStringLiteral("UseCategory"), fUseCategory);
    SetParamIfPresent(query, QStringLiteral("AutomaticMode"), fAutomaticMode);
    SetParamIfPresent(query, QStringLiteral("AutomaticInterval"), fAutomaticInterval);
    SetParamIfPresent(query, QStringLiteral("SearchDescription"), fSearchDescription);
    SetParamIfPresent(query, QStringLiteral("Misspellings"), fMisspellings);
    SetParamIfPresent(query, QStringLiteral("ListedinPaypal"), fListedInPaypal);
    SetParamIfPresent(query, QStringLiteral("MinPrice"), fMinPrice);
    SetParamIfPresent(query, QStringLiteral("MaxPrice"), fMaxPrice);
    SetParamIfPresent(query, QStringLiteral("AudioAlert"), fAudioAlert);
}
