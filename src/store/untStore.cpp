#include "untStore.h"

#include "untLog.h"

#include <QFile>

#include <sqlite3.h>

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace {

// Long enough for another thread's merge transaction to finish; a statement never fails just
// because another thread is writing.
constexpr int kBusyTimeoutMs = 10000;
// The program issues a fixed set of statements; the cap only guards against a caller that builds
// texts with values pasted in.
constexpr size_t kStatementCacheLimit = 64;

const char* const kSchema = R"SQL(
CREATE TABLE alerts (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT COLLATE NOCASE CHECK(length(name) <= 100) CHECK(name <> ''),
    keywords TEXT COLLATE NOCASE CHECK(length(keywords) <= 255),
    searchtype INTEGER DEFAULT 0,
    startedwithin INTEGER DEFAULT 0,
    category TEXT COLLATE NOCASE CHECK(length(category) <= 50),
    usecategory INTEGER NOT NULL DEFAULT 0,
    Eautomatic INTEGER NOT NULL DEFAULT 0,
    automatic INTEGER DEFAULT 0,
    searchdesc INTEGER NOT NULL DEFAULT 0,
    misspellings INTEGER NOT NULL DEFAULT 0,
    listedpaypal INTEGER NOT NULL DEFAULT 0,
    minPrice TEXT COLLATE NOCASE CHECK(length(minPrice) <= 10),
    maxPrice TEXT COLLATE NOCASE CHECK(length(maxPrice) <= 10),
    country TEXT COLLATE NOCASE CHECK(length(country) <= 255),
    audio INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX keywords ON alerts(keywords);

CREATE TABLE auctions (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER DEFAULT 0,
    pic TEXT COLLATE NOCASE CHECK(length(pic) <= 75),
    ebayid TEXT COLLATE NOCASE CHECK(length(ebayid) <= 50),
    startedTime TEXT COLLATE NOCASE CHECK(length(startedTime) <= 50),
    localST TEXT COLLATE NOCASE CHECK(length(localST) <= 50),
    endTime TEXT COLLATE NOCASE CHECK(length(endTime) <= 50),
    localET TEXT COLLATE NOCASE CHECK(length(localET) <= 50),
    auctiontitle TEXT COLLATE NOCASE,
    itemurl TEXT COLLATE NOCASE,
    price TEXT COLLATE NOCASE CHECK(length(price) <= 50),
    buynow TEXT COLLATE NOCASE CHECK(length(buynow) <= 50),
    sCurren TEXT COLLATE NOCASE,
    bidcount TEXT COLLATE NOCASE CHECK(length(bidcount) <= 12),
    token TEXT COLLATE NOCASE CHECK(length(token) <= 12),
    status TEXT COLLATE NOCASE CHECK(length(status) <= 10) CHECK(status <> '')
);
CREATE INDEX pnum ON auctions(parent);
-- The merge looks every item up by alert and eBay id.
CREATE INDEX auctions_parent_ebayid ON auctions(parent, ebayid);

CREATE TABLE categories (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    cBOFE TEXT COLLATE NOCASE CHECK(length(cBOFE) <= 10),
    cAPE TEXT COLLATE NOCASE CHECK(length(cAPE) <= 10),
    cEBID TEXT COLLATE NOCASE CHECK(length(cEBID) <= 10),
    cLevel TEXT COLLATE NOCASE CHECK(length(cLevel) <= 10),
    cName TEXT COLLATE NOCASE CHECK(length(cName) <= 75),
    cParentID TEXT COLLATE NOCASE CHECK(length(cParentID) <= 50) CHECK(cParentID <> ''),
    cExpired TEXT COLLATE NOCASE CHECK(length(cExpired) <= 10),
    cIAFC TEXT COLLATE NOCASE CHECK(length(cIAFC) <= 10),
    cVirt TEXT COLLATE NOCASE CHECK(length(cVirt) <= 10),
    cLeaf TEXT COLLATE NOCASE CHECK(length(cLeaf) <= 10),
    cORPA TEXT COLLATE NOCASE CHECK(length(cORPA) <= 10),
    cLSD TEXT COLLATE NOCASE CHECK(length(cLSD) <= 10),
    cToken TEXT COLLATE NOCASE CHECK(length(cToken) <= 12) CHECK(cToken <> '')
);
CREATE INDEX ID1 ON categories(cEBID);
CREATE INDEX ParentID ON categories(cParentID);
)SQL";

[[noreturn]] void Throw(const QString& text)
{
    throw EDatabaseError(text.toStdString());
}

QString ErrorText(sqlite3* db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

[[noreturn]] void Fail(sqlite3* db, const QString& sql)
{
    QString text = ErrorText(db);
    if (!sql.isEmpty())
        text += QStringLiteral(" [") + sql + QLatin1Char(']');
    throw EDatabaseError(text.toStdString());
}

void Exec(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        throw EDatabaseError(text.toStdString());
    }
}

// The parameter names of a statement text, as written, without their colon. Quoted literals and
// identifiers are skipped so that a colon inside them is no parameter.
QStringList ParameterNames(const QString& sql)
{
    QStringList names;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype close = sql.indexOf(c, i + 1);
            i = close < 0 ? n : close + 1;
            continue;
        }
        if (c == QLatin1Char(':') && i + 1 < n &&
            (sql[i + 1].isLetterOrNumber() || sql[i + 1] == QLatin1Char('_'))) {
            qsizetype end = i + 1;
            while (end < n && (sql[end].isLetterOrNumber() || sql[end] == QLatin1Char('_')))
                ++end;
            const QString name = sql.mid(i + 1, end - i - 1);
            if (!names.contains(name, Qt::CaseInsensitive))
                names.append(name);
            i = end;
            continue;
        }
        ++i;
    }
    return names;
}

