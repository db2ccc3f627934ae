#include "untStartup.h"

#include "untLog.h"
#include "untSettings.h"
#include "untStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <stdexcept>

namespace {

const QString kMainDbResource = QStringLiteral("maindb");

// The empty database the program carries: made once from the schema, so that template and
// schema cannot drift apart.
QByteArray EmptyDatabaseImage()
{
    static const QByteArray image = [] {
        QTemporaryDir dir;
        if (!dir.isValid())
            throw std::runtime_error("No temporary folder for the database template");
        const QString file = dir.filePath(QStringLiteral("maindb"));
        CreateSchema(file);
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            throw std::runtime_error("Cannot read the database template");
        return f.readAll();
    }();
    return image;
}

// A -wal, -shm or -journal file without its database belongs to a deleted file; left in place it
// would be applied to the next file of that name and corrupt it.
void RemoveOrphanedSideFiles(const QString& databaseFile)
{
    QFile::remove(databaseFile + QStringLiteral("-wal"));
    QFile::remove(databaseFile + QStringLiteral("-shm"));
    QFile::remove(databaseFile + QStringLiteral("-journal"));
}

bool HasWal(const QString& databaseFile)
{
    return QFileInfo::exists(databaseFile + QStringLiteral("-wal")) ||
           QFileInfo::exists(databaseFile + QStringLiteral("-shm"));
}

// A file that is no database fails here. Damage further in fails the copy itself, which reads
// every row; the copy builds its indexes afresh, so damaged indexes of the source are repaired.
bool SchemaReadable(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    const bool ok = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &st,
                                       nullptr) == SQLITE_OK &&
                    sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return ok;
}

bool VacuumInto(sqlite3* db, const QString& target)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray path = target.toUtf8();
    bool ok = sqlite3_prepare_v2(db, "VACUUM INTO ?1", -1, &st, nullptr) == SQLITE_OK &&
              sqlite3_bind_text(st, 1, path.constData(), static_cast<int>(path.size()),
                                SQLITE_TRANSIENT) == SQLITE_OK &&
              sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    return ok;
}

} // namespace

bool ExtractResFile(const QString& sFile, const QString& rsName)
{
    siMain.EnterMethod("Extract Res File");
    siMain.LogString("sFile", sFile);
    siMain.LogString("rsName", rsName);
    if (rsName != kMainDbResource)
        throw std::runtime_error(QString("No resource named " + rsName).toStdString());
    const QByteArray image = EmptyDatabaseImage();
    QSaveFile file(sFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit())
        throw std::runtime_error(
            QString("Cannot write " + sFile + ": " + file.errorString()).toStdString());
    const bool result = QFileInfo::exists(sFile);
    siMain.LogBool("Result", result);
    siMain.LeaveMethod("Extract Res File");
    return result;
}

bool CompactAndRepair(const QString& source, const QString& target)
{
    if (!QFileInfo(source).isFile() || QFileInfo::exists(target))
        return false;
    RemoveOrphanedSideFiles(target);
    sqlite3* db = nullptr;
    bool ok = false;
    try {
        // Read-write so that a WAL left by a killed process is read and checkpointed; the
        // content of the file does not change.
        if (sqlite3_open_v2(source.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
            SQLITE_OK) {
            sqlite3_busy_timeout(db, 2000);
            ok = SchemaReadable(db) && VacuumInto(db, target);
        }
    } catch (...) {
        ok = false;
    }
    // The last handle to close checkpoints the WAL and removes it with its -shm; when they stay,
    // another process still has the file open and swapping it now would lose that process's
    // writes.
    if (sqlite3_close(db) != SQLITE_OK) {
        sqlite3_close_v2(db);
        ok = false;
    }
    ok = ok && !HasWal(source) && QFileInfo(target).isFile() && !HasWal(target);
    if (!ok) {
        QFile::remove(target);
        RemoveOrphanedSideFiles(target);
    }
    return ok;
}

void PrepareDatabase(const QString& folder)
{
    siMain.EnterMethod("Log database compression");
    const QString db = folder + QStringLiteral("DB.mdb");
    const QString tmp = folder + QStringLiteral("DB_TMP.mdb");

    // The old file was deleted after a compaction but the copy never took its name: the copy is
    // the only one and must take the name now, not be replaced by an empty template.
    if (!QFileInfo::exists(db) && QFileInfo::exists(tmp)) {
        siMain.LogMessage("Recover temp db -> " + tmp);
        RemoveOrphanedSideFiles(db);
        if (!QFile::rename(tmp, db) && !QFile::copy(tmp, db)) {
            siMain.LogMessage("Compage and repair failed!");
            siMain.LeaveMethod("Log database compression");
            return;
        }
    }

    if (!QFileInfo::exists(db)) {
        RemoveOrphanedSideFiles(db);
        ExtractResFile(db, kMainDbResource);
    }

    if (QFileInfo::exists(tmp)) {
        siMain.LogMessage("Delete temp db -> " + tmp);
        QFile::remove(tmp);
        RemoveOrphanedSideFiles(tmp);
    }

    if (CompactAndRepair(db, tmp)) {
        siMain.LogMessage("Compact and Repair OK");
        if (QFile::remove(db))
            RemoveOrphanedSideFiles(db);
        siMain.LogMessage("db deleted ->" + db);
        QFile::rename(tmp, db);
        siMain.LogMessage("db renamed");
    } else {
        siMain.LogMessage("Compage and repair failed!");
    }
    siMain.LeaveMethod("Log database compression");
}

void HandleUpdateMarkerOrReset(const QString& dataFolder, const QString& firstArgument)
{
    const QString marker = dataFolder + QStringLiteral("update");
    if (QFileInfo::exists(marker)) {
        QFile::remove(marker);
        return;
    }
    if (firstArgument == QLatin1String("/x")) {
        siMain.LogMessage("Resetting the registry settings");
        Settings::DeleteDlcats();
    }
}
