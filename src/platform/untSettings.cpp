#include "untSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>

#include <mutex>

namespace {
const QString kServiceHostValue = QStringLiteral("servicehost");
const QString kInstallIdValue = QStringLiteral("installid");
const QString kAffiliateBaseValue = QStringLiteral("affiliatebase");
const QString kCampaignIdValue = QStringLiteral("campaignid");
} // namespace

TRegistry::TRegistry()
{
#ifdef Q_OS_WIN
    fStore =
        std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER"), QSettings::NativeFormat);
#else
    fStore = std::make_unique<QSettings>(StorePath(), QSettings::IniFormat);
#endif
}

TRegistry::~TRegistry() = default;

QString TRegistry::StorePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Vendaro/registry.ini");
}

QString TRegistry::Group(const QString& key) const
{
    QString group = key;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.endsWith(QLatin1Char('/')))
        group.chop(1);
    while (group.startsWith(QLatin1Char('/')))
        group.remove(0, 1);
    return group;
}

bool TRegistry::KeyExists(const QString& key) const
{
    const QString group = Group(key);
    fStore->sync();
    fStore->beginGroup(group);
    const bool exists = !fStore->childKeys().isEmpty() || !fStore->childGroups().isEmpty();
    fStore->endGroup();
    return exists;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate)
{
    CloseKey();
    if (!canCreate && !KeyExists(key))
        return false;
    fKey = Group(key);
    return true;
}

void TRegistry::CloseKey()
{
    if (!fKey.isEmpty())
        fStore->sync();
    fKey.clear();
}

bool TRegistry::ValueExists(const QString& name) const
{
    return !fKey.isEmpty() && fStore->contains(fKey + QLatin1Char('/') + name);
}

QString TRegistry::ReadString(const QString& name) const
{
    return fKey.isEmpty() ? QString() : fStore->value(fKey + QLatin1Char('/') + name).toString();
}

qint32 TRegistry::ReadInteger(const QString& name) const
{
    return fKey.isEmpty() ? 0 : fStore->value(fKey + QLatin1Char('/') + name).toInt();
}

bool TRegistry::ReadBool(const QString& name) const
{
    return ReadInteger(name) != 0;
}

void TRegistry::WriteString(const QString& name, const QString& value)
{
    if (!fKey.isEmpty())
        fStore->setValue(fKey + QLatin1Char('/') + name, value);
}

void TRegistry::WriteInteger(const QString& name, qint32 value)
{
    if (!fKey.isEmpty())
        fStore->setValue(fKey + QLatin1Char('/') + name, value);
}

void TRegistry::WriteBool(const QString& name, bool value)
{
    WriteInteger(name, value ? 1 : 0);
}

bool TRegistry::DeleteValue(const QString& name)
{
    if (!ValueExists(name))
        return false;
    fStore->remove(fKey + QLatin1Char('/') + name);
    return true;
}

namespace Settings {

namespace {
std::optional<QString> ReadOptionalString(const QString& key, const QString& name)
{
    TRegistry reg;
    if (!reg.OpenKey(key, false) || !reg.ValueExists(name))
        return std::nullopt;
    return reg.ReadString(name);
}
} // namespace

int AlertSound()
{
    TRegistry reg;
    if (!reg.OpenKey(kSettingsKey, false) || !reg.ValueExists(QStringLiteral("alerts")))
        return 0;
    return reg.ReadInteger(QStringLiteral("alerts"));
}

void SetAlertSound(int index)
{
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    reg.WriteInteger(QStringLiteral("alerts"), index);
}

std::optional<QString> UserName()
{
    return ReadOptionalString(kSettingsKey, QStringLiteral("Name"));
}

std::optional<QString> UserEmail()
{
    return ReadOptionalString(kSettingsKey, QStringLiteral("Email"));
}

bool DeleteDlcats()
{
    TRegistry reg;
    if (!reg.OpenKey(kSettingsKey, false))
        return false;
    reg.DeleteValue(QStringLiteral("dlcats"));
    return true;
}

ProxyValues ReadProxy()
{
    ProxyValues values;
    TRegistry reg;
    if (!reg.OpenKey(kProxyKey, false))
        return values;
    if (reg.ValueExists(QStringLiteral("useproxy")))
        values.useProxy = reg.ReadBool(QStringLiteral("useproxy"));
    if (reg.ValueExists(QStringLiteral("proxyserv")))
        values.server = reg.ReadString(QStringLiteral("proxyserv"));
    if (reg.ValueExists(QStringLiteral("proxyport")))
        values.port = reg.ReadString(QStringLiteral("proxyport"));
    return values;
}

void WriteProxy(bool useProxy, const QString& server, const QString& port)
{
    TRegistry reg;
    reg.OpenKey(kProxyKey, true);
    reg.WriteBool(QStringLiteral("useproxy"), useProxy);
    reg.WriteString(QStringLiteral("proxyserv"), server);
    reg.WriteString(QStringLiteral("proxyport"), port);
}

QString ServiceBaseUrl()
{
    QString host =
        ReadOptionalString(kSettingsKey, kServiceHostValue).value_or(QString()).trimmed();
    if (host.isEmpty())
        host = QStringLiteral(BIDLARK_SERVICE_HOST);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (!host.contains(QStringLiteral("://")))
        host = QStringLiteral("http://") + host;
    return host;
}

QString InstallationId()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    QString id = reg.ReadString(kInstallIdValue);
    if (id.isEmpty()) {
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        reg.WriteString(kInstallIdValue, id);
    }
    return id;
}

QString AffiliateBase()
{
    const QString value =
        ReadOptionalString(kSettingsKey, kAffiliateBaseValue).value_or(QString()).trimmed();
    return value.isEmpty() ? QStringLiteral("https://rover.ebay.com") : value;
}

QString CampaignId()
{
    const QString value =
        ReadOptionalString(kSettingsKey, kCampaignIdValue).value_or(QString()).trimmed();
    return value.isEmpty() ? QStringLiteral("5336224516") : value;
}

} // namespace Settings