// Parsing a text costs more than running a cached statement, and every query sets its text
// again for each run.
const QStringList& CachedParameterNames(const QString& sql)
{
    thread_local std::unordered_map<QString, QStringList> cache;
    auto found = cache.find(sql);
    if (found != cache.end())
        return found->second;
    if (cache.size() >= kStatementCacheLimit)
        cache.clear();
    return cache.emplace(sql, ParameterNames(sql)).first->second;
}

void BindValue(sqlite3_stmt* st, int index, const QVariant& value)
{
    int rc = SQLITE_OK;
    if (!value.isValid()) {
        rc = sqlite3_bind_null(st, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(st, index, value.toBool() ? 1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            rc = sqlite3_bind_int64(st, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(st, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(st, index, bytes.constData(), bytes.size(), SQLITE_TRANSIENT);
            break;
        }
        default: {
            // A null QString is the empty text, as in the program's other strings: it must meet
            // the not-empty checks rather than slip through as NULL.
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(st, index, text.constData(), text.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        Fail(sqlite3_db_handle(st), QString());
}

QVariant ColumnValue(sqlite3_stmt* st, int column)
{
    switch (sqlite3_column_type(st, column)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(st, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(st, column));
    case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(st, column)));
    }
    case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(st, column));
        return QVariant(QByteArray(data, sqlite3_column_bytes(st, column)));
    }
    default:
        return QVariant();
    }
}

} // namespace

// One sqlite3 handle, used by one thread; Close() of the connection may close it from another
// thread, which is why every use holds fMutex and checks fClosed first.
struct TConnection::Handle
{
    struct Statement
    {
        sqlite3_stmt* st = nullptr;
        QStringList params; // name of parameter i + 1, without its colon
    };

    std::mutex fMutex;
    sqlite3* fDb = nullptr;
    std::atomic<bool> fClosed{false};
    std::unordered_map<QString, Statement> fStatements;

    ~Handle() { Close(); }

    void Close()
    {
        std::lock_guard lock(fMutex);
        CloseLocked();
    }

    void CloseLocked()
    {
        if (fClosed)
            return;
        fClosed = true;
        FinalizeAll();
        // An open transaction of this thread is rolled back with the handle.
        sqlite3_close_v2(fDb);
        fDb = nullptr;
    }

    void FinalizeAll()
    {
        for (auto& [sql, statement] : fStatements)
            sqlite3_finalize(statement.st);
        fStatements.clear();
    }

    void ThrowIfClosed() const
    {
        if (fClosed)
            throw EDatabaseError("The database connection is closed");
    }

