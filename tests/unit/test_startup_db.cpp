#include "TestEnv.h"
#include "untSettings.h"
#include "untStartup.h"
#include "untStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class StartupDbTest : public ::testing::Test
{
protected:
    QString Folder() const { return fEnv.Root() + QLatin1Char('/'); }
    QString Db() const { return Folder() + QStringLiteral("DB.mdb"); }
    QString Tmp() const { return Folder() + QStringLiteral("DB_TMP.mdb"); }

    static bool HasWal(const QString& file)
    {
        return QFileInfo::exists(file + QStringLiteral("-wal")) ||
               QFileInfo::exists(file + QStringLiteral("-shm"));
    }

    static void AddAlerts(TConnection& conn, int first, int count)
    {
        TQuery q(conn);
        for (int i = first; i < first + count; ++i) {
            q.SetSQL(Sql::kInsertAlert);
            q.SetParam(QStringLiteral("Name"), QStringLiteral("alert %1").arg(i));
            q.SetParam(QStringLiteral("Keywords"), QStringLiteral("kw"));
            q.SetParam(QStringLiteral("Country"), QStringLiteral("Italy"));
            q.ExecSQL();
        }
    }

    // Opens the file and returns its alert count; checks its integrity on the way.
    static int AlertCount(const QString& file)
    {
        TConnection conn;
        conn.Open(file);
        TQuery q(conn);
        q.SetSQL(QStringLiteral("PRAGMA integrity_check"));
        q.Open();
        EXPECT_EQ(q.FieldAsString(QStringLiteral("integrity_check")), QStringLiteral("ok"));
        q.SetSQL(QStringLiteral("SELECT count(*) AS n FROM alerts"));
        q.Open();
        return static_cast<int>(q.FieldAsInteger(QStringLiteral("n")));
    }

    void MakeDbWithAlerts(const QString& file, int count)
    {
        CreateSchema(file);
        TConnection conn;
        conn.Open(file);
        AddAlerts(conn, 1, count);
    }

    TTestEnv fEnv;
};

TEST_F(StartupDbTest, FirstStartProvisionsAnEmptyDatabaseWithTheSchema)
{
    PrepareDatabase(Folder());
    EXPECT_TRUE(QFileInfo::exists(Db()));
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    EXPECT_FALSE(HasWal(Db()));
    EXPECT_EQ(AlertCount(Db()), 0);

    TConnection conn;
    conn.Open(Db());
    TQuery q(conn);
    q.SetSQL(QStringLiteral("SELECT count(*) AS n FROM sqlite_schema WHERE type='table' AND name "
                            "IN ('alerts','auctions','categories')"));
    q.Open();
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("n")), 3);
    q.SetSQL(QStringLiteral("PRAGMA user_version"));
    q.Open();
    EXPECT_EQ(q.FieldAsInteger(QStringLiteral("user_version")), kSchemaVersion);
}

TEST_F(StartupDbTest, TemplateIsTheSchemaAndOverwritesAnExistingFile)
{
    const QString fromSchema = Folder() + QStringLiteral("schema.mdb");
    CreateSchema(fromSchema);
    WriteAll(Db(), QByteArray(100000, 'x'));
    EXPECT_TRUE(ExtractResFile(Db(), QStringLiteral("maindb")));
    EXPECT_EQ(ReadAll(Db()), ReadAll(fromSchema));

    EXPECT_THROW(ExtractResFile(Folder() + QStringLiteral("x.mdb"), QStringLiteral("nothing")),
                 std::runtime_error);
    EXPECT_THROW(
        ExtractResFile(Folder() + QStringLiteral("no/such/dir/DB.mdb"), QStringLiteral("maindb")),
        std::runtime_error);
}

