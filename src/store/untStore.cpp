#include "untStore.h"

// Placeholder until the store is written: every statement fails.
struct TConnection::Impl
{
};

TConnection::TConnection() : d(std::make_shared<Impl>()) {}
TConnection::~TConnection() = default;
void TConnection::Open(const QString&)
{
    throw EDatabaseError("not implemented");
}
void TConnection::Close() {}
bool TConnection::Connected() const
{
    return false;
}
QString TConnection::DatabaseFile() const
{
    return QString();
}
TConnection::Transaction::Transaction(TConnection& connection) : fConnection(connection) {}
TConnection::Transaction::~Transaction() = default;
void TConnection::Transaction::Commit() {}

TQuery::TQuery(TConnection& connection) : fConnection(connection) {}
TQuery::~TQuery() = default;
void TQuery::SetSQL(const QString& sql)
{
    fSql = sql;
}
void TQuery::SetParam(const QString&, const QVariant&) {}
void TQuery::Open()
{
    throw EDatabaseError("not implemented");
}
void TQuery::ExecSQL()
{
    throw EDatabaseError("not implemented");
}
void TQuery::Close() {}
QString TQuery::FieldAsString(const QString&) const
{
    return QString();
}
qint64 TQuery::FieldAsInteger(const QString&) const
{
    return 0;
}
bool TQuery::FieldAsBoolean(const QString&) const
{
    return false;
}
bool TQuery::HasField(const QString&) const
{
    return false;
}
const QVariant* TQuery::Field(const QString&) const
{
    return nullptr;
}
void OpenQuery(TQuery*, const QString&, int, const QVariantList&) {}
void ExecQuery(TQuery*, const QString&, int, const QVariantList&) {}
void SetParamIfPresent(TQuery*, const QString&, const QVariant&) {}
QString SqlLogText(const QString& sql, int, const QVariantList&)
{
    return sql;
}
void CreateSchema(const QString&)
{
    throw EDatabaseError("not implemented");
}