    const Statement& Prepare(const QString& sql)
    {
        auto found = fStatements.find(sql);
        if (found != fStatements.end())
            return found->second;
        if (fStatements.size() >= kStatementCacheLimit)
            FinalizeAll();
        const QByteArray text = sql.toUtf8();
        Statement statement;
        const char* tail = nullptr;
        if (sqlite3_prepare_v3(fDb, text.constData(), static_cast<int>(text.size()),
                               SQLITE_PREPARE_PERSISTENT, &statement.st, &tail) != SQLITE_OK)
            Fail(fDb, sql);
        if (!statement.st)
            Throw("Empty statement [" + sql + "]");
        for (; tail && *tail; ++tail) {
            if (*tail != ';' && !QChar::isSpace(static_cast<unsigned char>(*tail))) {
                sqlite3_finalize(statement.st);
                Throw("One statement at a time [" + sql + "]");
            }
        }
        const int count = sqlite3_bind_parameter_count(statement.st);
        for (int i = 1; i <= count; ++i) {
            const char* name = sqlite3_bind_parameter_name(statement.st, i);
            statement.params.append(QString::fromUtf8(name ? name + 1 : ""));
        }
        return fStatements.emplace(sql, std::move(statement)).first->second;
    }
};

struct TConnection::Impl
{
    std::mutex fMutex;
    QString fFile;
    bool fOpen = false;
    quint64 fGeneration = 0; // changes with every Open and Close
    std::vector<std::weak_ptr<Handle>> fHandles;

    std::shared_ptr<Handle> ThreadHandle(const std::shared_ptr<Impl>& self);
    std::shared_ptr<Handle> NewHandle(const QString& file);
    void CloseAll();
};

namespace {

// The handles of the calling thread, one per connection; they close when the thread ends.
struct TThreadHandles
{
    struct Entry
    {
        std::weak_ptr<TConnection::Impl> owner;
        quint64 generation;
        std::shared_ptr<TConnection::Handle> handle;
    };
    std::vector<Entry> entries;

    ~TThreadHandles()
    {
        for (auto& e : entries)
            e.handle->Close();
    }
};

thread_local TThreadHandles tHandles;

} // namespace

