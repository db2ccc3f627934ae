#include "untCrashReport.h"

#include "TestEnv.h"
#include "untLog.h"
#include "untSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Own data folder, settings store and temporary folder (CrashLog.sil lands there).
class CrashTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fOldTmp = qgetenv("TMPDIR");
        fTmp = fEnv.Root() + QStringLiteral("/tmp");
        fReports = fEnv.Root() + QStringLiteral("/reports");
        QDir().mkpath(fTmp);
        QDir().mkpath(fReports);
        qputenv("TMPDIR", fTmp.toUtf8());
        ResetLog();
    }
    void TearDown() override
    {
        ResetLog();
        qputenv("TMPDIR", fOldTmp);
    }
    static void ResetLog()
    {
        TLog::Instance().SetEnabled(false);
        TLog::Instance().SetConnections(QString());
    }
    static QString Read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QStringList Reports() const
    {
        return QDir(fReports).entryList({QStringLiteral("crash-*.txt")}, QDir::Files);
    }
    static void SetUser(const QString& name, const QString& email)
    {
        TRegistry reg;
        reg.OpenKey(Settings::kSettingsKey, true);
        reg.WriteString(QStringLiteral("Name"), name);
        reg.WriteString(QStringLiteral("Email"), email);
        reg.CloseKey();
    }

    TTestEnv fEnv;
    QByteArray fOldTmp;
    QString fTmp;
    QString fReports;
};

TEST_F(CrashTest, AttachedFileHoldsTheMemoryLogOnly)
{
    const QString crashLog = fTmp + QStringLiteral("/CrashLog.sil");
    const struct
    {
        const char* connections;
        bool on;
        bool expectEntries;
    } cases[] = {
        {"", false, false},                // started without arguments
        {"tcp(port=9)", true, false},      // "-dev"
        {"mem(maxsize=2048)", true, true}, // "/x" or any other argument
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connections);
        QFile::remove(crashLog);
        {
            QFile stale(crashLog);
            ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
            stale.write("stale content that must be replaced\n");
        }
        TLog::Instance().SetConnections(QString::fromLatin1(c.connections));
        TLog::Instance().SetEnabled(c.on);
        siMain.LogMessage("Compact and Repair OK");

        QStringList files{QStringLiteral("other")};
        EurekaLogAttachedFilesRequest(files);
        ASSERT_EQ(files.size(), 2);
        EXPECT_EQ(files[1], crashLog);
        const QString content = Read(crashLog);
        EXPECT_EQ(content.contains(QStringLiteral("Compact and Repair OK")), c.expectEntries);
        EXPECT_FALSE(content.contains(QStringLiteral("stale")));
        if (!c.expectEntries) {
            EXPECT_TRUE(content.isEmpty());
        }
        ResetLog();
    }
}

TEST_F(CrashTest, NoTemporaryFolderMeansNoAttachment)
{
    qputenv("TMPDIR", (fEnv.Root() + QStringLiteral("/missing")).toUtf8());
    if (!QDir::tempPath().isEmpty() && QDir(QDir::tempPath()).exists())
        GTEST_SKIP() << "this Qt falls back to " << QDir::tempPath().toStdString();
    QStringList files;
    EurekaLogAttachedFilesRequest(files);
    EXPECT_TRUE(files.isEmpty());
}

