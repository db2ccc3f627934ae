#pragma once

// A scratch database with alerts, and readers of an alert's stored items, for search tests and
// benchmarks.

#include "cls.Alert.h"
#include "untStore.h"

#include <QMap>
#include <QTemporaryDir>

#include <functional>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

struct TStoredItem
{
    QString status;
    QString price;
    QString bidCount;
    QString token;
    QString currency;
    QString picture;
    QString localEnd;
};

class TSearchDb
{
public:
    TSearchDb()
    {
        fFile = fDir.path() + QStringLiteral("/DB.mdb");
        CreateSchema(fFile);
        fConnection.Open(fFile);
    }

    TConnection& Connection() { return fConnection; }
    QString File() const { return fFile; }

    // A saved alert; `edit` sets its filters before it is stored.
    int AddAlert(const QString& name, const QString& keywords,
                 const std::function<void(TAlert&)>& edit = {})
    {
        TQuery q(fConnection);
        TAlert alert = TAlert::CreateNew(q, name, keywords, QStringLiteral("United States"));
        if (edit) {
            edit(alert);
            alert.Save(q);
        }
        return alert.Id();
    }

    // The alert's items by eBay id.
    QMap<QString, TStoredItem> Items(int alertId)
    {
        QMap<QString, TStoredItem> items;
        TQuery q(fConnection);
        OpenQuery(&q, Sql::kAlertItems, 1, {alertId});
        for (; !q.Eof(); q.Next()) {
            items.insert(q.FieldAsString(QStringLiteral("ebayid")),
                         {q.FieldAsString(QStringLiteral("status")),
                          q.FieldAsString(QStringLiteral("price")),
                          q.FieldAsString(QStringLiteral("bidcount")),
                          q.FieldAsString(QStringLiteral("token")),
                          q.FieldAsString(QStringLiteral("sCurren")),
                          q.FieldAsString(QStringLiteral("pic")),
                          q.FieldAsString(QStringLiteral("localET"))});
        }
        return items;
    }

    QStringList Ids(int alertId) { return Items(alertId).keys(); }

private:
    QTemporaryDir fDir;
    QString fFile;
    TConnection fConnection;
};
