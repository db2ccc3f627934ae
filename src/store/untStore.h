#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>
#include <stdexcept>
#include <vector>

// A statement the store refused, or a connection that is not open.
class EDatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Every statement the program issues. Parameters: positional ":S0", ":S1", ... (values handed to
// OpenQuery / ExecQuery in index order) or named (bound by their issuer).
namespace Sql {
inline const QString kAlertsByName = QStringLiteral("SELECT * FROM alerts ORDER BY name ASC");
inline const QString kAlertById = QStringLiteral("SELECT * FROM alerts WHERE id=:S0");
inline const QString kAlertIdByName = QStringLiteral("SELECT id FROM alerts WHERE name=:S0");
inline const QString kDeleteAlert = QStringLiteral("DELETE FROM alerts WHERE id=:S0");
inline const QString kDeleteAlertItems = QStringLiteral("DELETE FROM auctions WHERE parent=:S0");
inline const QString kAlertByIdNamed = QStringLiteral("SELECT * FROM alerts WHERE id=:ID");
inline const QString kAlertNameExists = QStringLiteral("SELECT id FROM alerts WHERE name=:Name");
inline const QString kInsertAlert =
    QStringLiteral("INSERT into alerts (name,keywords,country) VALUES (:Name,:Keywords,:Country)");
inline const QString kAlertReadBack = QStringLiteral(
    "SELECT * FROM alerts WHERE name=:Name AND keywords=:Keywords AND country=:Country");
inline const QString kUpdateAlert = QStringLiteral(
    "UPDATE alerts SET name=:Name, keywords=:Keywords, searchtype=:SearchType, "
    "startedwithin=:StartedWithin, category=:Category, usecategory=:UseCategory, "
    "Eautomatic=:AutomaticMode, automatic=:AutomaticInterval, searchdesc=:SearchDescription, "
    "misspellings=:Misspellings, listedpaypal=:ListedinPaypal, minPrice=:MinPrice, "
    "maxPrice=:MaxPrice, country=:Country, audio=:AudioAlert WHERE id=:ID");
inline const QString kAlertItems = QStringLiteral("SELECT * FROM auctions WHERE parent=:S0");
// Appended to kAlertItems for a Buy It Now alert.
inline const QString kBuyNowOnly = QStringLiteral(" AND buynow<>''");
inline const QString kItemKnown =
    QStringLiteral("SELECT id FROM auctions WHERE parent=:S0 AND ebayid=:S1");
inline const QString kInsertItem = QStringLiteral(
    "INSERT into auctions (parent,pic,ebayid,startedTime,localST,endTime,localET,auctiontitle,"
    "itemurl,price,buynow,sCurren,bidcount,token,status) VALUES "
    "(:S0,:S1,:S2,:S3,:S4,:S5,:S6,:S7,:S8,:S9,:S10,:S11,:S12,:S13,:S14)");
inline const QString kUpdateItem = QStringLiteral(
    "UPDATE auctions SET price=:S0, bidcount=:S1, status=:S2, token=:S3 WHERE parent=:S4 AND "
    "ebayid=:S5");
inline const QString kSweepItems =
    QStringLiteral("DELETE FROM auctions WHERE token<>:S0 AND parent=:S1");
inline const QString kNewItems =
    QStringLiteral("SELECT ebayid FROM auctions WHERE status=:S0 AND parent=:S1");
} // namespace Sql

// The one database connection (adoDBConn). Any thread may use it at any time; each statement runs
// whole. Opening creates nothing: the file is provisioned at start-up.
class TConnection
{
public:
    struct Impl;
    struct Handle; // one SQLite handle of one thread

    TConnection();
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Throws EDatabaseError when the file cannot be opened as a database.
    void Open(const QString& databaseFile);
    void Close();
    bool Connected() const;
    QString DatabaseFile() const;

    // One transaction on the calling thread (BEGIN IMMEDIATE ... COMMIT): the statements that
    // this thread runs meanwhile become visible to others together. Rolled back when destroyed
    // without Commit. Never hold one across a wait for another thread.
    class Transaction
    {
    public:
        explicit Transaction(TConnection& connection);
        ~Transaction();
        void Commit();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;

    private:
        TConnection& fConnection;
        bool fActive = false;
        // Kept so that a transaction outliving the connection object ends cleanly.
        std::shared_ptr<Impl> fImpl;
        std::shared_ptr<Handle> fHandle;
    };

    Impl* impl() const { return d.get(); }

private:
    friend class TQuery;
    std::shared_ptr<Impl> d;
};

// A query on the connection: statement text, parameters by name, open/execute/close, and the
// rows of an open result, copied into memory so that reading them holds nothing.
class TQuery
{
public:
    explicit TQuery(TConnection& connection);
    ~TQuery();

    void SetSQL(const QString& sql); // closes the query and clears the parameters
    const QString& SQL() const { return fSql; }

    // Binds by name ("ID" for ":ID"); throws EDatabaseError when the text has no such parameter.
    void SetParam(const QString& name, const QVariant& value);

    void Open();    // runs a statement that returns rows, positioned on the first; throws
    void ExecSQL(); // runs a statement without rows; throws
    void Close();

    bool Active() const { return fActive; }
    int RecordCount() const { return static_cast<int>(fRows.size()); }
    bool Eof() const { return fRow >= fRows.size(); }
    void First() { fRow = 0; }
    void Next()
    {
        if (fRow < fRows.size())
            ++fRow;
    }
    int RowsAffected() const { return fRowsAffected; }

    // Columns by name, ignoring case; NULL (or no current row) reads as "", 0 or false.
    QString FieldAsString(const QString& column) const;
    qint64 FieldAsInteger(const QString& column) const;
    bool FieldAsBoolean(const QString& column) const;
    bool HasField(const QString& column) const;

private:
    const QVariant* Field(const QString& column) const;

    void Run(bool wantRows);

    TConnection& fConnection;
    // Shared with the connection, so that a query outliving it fails cleanly instead of touching
    // freed memory.
    std::shared_ptr<TConnection::Impl> fImpl;
    QString fSql;
    QStringList fParamNames; // as written in fSql, without the colon
    std::vector<std::pair<QString, QVariant>> fParams;
    QStringList fColumns;
    std::vector<std::vector<QVariant>> fRows;
    size_t fRow = 0;
    bool fActive = false;
    int fRowsAffected = 0;
};

// Runs a statement with rows, values bound to ":S0".. ":S<count-1>". Failures are logged
// ("SQL Query ERROR" with the values pasted into the text, then the "SQL ERROR" screenshot),
// never raised; the query then stays closed.
void OpenQuery(TQuery* query, const QString& sql, int count, const QVariantList& params);
// The same for a statement without rows; the query is left closed.
void ExecQuery(TQuery* query, const QString& sql, int count, const QVariantList& params);
// Binds only when the statement text contains ":" + name (case-sensitive); nothing for nullptr.
void SetParamIfPresent(TQuery* query, const QString& name, const QVariant& value);

// The log text of OpenQuery/ExecQuery: markers replaced from the highest index down.
QString SqlLogText(const QString& sql, int count, const QVariantList& params);

// Creates the tables and indexes in an empty database file (the provisioning template).
// Throws EDatabaseError.
void CreateSchema(const QString& databaseFile);

// The schema version that CreateSchema writes (PRAGMA user_version).
inline constexpr int kSchemaVersion = 1;