std::shared_ptr<TConnection::Handle> TConnection::Impl::NewHandle(const QString& file)
{
    auto handle = std::make_shared<Handle>();
    // The handle's own lock keeps statements apart, so SQLite's per-handle mutex is not needed.
    const int rc = sqlite3_open_v2(file.toUtf8().constData(), &handle->fDb,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    try {
        if (rc != SQLITE_OK)
            Fail(handle->fDb, QString());
        sqlite3_busy_timeout(handle->fDb, kBusyTimeoutMs);
        sqlite3_extended_result_codes(handle->fDb, 1);
        // Reading the schema here makes a file that is no database fail at once.
        Exec(handle->fDb, "PRAGMA journal_mode=WAL");
        Exec(handle->fDb, "PRAGMA synchronous=NORMAL");
        Exec(handle->fDb, "SELECT count(*) FROM sqlite_schema");
    } catch (...) {
        handle->Close();
        throw;
    }
    return handle;
}

std::shared_ptr<TConnection::Handle>
TConnection::Impl::ThreadHandle(const std::shared_ptr<Impl>& self)
{
    QString file;
    quint64 generation = 0;
    {
        std::lock_guard lock(fMutex);
        if (!fOpen)
            throw EDatabaseError("The database connection is closed");
        file = fFile;
        generation = fGeneration;
    }
    auto& entries = tHandles.entries;
    for (auto it = entries.begin(); it != entries.end();) {
        auto owner = it->owner.lock();
        if (!owner || it->handle->fClosed) {
            it = entries.erase(it);
            continue;
        }
        if (owner.get() == this && it->generation == generation)
            return it->handle;
        ++it;
    }

    auto handle = NewHandle(file);
    {
        std::lock_guard lock(fMutex);
        if (!fOpen || fGeneration != generation) {
            handle->Close();
            throw EDatabaseError("The database connection is closed");
        }
        std::erase_if(fHandles, [](const std::weak_ptr<Handle>& h) { return h.expired(); });
        fHandles.push_back(handle);
    }
    entries.push_back({self, generation, handle});
    return handle;
}

void TConnection::Impl::CloseAll()
{
    std::vector<std::weak_ptr<Handle>> handles;
    {
        std::lock_guard lock(fMutex);
        fOpen = false;
        ++fGeneration;
        handles.swap(fHandles);
    }
    // Waits for a statement that another thread is running; that thread's next one then fails.
    for (auto& weak : handles) {
        if (auto handle = weak.lock())
            handle->Close();
    }
}

TConnection::TConnection() : d(std::make_shared<Impl>()) {}

TConnection::~TConnection()
{
    Close();
}

void TConnection::Open(const QString& databaseFile)
{
    Close();
    if (!QFile::exists(databaseFile))
        Throw("No database file " + databaseFile);
    {
        std::lock_guard lock(d->fMutex);
        d->fFile = databaseFile;
        d->fOpen = true;
        ++d->fGeneration;
    }
    try {
        d->ThreadHandle(d);
    } catch (...) {
        Close();
        throw;
    }
}

void TConnection::Close()
{
    d->CloseAll();
}

bool TConnection::Connected() const
{
    std::lock_guard lock(d->fMutex);
    return d->fOpen;
}

QString TConnection::DatabaseFile() const
{
    std::lock_guard lock(d->fMutex);
    return d->fFile;
}

TConnection::Transaction::Transaction(TConnection& connection)
    : fConnection(connection), fImpl(connection.d)
{
    fHandle = fImpl->ThreadHandle(fImpl);
    std::lock_guard lock(fHandle->fMutex);
    fHandle->ThrowIfClosed();
    // Inside a transaction of the same thread this one joins it and leaves the end to the outer.
    if (!sqlite3_get_autocommit(fHandle->fDb))
        return;
    Exec(fHandle->fDb, "BEGIN IMMEDIATE");
    fActive = true;
}

TConnection::Transaction::~Transaction()
{
    if (!fActive)
        return;
    std::lock_guard lock(fHandle->fMutex);
    if (!fHandle->fClosed && !sqlite3_get_autocommit(fHandle->fDb))
        sqlite3_exec(fHandle->fDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TConnection::Transaction::Commit()
{
    if (!fActive)
        return;
    std::lock_guard lock(fHandle->fMutex);
    fHandle->ThrowIfClosed();
    Exec(fHandle->fDb, "COMMIT");
    fActive = false;
}

TQuery::TQuery(TConnection& connection) : fConnection(connection), fImpl(connection.d) {}

TQuery::~TQuery() = default;

void TQuery::SetSQL(const QString& sql)
{
    Close();
    fSql = sql;
    fParams.clear();
    fParamNames = CachedParameterNames(sql);
}

void TQuery::SetParam(const QString& name, const QVariant& value)
{
    // Kept under the spelling of the text, which is how the prepared statement names it.
    const QString* spelling = nullptr;
    for (const QString& n : std::as_const(fParamNames)) {
        if (n == name) {
            spelling = &n;
            break;
        }
    }
    if (!spelling) {
        for (const QString& n : std::as_const(fParamNames)) {
            if (n.compare(name, Qt::CaseInsensitive) == 0) {
                spelling = &n;
                break;
            }
        }
    }
    if (!spelling)
        Throw("Parameter " + name + " not found");
    for (auto& [n, v] : fParams) {
        if (n == *spelling) {
            v = value;
            return;
        }
    }
    fParams.emplace_back(*spelling, value);
}

void TQuery::Run(bool wantRows)
{
    auto handle = fImpl->ThreadHandle(fImpl);
    std::lock_guard lock(handle->fMutex);
    handle->ThrowIfClosed();
    sqlite3* db = handle->fDb;
    const TConnection::Handle::Statement& statement = handle->Prepare(fSql);
    sqlite3_stmt* st = statement.st;
    struct Reset
    {
        sqlite3_stmt* st;
        ~Reset()
        {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    } reset{st};

    const int columns = sqlite3_column_count(st);
    if (wantRows && columns == 0)
        Throw("The statement returns no rows [" + fSql + "]");

    for (qsizetype i = 0; i < statement.params.size(); ++i) {
        const QString& name = statement.params[i];
        const QVariant* value = nullptr;
        for (const auto& [n, v] : fParams) {
            if (n == name) {
                value = &v;
                break;
            }
        }
        if (!value) {
            for (const auto& [n, v] : fParams) {
                if (n.compare(name, Qt::CaseInsensitive) == 0) {
                    value = &v;
                    break;
                }
            }
        }
        if (!value)
            Throw("No value given for parameter " + name + " [" + fSql + "]");
        BindValue(st, static_cast<int>(i + 1), *value);
    }

    if (wantRows) {
        fColumns.clear();
        for (int c = 0; c < columns; ++c)
            fColumns.append(QString::fromUtf8(sqlite3_column_name(st, c)));
    }
    std::vector<std::vector<QVariant>> rows;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (!wantRows)
            continue;
        std::vector<QVariant> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row.push_back(ColumnValue(st, c));
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        Fail(db, fSql);
    fRowsAffected = columns == 0 ? sqlite3_changes(db) : 0;
    fRows = std::move(rows);
}

void TQuery::Open()
{
    Close();
    Run(true);
    fRow = 0;
    fActive = true;
}

void TQuery::ExecSQL()
{
    Close();
    Run(false);
    fRows.clear();
}

void TQuery::Close()
{
    fActive = false;
    fRows.clear();
    fColumns.clear();
    fRow = 0;
}

const QVariant* TQuery::Field(const QString& column) const
{
    if (fRow >= fRows.size())
        return nullptr;
    for (qsizetype c = 0; c < fColumns.size(); ++c) {
        if (fColumns[c].compare(column, Qt::CaseInsensitive) == 0)
            return &fRows[fRow][static_cast<size_t>(c)];
    }
    return nullptr;
}

QString TQuery::FieldAsString(const QString& column) const
{
    const QVariant* v = Field(column);
    return v && v->isValid() ? v->toString() : QString();
}

qint64 TQuery::FieldAsInteger(const QString& column) const
{
    const QVariant* v = Field(column);
    return v && v->isValid() ? v->toLongLong() : 0;
}

bool TQuery::FieldAsBoolean(const QString& column) const
{
    const QVariant* v = Field(column);
    if (!v || !v->isValid())
        return false;
    if (v->typeId() == QMetaType::QString &&
        v->toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    return v->toLongLong() != 0;
}

bool TQuery::HasField(const QString& column) const
{
    return fColumns.contains(column, Qt::CaseInsensitive);
}

namespace {

QString ValueText(const QVariant& value)
{
    if (!value.isValid())
        return QString();
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return value.toString();
}

QString PositionalName(int i)
{
    static const QStringList names = [] {
        QStringList list;
        for (int n = 0; n < 32; ++n)
            list << QStringLiteral("S") + QString::number(n);
        return list;
    }();
    return i < names.size() ? names[i] : QStringLiteral("S") + QString::number(i);
}

void BindPositional(TQuery* query, int count, const QVariantList& params)
{
    for (int i = 0; i < count; ++i) {
        if (i >= params.size())
            Throw("No value for parameter S" + QString::number(i));
        query->SetParam(PositionalName(i), params[i]);
    }
}

void LogFailure(const QString& sql, int count, const QVariantList& params)
{
    if (!siMain.On())
        return;
    siMain.LogString("SQL Query ERROR", SqlLogText(sql, count, params));
    siMain.LogScreenshot("SQL ERROR");
}

} // namespace

QString SqlLogText(const QString& sql, int count, const QVariantList& params)
{
    QString text = sql;
    for (int i = count - 1; i >= 0; --i) {
        const QString value = i < params.size() ? ValueText(params[i]) : QString();
        text.replace(QStringLiteral(":S") + QString::number(i), value, Qt::CaseInsensitive);
    }
    return text;
}

void OpenQuery(TQuery* query, const QString& sql, int count, const QVariantList& params)
{
    if (!query)
        return;
    try {
        query->Close();
        query->SetSQL(sql);
        BindPositional(query, count, params);
        query->Open();
    } catch (const std::exception&) {
        LogFailure(sql, count, params);
    }
}

void ExecQuery(TQuery* query, const QString& sql, int count, const QVariantList& params)
{
    if (!query)
        return;
    try {
        query->Close();
        query->SetSQL(QString());
        query->SetSQL(sql);
        BindPositional(query, count, params);
        query->ExecSQL();
        query->Close();
    } catch (const std::exception&) {
        query->Close();
        LogFailure(sql, count, params);
    }
}

void SetParamIfPresent(TQuery* query, const QString& name, const QVariant& value)
{
    if (query && query->SQL().contains(QLatin1Char(':') + name, Qt::CaseSensitive))
        query->SetParam(name, value);
}

void CreateSchema(const QString& databaseFile)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(databaseFile.toUtf8().constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try {
        if (rc != SQLITE_OK)
            Fail(db, QString());
        // An empty file is cheap to make again, so it is not flushed to disk statement by
        // statement; the start-up compaction writes the durable copy.
        Exec(db, "PRAGMA synchronous=OFF");
        Exec(db, "BEGIN");
        Exec(db, kSchema);
        const QByteArray version = "PRAGMA user_version=" + QByteArray::number(kSchemaVersion);
        Exec(db, version.constData());
        Exec(db, "COMMIT");
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    if (sqlite3_close(db) != SQLITE_OK)
        Throw("Cannot close " + databaseFile);
}
