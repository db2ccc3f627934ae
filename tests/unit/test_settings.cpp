#include "untSettings.h"

#include "TestEnv.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    static void Write(const QString& key, const QString& name, const QString& value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(name, value);
        reg.CloseKey();
    }
    static QString StoreText()
    {
        QFile file(TRegistry::StorePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    TTestEnv fEnv;
};

TEST_F(SettingsTest, RegistryRoundTripsTypedValuesInTheIsolatedStore)
{
    EXPECT_EQ(TRegistry::StorePath(), fEnv.ConfigHome() + QStringLiteral("/Vendaro/registry.ini"));
    {
        TRegistry reg;
        EXPECT_FALSE(reg.OpenKey(Settings::kSettingsKey, false)) << "missing key, not created";
        EXPECT_FALSE(reg.KeyExists(Settings::kSettingsKey));
        ASSERT_TRUE(reg.OpenKey(Settings::kSettingsKey, true));
        reg.WriteString(QStringLiteral("Name"), QStringLiteral("Ann = \"x\"; [y]\\z"));
        reg.WriteInteger(QStringLiteral("alerts"), -42);
        reg.WriteBool(QStringLiteral("flag"), true);
        reg.CloseKey();
    }
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists(Settings::kSettingsKey));
    EXPECT_FALSE(reg.KeyExists(Settings::kProxyKey)) << "a sibling key stays absent";
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Vendaro\\Bidlark"), false))
        << "the trailing delimiter does not matter";
    EXPECT_EQ(reg.ReadString(QStringLiteral("Name")), QStringLiteral("Ann = \"x\"; [y]\\z"));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("alerts")), -42);
    EXPECT_TRUE(reg.ReadBool(QStringLiteral("flag")));
    EXPECT_TRUE(reg.ValueExists(QStringLiteral("flag")));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("nothing")));
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("nothing")), 0);
    EXPECT_TRUE(reg.DeleteValue(QStringLiteral("flag")));
    EXPECT_FALSE(reg.DeleteValue(QStringLiteral("flag")));
    reg.CloseKey();
    EXPECT_FALSE(StoreText().contains(QStringLiteral("flag")));
    EXPECT_TRUE(StoreText().contains(QStringLiteral("alerts=-42")));
}

TEST_F(SettingsTest, InventoryAccessorsAndTheirDefaults)
{
    EXPECT_EQ(Settings::AlertSound(), 0);
    EXPECT_FALSE(Settings::UserName());
    EXPECT_FALSE(Settings::UserEmail());
    EXPECT_FALSE(Settings::DeleteDlcats()) << "no key: nothing to do, no error";

    Settings::SetAlertSound(3);
    EXPECT_EQ(Settings::AlertSound(), 3);
    Write(Settings::kSettingsKey, QStringLiteral("Name"), QStringLiteral("Alice"));
    Write(Settings::kSettingsKey, QStringLiteral("dlcats"), QStringLiteral("1|2"));
    EXPECT_EQ(Settings::UserName(), QStringLiteral("Alice"));
    EXPECT_FALSE(Settings::UserEmail());

    EXPECT_TRUE(Settings::DeleteDlcats());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Settings::kSettingsKey, false));
    EXPECT_FALSE(reg.ValueExists(QStringLiteral("dlcats")));
    EXPECT_TRUE(reg.ValueExists(QStringLiteral("Name")));
    EXPECT_TRUE(Settings::DeleteDlcats()) << "a missing value is no error either";

    const QString id = Settings::InstallationId();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"))
                    .match(id)
                    .hasMatch())
        << id.toStdString();
    EXPECT_EQ(Settings::InstallationId(), id);
    EXPECT_FALSE(Settings::AffiliateBase().isEmpty());
    EXPECT_FALSE(Settings::CampaignId().isEmpty());
}

TEST_F(SettingsTest, ProxyValuesKeepWhatIsAbsent)
{
    Settings::ProxyValues none = Settings::ReadProxy();
    EXPECT_FALSE(none.useProxy);
    EXPECT_FALSE(none.server);
    EXPECT_FALSE(none.port);

    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Settings::kProxyKey, true));
        reg.WriteInteger(QStringLiteral("useproxy"), 1);
    }
    const Settings::ProxyValues only = Settings::ReadProxy();
    EXPECT_EQ(only.useProxy, true);
    EXPECT_FALSE(only.server);
    EXPECT_FALSE(only.port);

    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Settings::kProxyKey, true));
        reg.WriteInteger(QStringLiteral("useproxy"), 7);
    }
    EXPECT_EQ(Settings::ReadProxy().useProxy, true) << "any non-zero value reads as true";

    Settings::WriteProxy(false, QStringLiteral("proxy.local"), QStringLiteral("3128"));
    const Settings::ProxyValues all = Settings::ReadProxy();
    EXPECT_EQ(all.useProxy, false);
    EXPECT_EQ(all.server, QStringLiteral("proxy.local"));
    EXPECT_EQ(all.port, QStringLiteral("3128"));
    EXPECT_TRUE(StoreText().contains(QStringLiteral("useproxy=0"))) << "a boolean is an integer";
}

TEST_F(SettingsTest, ServiceHostWithAndWithoutScheme)
{
    const struct
    {
        const char* value; // nullptr: absent
        const char* url;
    } cases[] = {
        {nullptr, "http://" BIDLARK_SERVICE_HOST},
        {"", "http://" BIDLARK_SERVICE_HOST},
        {"  ", "http://" BIDLARK_SERVICE_HOST},
        {"bidlark.example.com", "http://bidlark.example.com"},
        {"10.0.0.2:8470/", "http://10.0.0.2:8470"},
        {"https://bidlark.example.com", "https://bidlark.example.com"},
        {"HTTP://Host:1/", "HTTP://Host:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        if (c.value)
            Write(Settings::kSettingsKey, QStringLiteral("servicehost"),
                  QString::fromLatin1(c.value));
        EXPECT_EQ(Settings::ServiceBaseUrl(), QString::fromLatin1(c.url));
    }
}

} // namespace