TEST_F(CrashTest, WebFieldsSendOnlyUsableNameAndEmail)
{
    const QStringList always{QStringLiteral("Program=Bidlark"), QStringLiteral("Version=2.0.0"),
                             QStringLiteral("Build=63")};
    {
        QStringList fields;
        EurekaLogCustomWebFieldsRequest(fields);
        EXPECT_EQ(fields, always) << "no settings key at all";
    }
    const struct
    {
        const char* name;
        const char* email;
        bool sendName;
        bool sendEmail;
    } cases[] = {
        {"Alice", "a@b.c", false, false},          // 5 characters each: not sent
        {"Alice2", "a@b.cd", true, true},          // 6 characters each
        {"Bob Smith", "bob.example", true, false}, // no at sign, whatever the length
        {"", "@@@@@@@@", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUser(QString::fromUtf8(c.name), QString::fromUtf8(c.email));
        QStringList expected = always;
        if (c.sendName)
            expected << QStringLiteral("Name=") + QString::fromUtf8(c.name);
        if (c.sendEmail)
            expected << QStringLiteral("Email=") + QString::fromUtf8(c.email);
        QStringList fields{QStringLiteral("kept")};
        EurekaLogCustomWebFieldsRequest(fields);
        EXPECT_EQ(fields.mid(1), expected);
        EXPECT_EQ(fields.first(), QStringLiteral("kept"));
    }
}

TEST_F(CrashTest, UnhandledExceptionReportHoldsFieldsErrorAndLog)
{
    SetUser(QStringLiteral("Alice Example"), QStringLiteral("alice@example.org"));
    TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=2048)"));
    TLog::Instance().SetEnabled(true);
    siMain.LogString("gbSavePath", fReports);
    InstallCrashHandler(fReports);

    const QString first = ReportUnhandledException(QStringLiteral("Access violation\nat 0"));
    const QString second = ReportUnhandledException(QStringLiteral("again"));
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second) << "a second report in the same second keeps the first";
    EXPECT_EQ(Reports().size(), 2);
    EXPECT_TRUE(QFileInfo(first).fileName().startsWith(QStringLiteral("crash-")));

    const QString report = Read(first);
    EXPECT_TRUE(report.startsWith(QStringLiteral("Program=Bidlark\nVersion=2.0.0\nBuild=63\n"
                                                 "Name=Alice Example\nEmail=alice@example.org\n"
                                                 "Error=Access violation\\nat 0\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("CrashLog.sil")));
    EXPECT_TRUE(report.contains(QStringLiteral("gbSavePath = ") + fReports));
    EXPECT_TRUE(QFile::exists(fTmp + QStringLiteral("/CrashLog.sil")));

    EXPECT_TRUE(
        WriteCrashReport(fEnv.Root() + QStringLiteral("/no/such/folder"), QStringLiteral("x"))
            .isEmpty());
}

// Runs `crash` in a forked child with the crash handler installed and the memory log on;
// returns the child's wait status.
template <class F> int CrashInChild(const QString& reports, F crash)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit noCore{0, 0}; // the test leaves no core file behind
        ::setrlimit(RLIMIT_CORE, &noCore);
        TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=2048)"));
        TLog::Instance().SetEnabled(true);
        InstallCrashHandler(reports);
        siMain.LogMessage("last words");
        crash();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST_F(CrashTest, FatalSignalWritesOneReportAndEndsTheProcessBySignal)
{
    SetUser(QStringLiteral("Alice Example"), QStringLiteral("alice@example.org"));
    for (const int sig : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGABRT}) {
        SCOPED_TRACE(sig);
        for (const QString& old : Reports())
            QFile::remove(fReports + QLatin1Char('/') + old);
        const int status = CrashInChild(fReports, [sig] { ::raise(sig); });
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), sig);
        const QStringList reports = Reports();
        ASSERT_EQ(reports.size(), 1);
        const QString report = Read(fReports + QLatin1Char('/') + reports.first());
        EXPECT_TRUE(report.startsWith(QStringLiteral("Program=Bidlark\nVersion=2.0.0\nBuild=63\n"
                                                     "Name=Alice Example\n")));
        EXPECT_TRUE(report.contains(QStringLiteral("Error=signal SIG")));
        EXPECT_TRUE(report.contains(QStringLiteral("Message     last words")));
        EXPECT_TRUE(
            Read(fTmp + QStringLiteral("/CrashLog.sil")).contains(QStringLiteral("last words")));
    }
}

TEST_F(CrashTest, RealInvalidAccessIsReported)
{
    const int status = CrashInChild(fReports, [] {
        void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    ASSERT_EQ(Reports().size(), 1);
    EXPECT_TRUE(Read(fReports + QLatin1Char('/') + Reports().first())
                    .contains(QStringLiteral("Error=signal SIGSEGV")));
}

TEST_F(CrashTest, TerminateWritesTheExceptionTextOnce)
{
    const int status = CrashInChild(
        fReports, [] { std::thread([] { throw std::runtime_error("disk on fire"); }).join(); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 1) << "abort after the report must not add a second one";
    const QString report = Read(fReports + QLatin1Char('/') + reports.first());
    EXPECT_TRUE(report.contains(QStringLiteral("Error=unhandled exception: disk on fire\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("last words")));
}

} // namespace
