#include "untGlobals.h"

#include "TestEnv.h"
#include "untLog.h"
#include "untSettings.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class GlobalsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fOldHome = qgetenv("HOME");
        fOldCwd = QDir::currentPath();
        fCwd = fEnv.Root() + QStringLiteral("/cwd");
        QDir().mkpath(fCwd);
        QDir::setCurrent(fCwd);
        ResetLog();
    }
    void TearDown() override
    {
        QDir::setCurrent(fOldCwd);
        qputenv("HOME", fOldHome);
        ResetLog();
    }
    static void ResetLog()
    {
        TLog::Instance().SetEnabled(false);
        TLog::Instance().SetConnections(QString());
    }

    TTestEnv fEnv;
    QByteArray fOldHome;
    QString fOldCwd;
    QString fCwd;
};

TEST_F(GlobalsTest, DataFolderIsCreatedUnderThePerUserFolder)
{
    TLog::Instance().SetConnections(QStringLiteral("mem()"));
    TLog::Instance().SetEnabled(true);
    ASSERT_FALSE(QFileInfo::exists(fEnv.DataHome() + QStringLiteral("/Vendaro")));

    const QString folder = GetDataFolder();
    EXPECT_EQ(folder, fEnv.DataHome() + QStringLiteral("/Vendaro/Bidlark/"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(GetDataFolder(), folder) << "an existing folder is taken as it is";

    QBuffer log;
    log.open(QIODevice::WriteOnly);
    TLog::Instance().WriteMemoryTo(log);
    EXPECT_TRUE(log.data().contains(QByteArray("gbSavePath = " + folder.toUtf8() + "\n")));
}

TEST_F(GlobalsTest, DataFolderFallsBackToHomeThenToTheCurrentDirectory)
{
    const QString home = fEnv.Root() + QStringLiteral("/home");
    QDir().mkpath(home + QStringLiteral("/.local/share"));
    qputenv("HOME", home.toUtf8());
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(GetDataFolder(), home + QStringLiteral("/.local/share/Vendaro/Bidlark/"));

    qputenv("XDG_DATA_HOME", (fEnv.Root() + QStringLiteral("/missing")).toUtf8());
    const QString folder = GetDataFolder();
    EXPECT_EQ(QFileInfo(folder).canonicalFilePath(), QFileInfo(fCwd).canonicalFilePath());
    EXPECT_TRUE(folder.endsWith(QLatin1Char('/')));
    EXPECT_FALSE(QFileInfo::exists(fEnv.Root() + QStringLiteral("/missing")));
}

TEST_F(GlobalsTest, FirstArgumentChoosesTheLogDestination)
{
    const struct
    {
        QStringList args;
        const char* connections; // nullptr: log stays off and untouched
        bool minimized;
    } cases[] = {
        {{}, nullptr, false},
        {{QStringLiteral("-dev")}, "tcp()", false},
        {{QStringLiteral("-dev"), QStringLiteral("-minimize")}, "tcp()", false},
        {{QStringLiteral("-minimize")}, nullptr, true},
        {{QStringLiteral("-minimize"), QStringLiteral("-dev")}, nullptr, true},
        {{QStringLiteral("/x")}, "mem(maxsize=2048)", false},
        {{QStringLiteral("/X")}, "mem(maxsize=2048)", false},
        {{QStringLiteral("-DEV")}, "mem(maxsize=2048)", false},
        {{QStringLiteral("-Minimize")}, "mem(maxsize=2048)", false},
        {{QString()}, "mem(maxsize=2048)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        ResetLog();
        SetLogDestination(c.args);
        EXPECT_EQ(TLog::Enabled(), c.connections != nullptr);
        EXPECT_EQ(TLog::Instance().Connections(),
                  c.connections ? QString::fromLatin1(c.connections) : QString());
        EXPECT_EQ(StartsMinimized(c.args), c.minimized);
    }
}

TEST_F(GlobalsTest, GlobalTextsTakeTheServiceHostFromTheSettings)
{
    const struct
    {
        const char* setting; // nullptr: no value
        const char* host;
        const char* base;
    } cases[] = {
        {nullptr, BIDLARK_SERVICE_HOST, "http://" BIDLARK_SERVICE_HOST},
        {"svc.example.com:9000", "svc.example.com:9000", "http://svc.example.com:9000"},
        {"https://svc.example.com/", "svc.example.com", "https://svc.example.com"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        TRegistry reg;
        reg.OpenKey(Settings::kSettingsKey, true);
        if (c.setting)
            reg.WriteString(QStringLiteral("servicehost"), QString::fromLatin1(c.setting));
        else
            reg.DeleteValue(QStringLiteral("servicehost"));
        reg.CloseKey();

        SetGlobalTexts();
        EXPECT_EQ(gbWebHost, QString::fromLatin1(c.host));
        EXPECT_EQ(gbWebBase, QString::fromLatin1(c.base));
        EXPECT_EQ(gbAppTitle, QStringLiteral("Bidlark"));
        EXPECT_EQ(gbTemplateFile, QStringLiteral("_mytmpf.dat"));
    }
    EXPECT_EQ(gbAppName, QStringLiteral("Bidlark"));
    EXPECT_STREQ(kBidlarkVersion, "2.0.0");
    EXPECT_EQ(kBidlarkBuild, 63);
}

} // namespace