TEST_F(StartupDbTest, CompactionRefusesWithoutTouchingAnything)
{
    MakeDbWithAlerts(Db(), 3);
    const QString junk = Folder() + QStringLiteral("junk.mdb");
    WriteAll(junk, QByteArray(8192, 'j'));
    const QString truncated = Folder() + QStringLiteral("truncated.mdb");
    WriteAll(truncated, ReadAll(Db()).left(1024));
    const QString existing = Folder() + QStringLiteral("existing.mdb");
    WriteAll(existing, "keep me");

    struct Case
    {
        QString source, target;
    };
    const Case cases[] = {
        {Folder() + QStringLiteral("missing.mdb"), Tmp()},
        {junk, Tmp()},
        {truncated, Tmp()},
        {Db(), existing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        const QByteArray before = ReadAll(c.source);
        EXPECT_FALSE(CompactAndRepair(c.source, c.target));
        EXPECT_EQ(ReadAll(c.source), before);
    }
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    EXPECT_EQ(ReadAll(existing), QByteArray("keep me"));

    EXPECT_TRUE(CompactAndRepair(Db(), Tmp()));
    EXPECT_EQ(AlertCount(Tmp()), 3);
}

TEST_F(StartupDbTest, FailedCompactionLeavesTheDatabaseAsItIs)
{
    WriteAll(Db(), QByteArray(8192, 'j'));
    PrepareDatabase(Folder());
    EXPECT_EQ(ReadAll(Db()), QByteArray(8192, 'j'));
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
}

TEST_F(StartupDbTest, RemnantTempCopyIsDeletedBeforeCompaction)
{
    MakeDbWithAlerts(Db(), 4);
    WriteAll(Tmp(), "old remnant");
    WriteAll(Tmp() + QStringLiteral("-journal"), QByteArray(512, 'r'));
    PrepareDatabase(Folder());
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    EXPECT_FALSE(QFileInfo::exists(Tmp() + QStringLiteral("-journal")));
    EXPECT_EQ(AlertCount(Db()), 4);
}

TEST_F(StartupDbTest, TempCopyHoldingTheOnlyDataIsRecovered)
{
    MakeDbWithAlerts(Tmp(), 5);
    ASSERT_FALSE(QFileInfo::exists(Db()));
    // A WAL of the deleted old file must not be applied to the recovered one.
    WriteAll(Db() + QStringLiteral("-wal"), QByteArray(4096, 'w'));
    PrepareDatabase(Folder());
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    EXPECT_FALSE(HasWal(Db()));
    EXPECT_EQ(AlertCount(Db()), 5);
}

TEST_F(StartupDbTest, SwapLeavesNoWalOfTheOldDatabase)
{
    MakeDbWithAlerts(Db(), 2);
    PrepareDatabase(Folder());
    EXPECT_FALSE(HasWal(Db()));
    EXPECT_EQ(AlertCount(Db()), 2);
}

TEST_F(StartupDbTest, DatabaseHeldOpenIsNotSwapped)
{
    MakeDbWithAlerts(Db(), 2);
    TConnection other;
    other.Open(Db());
    AddAlerts(other, 10, 3); // committed, still in the WAL of the open handle

    PrepareDatabase(Folder());
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    AddAlerts(other, 20, 1); // the holder goes on working on the same file
    other.Close();
    EXPECT_EQ(AlertCount(Db()), 6);
}

TEST_F(StartupDbTest, KilledProcessLosesNoCommittedWrite)
{
    PrepareDatabase(Folder());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TConnection conn;
        conn.Open(Db());
        AddAlerts(conn, 1, 50);
        {
            TConnection::Transaction t(conn);
            AddAlerts(conn, 100, 50);
            t.Commit();
        }
        {
            TConnection::Transaction uncommitted(conn);
            AddAlerts(conn, 200, 10);
            raise(SIGKILL);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_TRUE(QFileInfo::exists(Db() + QStringLiteral("-wal")));

    PrepareDatabase(Folder());
    EXPECT_FALSE(HasWal(Db()));
    EXPECT_FALSE(QFileInfo::exists(Tmp()));
    EXPECT_EQ(AlertCount(Db()), 100);
}

TEST_F(StartupDbTest, UpdateMarkerOrResetOfDlcats)
{
    struct Case
    {
        bool marker;
        const char* argument;
        bool dlcatsKept;
    };
    const Case cases[] = {
        {false, "/x", false}, {true, "/x", true}, // the marker takes the step: only it is deleted
        {false, "/X", true},  {false, "", true},  {true, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.argument) + (c.marker ? " with marker" : ""));
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey(Settings::kSettingsKey, true));
            reg.WriteString(QStringLiteral("dlcats"), QStringLiteral("1"));
            reg.WriteInteger(QStringLiteral("alerts"), 2);
            reg.CloseKey();
        }
        if (c.marker)
            WriteAll(Folder() + QStringLiteral("update"), QByteArray());
        HandleUpdateMarkerOrReset(Folder(), QLatin1String(c.argument));
        EXPECT_FALSE(QFileInfo::exists(Folder() + QStringLiteral("update")));
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Settings::kSettingsKey, false));
        EXPECT_EQ(reg.ValueExists(QStringLiteral("dlcats")), c.dlcatsKept);
        EXPECT_EQ(reg.ReadInteger(QStringLiteral("alerts")), 2);
    }

    // No settings key at all is no error.
    QFile::remove(TRegistry::StorePath());
    EXPECT_NO_THROW(HandleUpdateMarkerOrReset(Folder(), QStringLiteral("/x")));
}

} // namespace
